// Throughput of sockpump against the plain copy limit.
//
//   sockpump_bench [MiB] [rounds] [path/to/sockpump]   (default 1024 MiB, 3 rounds)
//
// Streams MiB of 1,024-byte TPKT frames into a loopback TCP connection whose
// receiving socket sockpump owns, and reads its pipe until the end message.
// The limit is `cat` moving the same bytes from a pipe into a pipe; `cat`
// reading the same loopback socket is shown too. Every figure counts the
// frame bytes sent, so the ratio compares like with like. The three runs
// alternate for the given rounds and the best time of each counts, which
// keeps a shared, busy machine from deciding the ratio.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned kFrame = 1024;
constexpr size_t kChunk = 1 << 20;  // 1,024 frames
constexpr int kChildIn = 200, kChildOut = 201;

[[noreturn]] void die(const char *what) {
    std::perror(what);
    std::exit(2);
}

std::vector<std::uint8_t> frameChunk() {
    std::vector<std::uint8_t> chunk(kChunk);
    for (size_t off = 0; off < kChunk; off += kFrame) {
        chunk[off] = 3;
        chunk[off + 1] = 0;
        chunk[off + 2] = kFrame >> 8;
        chunk[off + 3] = kFrame & 0xff;
        for (unsigned i = 4; i < kFrame; ++i) chunk[off + i] = std::uint8_t(off / kFrame + i);
    }
    return chunk;
}

// Starts argv with `in` and `out` at fixed descriptor numbers (or as stdin and
// stdout when asStdio).
pid_t spawn(std::vector<std::string> args, int in, int out, bool asStdio) {
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) die("fork");
    if (pid == 0) {
        dup2(in, asStdio ? 0 : kChildIn);
        dup2(out, asStdio ? 1 : kChildOut);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

struct Loopback {
    int sender = -1, receiver = -1;
};

Loopback loopbackPair() {
    int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    if (l < 0 || bind(l, reinterpret_cast<sockaddr *>(&sin), sizeof sin) != 0 || listen(l, 1) != 0 ||
        getsockname(l, reinterpret_cast<sockaddr *>(&sin), &len) != 0)
        die("loopback listener");
    Loopback p;
    p.sender = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(p.sender, reinterpret_cast<sockaddr *>(&sin), sizeof sin) != 0) die("connect");
    p.receiver = accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
    if (p.receiver < 0) die("accept");
    close(l);
    return p;
}

struct Result {
    double seconds = 0;
    double cpu = 0;  // the child's own user + system time
    size_t outBytes = 0;
    int status = -1;
};

// Writes `total` frame bytes into `in`, closing it after; reads `out` until
// end of file; waits for the child.
Result pump(int in, bool inIsSocket, int out, pid_t child, size_t total, const std::vector<std::uint8_t> &chunk) {
    auto start = std::chrono::steady_clock::now();
    std::thread sender([&] {
        for (size_t sent = 0; sent < total;) {
            size_t n = std::min(chunk.size(), total - sent);
            ssize_t w = inIsSocket ? send(in, chunk.data(), n, MSG_NOSIGNAL) : write(in, chunk.data(), n);
            if (w <= 0) die("send");
            sent += size_t(w);
            if (size_t(w) < n) {  // keep the frame grid: finish this chunk first
                size_t done = size_t(w);
                while (done < n) {
                    ssize_t m = inIsSocket ? send(in, chunk.data() + done, n - done, MSG_NOSIGNAL)
                                           : write(in, chunk.data() + done, n - done);
                    if (m <= 0) die("send");
                    done += size_t(m);
                    sent += size_t(m);
                }
            }
        }
        if (inIsSocket)
            shutdown(in, SHUT_WR);
        else
            close(in);
    });
    Result r;
    std::vector<std::uint8_t> buf(1 << 18);
    for (;;) {
        ssize_t n = read(out, buf.data(), buf.size());
        if (n < 0) die("read");
        if (n == 0) break;
        r.outBytes += size_t(n);
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sender.join();
    int status = 0;
    rusage ru{};
    wait4(child, &status, 0, &ru);
    r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

Result runSockpump(const std::string &path, size_t total, const std::vector<std::uint8_t> &chunk) {
    Loopback lp = loopbackPair();
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) die("pipe");
    pid_t child = spawn({path, "1", std::to_string(kChildIn), "0", std::to_string(kFrame), std::to_string(kChildOut),
                         "0", "0"},
                        lp.receiver, p[1], false);
    close(lp.receiver);
    close(p[1]);
    Result r = pump(lp.sender, true, p[0], child, total, chunk);
    close(lp.sender);
    close(p[0]);
    return r;
}

Result runCat(bool fromSocket, size_t total, const std::vector<std::uint8_t> &chunk) {
    int in = -1, childIn = -1;
    if (fromSocket) {
        Loopback lp = loopbackPair();
        in = lp.sender;
        childIn = lp.receiver;
    } else {
        int q[2];
        if (pipe2(q, O_CLOEXEC) != 0) die("pipe");
        in = q[1];
        childIn = q[0];
    }
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) die("pipe");
    pid_t child = spawn({"/bin/cat"}, childIn, p[1], true);
    close(childIn);
    close(p[1]);
    Result r = pump(in, fromSocket, p[0], child, total, chunk);
    if (fromSocket) close(in);
    close(p[0]);
    return r;
}

}  // namespace

int main(int argc, char **argv) {
    size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string path = argc > 3 ? argv[3] : SOCKPUMP_PATH;
    if (mib == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: %s [MiB] [rounds] [sockpump]\n", argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const size_t total = mib * kChunk;
    const size_t frames = total / kFrame;
    const size_t expected = frames * (kFrame + 11) + 11;
    const auto chunk = frameChunk();

    Result sp, catPipe, catSock;
    sp.seconds = catPipe.seconds = catSock.seconds = 1e30;
    auto keepBest = [](Result &best, const Result &r) {
        if (r.seconds < best.seconds) best = r;
    };
    for (int round = 0; round < rounds; ++round) {
        Result r = runSockpump(path, total, chunk);
        if (r.status != 1 || r.outBytes != expected) {
            std::fprintf(stderr, "sockpump: exit %d, %zu bytes out, %zu expected\n", r.status, r.outBytes, expected);
            return 1;
        }
        keepBest(sp, r);
        Result p = runCat(false, total, chunk);
        Result s = runCat(true, total, chunk);
        if (p.outBytes != total || s.outBytes != total) {
            std::fprintf(stderr, "cat did not pass every byte\n");
            return 1;
        }
        keepBest(catPipe, p);
        keepBest(catSock, s);
    }

    // CPU seconds per GB of the copying process itself: what the busy
    // machine cannot distort.
    auto mbps = [&](const Result &r) { return double(total) / r.seconds / 1e6; };
    auto cpuPerGB = [&](const Result &r) { return r.cpu / (double(total) / 1e9); };
    std::printf("%zu MiB in %zu frames of %u bytes, best of %d rounds\n", mib, frames, kFrame, rounds);
    std::printf("sockpump (loopback TCP -> pipe): %7.3f s %9.0f frames/s %8.1f MB/s  cpu %.3f s/GB\n", sp.seconds,
                double(frames) / sp.seconds, mbps(sp), cpuPerGB(sp));
    std::printf("cat      (pipe -> pipe), limit:  %7.3f s %9s          %8.1f MB/s  cpu %.3f s/GB\n", catPipe.seconds,
                "", mbps(catPipe), cpuPerGB(catPipe));
    std::printf("cat      (loopback TCP -> pipe): %7.3f s %9s          %8.1f MB/s  cpu %.3f s/GB\n", catSock.seconds,
                "", mbps(catSock), cpuPerGB(catSock));
    std::printf("sockpump / limit: %.0f %% (target at least 70 %%); sockpump / cat on the same socket: %.0f %%\n",
                100.0 * mbps(sp) / mbps(catPipe), 100.0 * mbps(sp) / mbps(catSock));
    return 0;
}
