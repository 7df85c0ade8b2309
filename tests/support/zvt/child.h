// A child process of a test or benchmark: started with its arguments, its
// standard output in a pipe the parent reads (or in a file), descriptors
// handed to it at fixed numbers; signalled, killed and reaped when it goes.
// No test framework inside, so the benchmarks use it too.
#pragma once

#include "base/unique_fd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "zvt/wait.h"

namespace zvt {

using Fd = zv::UniqueFd;

// A pipe whose ends are close-on-exec (both invalid when none can be made).
inline std::pair<Fd, Fd> make_pipe() {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return {};
    return {Fd(p[0]), Fd(p[1])};
}

// How a child starts and stops.
struct ChildOptions {
    std::vector<std::pair<int, int>> fds;  // (source, target): source appears in the child as target
    std::string output;                    // standard output and error into this file ("": a pipe, out())
    std::string cwd;                       // working folder ("": the parent's)
    int fd_limit = 0;                      // RLIMIT_NOFILE of the child (0: inherited)
    int stop_signal = SIGKILL;             // what the destructor sends
};

class Child {
public:
    using Options = ChildOptions;

    Child() = default;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child() { stop(stop_signal_); }

    // Starts `path` with `args`; false when no process could be made.
    bool start(const std::string &path, const std::vector<std::string> &args, const Options &o = ChildOptions()) {
        stop(stop_signal_);
        stop_signal_ = o.stop_signal;
        auto [outR, outW] = make_pipe();
        Fd file;
        if (!o.output.empty()) file.reset(::open(o.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        // Built before the fork: the child of a process with threads may only
        // make async-signal-safe calls (an allocation can wait for ever on a
        // lock another thread held at the fork).
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(path.c_str()));
        for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            ::signal(SIGPIPE, SIG_DFL);
            if (o.fd_limit > 0) {
                rlimit rl{rlim_t(o.fd_limit), rlim_t(o.fd_limit)};
                ::setrlimit(RLIMIT_NOFILE, &rl);
            }
            if (!o.cwd.empty() && ::chdir(o.cwd.c_str()) != 0) ::_exit(126);
            if (file) {
                ::dup2(file.get(), 1);
                ::dup2(file.get(), 2);
            } else {
                ::dup2(outW.get(), 1);
            }
            // dup2 onto the same number keeps close-on-exec: clear it then.
            for (auto [src, dst] : o.fds) src == dst ? ::fcntl(dst, F_SETFD, 0) : ::dup2(src, dst);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        out_ = std::move(outR);
        return true;
    }

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    // Read end of the child's standard output (when it goes to a pipe).
    Fd &out() { return out_; }

    void signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    // Exit status, or -signal; -1000 (and the child killed) when it did not
    // end within `ms`.
    int wait(int ms = 5000) {
        if (pid_ <= 0) return -1001;
        int status = 0;
        if (!eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, ms)) {
            stop(SIGKILL);
            return -1000;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    // Sends `sig` and reaps the child.
    void stop(int sig) {
        if (pid_ <= 0) return;
        ::kill(pid_, sig);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    Fd out_;
    int stop_signal_ = SIGKILL;
};

// What a shell command prints on its standard output.
inline std::string run(const std::string &cmd) {
    std::string out;
    if (FILE *p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// Whether `fd` has something to read within `ms`.
inline bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

// What `fd` gives until `done(text)` holds, end of file, or `ms` passed.
template <class Done>
std::string read_until(int fd, Done done, int ms) {
    std::string text;
    char buf[512];
    const int64_t end = now_ms() + ms;
    while (!done(text) && now_ms() < end) {
        if (!readable(fd, 100)) continue;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, size_t(n));
    }
    return text;
}

}  // namespace zvt
