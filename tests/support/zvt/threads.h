// What a thread of this process is doing, from /proc/self/task: a test waits
// until a worker really sleeps where it should before it acts (a stop that
// must wake it, a waiter that must be woken), instead of sleeping and hoping.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zvt {

// The calling thread's kernel id.
inline pid_t thread_id() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// Kernel ids of this process's threads named `name` (QThread names its
// thread after its object name or class; pthread_setname_np).
inline std::vector<pid_t> threads_named(const std::string &name) {
    std::vector<pid_t> out;
    if (DIR *d = ::opendir("/proc/self/task")) {
        while (dirent *e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string comm;
            std::getline(f, comm);
            if (comm == name) out.push_back(static_cast<pid_t>(std::atoi(e->d_name)));
        }
        ::closedir(d);
    }
    return out;
}

// True while thread `tid` of this process is blocked in a futex wait with a
// time limit: a timed condition wait (QWaitCondition::wait(ms),
// std::condition_variable::wait_for), not a mutex it is about to get.
// /proc/<pid>/task/<tid>/syscall: number, then the arguments in hex.
inline bool in_timed_wait(pid_t tid) {
    std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/syscall");
    std::string line;
    if (!std::getline(f, line)) return false;
    std::istringstream in(line);
    long number = -1;
    std::string uaddr, op, val, timeout;
    if (!(in >> number >> uaddr >> op >> val >> timeout)) return false;
    return number == SYS_futex && std::strtoull(timeout.c_str(), nullptr, 16) != 0;
}

}  // namespace zvt
