// sockpump driven as its parent drives it: a socket and a pipe handed down,
// frames sent by a real peer (socketpair or loopback TCP), messages read back
// from the pipe.
#include "child_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace helpers_test;

namespace {

const std::string kSockpump = SOCKPUMP_PATH;
constexpr int kSockFd = 200, kPipeFd = 201;

struct Message {
    std::int32_t id = 0, error = 0;
    Bytes frame;
};

// One TPKT frame of the given total length with a recognisable body.
Bytes frame(unsigned length, std::uint8_t seed = 0) {
    Bytes f(length);
    f[0] = 3;
    f[1] = 0;
    f[2] = std::uint8_t(length >> 8);
    f[3] = std::uint8_t(length);
    for (unsigned i = 4; i < length; ++i) f[i] = std::uint8_t(i * 7 + seed);
    return f;
}

Bytes prefix(Bytes b, size_t n) {
    b.resize(n);
    return b;
}

// Splits a pipe byte stream into messages; fails on a torn message.
std::vector<Message> parse(const Bytes &stream) {
    std::vector<Message> out;
    size_t pos = 0;
    while (pos < stream.size()) {
        if (stream.size() - pos < 11) {
            ADD_FAILURE() << "torn header at " << pos;
            break;
        }
        Message m;
        std::uint16_t len;
        std::memcpy(&m.id, &stream[pos], 4);
        std::memcpy(&m.error, &stream[pos + 4], 4);
        std::memcpy(&len, &stream[pos + 8], 2);
        if (stream.size() - pos < size_t(len) + 11) {
            ADD_FAILURE() << "torn frame of " << len << " bytes at " << pos;
            break;
        }
        m.frame.assign(stream.begin() + long(pos) + 10, stream.begin() + long(pos) + 10 + len);
        out.push_back(std::move(m));
        pos += len + 11;
    }
    return out;
}

Message readMessage(int fd) {
    Bytes head = readBytes(fd, 10);
    Message m;
    if (head.size() != 10) {
        ADD_FAILURE() << "no message";
        m.id = -1;
        return m;
    }
    std::uint16_t len;
    std::memcpy(&m.id, &head[0], 4);
    std::memcpy(&m.error, &head[4], 4);
    std::memcpy(&len, &head[8], 2);
    Bytes rest = readBytes(fd, size_t(len) + 1);
    EXPECT_EQ(rest.size(), size_t(len) + 1) << "message shorter than length + 11";
    rest.resize(len);
    m.frame = std::move(rest);
    return m;
}

// The address argument: the four address bytes in memory order, read as a
// host-order signed integer.
std::string addressArgument(const char *dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    std::int32_t v;
    std::memcpy(&v, &a.s_addr, 4);
    return std::to_string(v);
}

Fd loopbackListener(const char *address, std::uint16_t port) {
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int one = 1;
    ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    inet_pton(AF_INET, address, &sin.sin_addr);
    if (::bind(s.get(), reinterpret_cast<sockaddr *>(&sin), sizeof sin) != 0 || ::listen(s.get(), 4) != 0) return Fd();
    return s;
}

// Waits until pid sits in the given system call (blocked there).
bool waitInSyscall(pid_t pid, long number) {
    const std::string path = "/proc/" + std::to_string(pid) + "/syscall";
    for (int i = 0; i < kWaitMs / 5; ++i) {
        char buf[64] = {};
        if (FILE *f = std::fopen(path.c_str(), "r")) {
            size_t n = std::fread(buf, 1, sizeof buf - 1, f);
            std::fclose(f);
            if (n > 0 && std::strtol(buf, nullptr, 10) == number) return true;
        }
        ::usleep(5000);
    }
    return false;
}

// True while `sig` is pending for process `pid`: sent, not yet taken
// (blocked). /proc/<pid>/status: SigPnd (thread) and ShdPnd (process), hex
// masks with bit sig-1.
bool signalPending(pid_t pid, int sig) {
    std::FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (f == nullptr) return false;
    char line[256];
    bool pending = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "SigPnd:", 7) == 0 || std::strncmp(line, "ShdPnd:", 7) == 0)
            pending = pending || ((std::strtoull(line + 7, nullptr, 16) >> (sig - 1)) & 1u) != 0;
    }
    std::fclose(f);
    return pending;
}

std::uint16_t boundPort(int fd) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len);
    return ntohs(sin.sin_port);
}

class Sockpump : public ::testing::Test {
protected:
    Fd peer;      // the far end of the connection
    Fd messages;  // read end of the parent's pipe
    Child child;

    // Starts sockpump on one end of a socketpair, already connected.
    void startConnected(unsigned maxLen, std::int32_t id = 7) {
        int sv[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        peer.reset(sv[0]);
        Fd mine(sv[1]);
        start({std::to_string(id), std::to_string(kSockFd), "0", std::to_string(maxLen), std::to_string(kPipeFd), "0",
               "0"},
              mine.get());
    }

    void start(const std::vector<std::string> &args, int sock) {
        auto [r, w] = makePipe();
        child.start(kSockpump, args, {{sock, kSockFd}, {w.get(), kPipeFd}});
        messages = std::move(r);
    }

    void send(const Bytes &b) { sendAll(peer.get(), b.data(), b.size()); }

    void expectEndOfStream(std::int32_t id = 7) {
        Message end = readMessage(messages.get());
        EXPECT_EQ(end.id, id);
        EXPECT_EQ(end.error, 0);
        EXPECT_TRUE(end.frame.empty()) << "expected the end message, got a frame";
        EXPECT_TRUE(readToEnd(messages.get()).empty()) << "bytes after the end message";
        EXPECT_EQ(child.wait(), 1);
    }
};

}  // namespace

struct CommandLineCase {
    const char *name;
    std::vector<std::string> args;
    const char *output;
};

void PrintTo(const CommandLineCase &c, std::ostream *os) { *os << c.name; }

class SockpumpCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(SockpumpCommandLine, IsRefusedWithMessageAndStatus99) {
    auto [r, w] = makePipe();
    Child child;
    child.start(kSockpump, GetParam().args, {{w.get(), kPipeFd}});
    w.reset();
    EXPECT_EQ(readText(child.out().get()), kSockpump + GetParam().output);
    EXPECT_EQ(child.wait(), 99);
    EXPECT_TRUE(readToEnd(r.get()).empty()) << "nothing goes to the pipe";
}

INSTANTIATE_TEST_SUITE_P(
    , SockpumpCommandLine,
    ::testing::Values(CommandLineCase{"NoArguments", {}, ": FATAL ERROR: number of arguments (0) incorrect.\n"},
                      CommandLineCase{"SixArguments",
                                      {"1", "3", "0", "1024", "201", "0"},
                                      ": FATAL ERROR: number of arguments (6) incorrect.\n"},
                      CommandLineCase{"EightArguments",
                                      {"1", "3", "0", "1024", "201", "0", "0", "0"},
                                      ": FATAL ERROR: number of arguments (8) incorrect.\n"},
                      CommandLineCase{"DescriptorWithoutDigits",
                                      {"1", "sock", "0", "1024", "201", "0", "0"},
                                      ": FATAL ERROR: argument 2 (\"sock\") is not a decimal number.\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Sockpump, ForwardsFramesWholeAndInOrderAcrossPartialSends) {
    startConnected(65535, -5);
    const std::vector<unsigned> lengths{1024, 4, 7, 4096, 4085, 5000, 65535, 300, 4};
    Bytes stream;
    for (size_t i = 0; i < lengths.size(); ++i) {
        Bytes f = frame(lengths[i], std::uint8_t(i));
        stream.insert(stream.end(), f.begin(), f.end());
    }
    // Half a header, then half a frame: neither may produce a message yet.
    send(Bytes(stream.begin(), stream.begin() + 2));
    EXPECT_FALSE(readable(messages.get(), kQuietMs));
    send(Bytes(stream.begin() + 2, stream.begin() + 600));
    EXPECT_FALSE(readable(messages.get(), kQuietMs));
    size_t pos = 600;
    for (size_t chunk = 1; pos < stream.size(); chunk = chunk * 3 + 1) {
        size_t n = std::min(chunk, stream.size() - pos);
        sendAll(peer.get(), &stream[pos], n);
        pos += n;
    }
    for (size_t i = 0; i < lengths.size(); ++i) {
        Message m = readMessage(messages.get());
        EXPECT_EQ(m.id, -5);
        EXPECT_EQ(m.error, 0);
        EXPECT_EQ(m.frame, frame(lengths[i], std::uint8_t(i))) << "frame " << i;
    }
    peer.reset();
    expectEndOfStream(-5);
}

// How a stream ends: whole frames before the end are forwarded, nothing after.
struct StreamEndCase {
    const char *name;
    unsigned maxLen;
    std::vector<unsigned> frames;  // forwarded before the end
    Bytes tail;                    // what ends the stream
    bool peerCloses;               // otherwise a valid frame follows the tail and the peer stays
};

void PrintTo(const StreamEndCase &c, std::ostream *os) { *os << c.name; }

class SockpumpStreamEnd : public Sockpump, public ::testing::WithParamInterface<StreamEndCase> {};

TEST_P(SockpumpStreamEnd, ForwardsWholeFramesThenOneEndMessage) {
    const StreamEndCase &c = GetParam();
    startConnected(c.maxLen);
    for (unsigned len : c.frames) send(frame(len));
    send(c.tail);
    if (c.peerCloses)
        peer.reset();
    else
        send(frame(20));
    for (unsigned len : c.frames) EXPECT_EQ(readMessage(messages.get()).frame, frame(len));
    expectEndOfStream();
}

INSTANTIATE_TEST_SUITE_P(
    , SockpumpStreamEnd,
    ::testing::Values(StreamEndCase{"PeerClosesBetweenFrames", 1024, {100, 1024}, {}, true},
                      StreamEndCase{"PeerClosesInsideHeader", 1024, {100}, {3, 0}, true},
                      StreamEndCase{"PeerClosesInsideFrame", 1024, {100}, prefix(frame(600), 300), true},
                      StreamEndCase{"VersionNotThree", 1024, {1024}, {2, 0, 0, 20}, false},
                      StreamEndCase{"LengthZero", 1024, {20}, {3, 0, 0, 0}, false},
                      // A length inside the header would make the next header overlap it.
                      StreamEndCase{"LengthBelowHeaderSize", 1024, {4}, {3, 0, 0, 3}, false},
                      StreamEndCase{"LengthOneAboveMaximum", 1024, {1024}, {3, 0, 4, 1}, false},
                      StreamEndCase{"LengthOneAboveLargeMaximum", 65534, {65534}, {3, 0, 0xff, 0xff}, false},
                      // Only the low 16 bits of the maximum count: 65536 + 100 is 100.
                      StreamEndCase{"MaximumTakesLow16Bits", 65536 + 100, {100}, {3, 0, 0, 101}, false},
                      StreamEndCase{"ZeroMaximumRefusesFirstFrame", 0, {}, {3, 0, 0, 4}, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Sockpump, InterruptSignalIsIgnored) {
    startConnected(1024);
    send(frame(10));
    EXPECT_EQ(readMessage(messages.get()).frame, frame(10));
    ::kill(child.pid(), SIGINT);
    send(frame(11));
    EXPECT_EQ(readMessage(messages.get()).frame, frame(11));
    peer.reset();
    expectEndOfStream();
}

TEST_F(Sockpump, StopSignalWhileIdleSendsOneEndMessage) {
    startConnected(1024);
    send(frame(10));
    EXPECT_EQ(readMessage(messages.get()).frame, frame(10));
    ::kill(child.pid(), SIGUSR1);
    expectEndOfStream();
}

// Guards against the end message landing inside a half-written frame message:
// the pipe is full, sockpump is in the middle of writing a 64 KiB frame when
// the stop arrives.
TEST_F(Sockpump, StopSignalDuringTrafficNeverCutsAFrame) {
    startConnected(65535);
    std::atomic<bool> done{false};
    std::thread sender([&] {
        Bytes f = frame(65535);
        while (!done) {
            ssize_t w = ::send(peer.get(), f.data(), f.size(), MSG_NOSIGNAL);
            if (w < 0) break;
        }
    });
    ASSERT_TRUE(readable(messages.get(), kWaitMs));  // past start-up
    // The pipe fills up: sockpump blocks in the write of a frame.
    ASSERT_TRUE(waitInSyscall(child.pid(), SYS_write)) << "sockpump never blocked on the full pipe";
    ::kill(child.pid(), SIGUSR1);
    // The stop finds the pipe full: it waits, blocked, while the write does.
    EXPECT_TRUE(signalPending(child.pid(), SIGUSR1));
    Bytes stream = readToEnd(messages.get());
    done = true;
    ::shutdown(peer.get(), SHUT_RDWR);
    sender.join();

    std::vector<Message> all = parse(stream);
    ASSERT_GE(all.size(), 2u);
    for (size_t i = 0; i + 1 < all.size(); ++i) ASSERT_EQ(all[i].frame, frame(65535)) << "message " << i;
    EXPECT_TRUE(all.back().frame.empty()) << "last message is the end of stream";
    EXPECT_EQ(child.wait(), 1);
}

// Several pumps may share the parent's pipe: a full pipe must never let one
// pump's message land inside another's.
TEST(SockpumpSharedPipe, MessagesOfTwoPumpsStayWhole) {
    auto [r, w] = makePipe();
    const std::vector<unsigned> lengths{4085, 1000, 3000, 4085, 100, 2048};
    constexpr int kRepeats = 120;
    Child pumps[2];
    Fd peers[2];
    for (int i = 0; i < 2; ++i) {
        int sv[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        peers[i].reset(sv[0]);
        Fd mine(sv[1]);
        pumps[i].start(kSockpump,
                       {std::to_string(i + 1), std::to_string(kSockFd), "0", "4085", std::to_string(kPipeFd), "0", "0"},
                       {{mine.get(), kSockFd}, {w.get(), kPipeFd}});
    }
    w.reset();
    std::vector<std::thread> senders;
    for (int i = 0; i < 2; ++i)
        senders.emplace_back([&, i] {
            for (int k = 0; k < kRepeats; ++k)
                for (unsigned len : lengths) {
                    Bytes f = frame(len, std::uint8_t(k));
                    sendAll(peers[i].get(), f.data(), f.size());
                }
            peers[i].reset();
        });
    // A slow reader keeps the pipe full, so both pumps block inside writes:
    // it pauses after every 64 KiB it reads. The pause is the load under
    // test, not a wait for something.
    constexpr auto kSlowReaderPause = std::chrono::milliseconds(1);
    Bytes stream;
    std::uint8_t buf[4096];
    for (int n = 0; readable(r.get(), kWaitMs); ++n) {
        if (n % 16 == 0) std::this_thread::sleep_for(kSlowReaderPause);
        ssize_t got = ::read(r.get(), buf, sizeof buf);
        if (got <= 0) break;
        stream.insert(stream.end(), buf, buf + got);
    }
    for (auto &t : senders) t.join();

    size_t next[2] = {0, 0};
    bool ended[2] = {false, false};
    for (const Message &m : parse(stream)) {
        ASSERT_TRUE(m.id == 1 || m.id == 2) << "torn message: identifier " << m.id;
        int i = m.id - 1;
        ASSERT_FALSE(ended[i]) << "message after the end of pump " << m.id;
        if (m.frame.empty()) {
            ended[i] = true;
            continue;
        }
        size_t k = next[i]++;
        ASSERT_EQ(m.frame, frame(lengths[k % lengths.size()], std::uint8_t(k / lengths.size())))
            << "pump " << m.id << " message " << k;
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(next[i], lengths.size() * kRepeats);
        EXPECT_TRUE(ended[i]);
        EXPECT_EQ(pumps[i].wait(), 1);
    }
}

TEST_F(Sockpump, RefusedConnectSendsOneStatusWithErrorNumberAndExits95) {
    std::uint16_t port;
    {
        Fd l = loopbackListener("127.0.0.1", 0);
        ASSERT_GE(l.get(), 0);
        port = boundPort(l.get());
    }  // closed: nobody listens there any more
    Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    start({"42", std::to_string(kSockFd), "1", "1024", std::to_string(kPipeFd), addressArgument("127.0.0.1"),
           std::to_string(port)},
          sock.get());
    Bytes all = readToEnd(messages.get());
    ASSERT_EQ(all.size(), 11u);
    std::vector<Message> m = parse(all);
    EXPECT_EQ(m[0].id, 42);
    EXPECT_EQ(m[0].error, ECONNREFUSED);
    EXPECT_TRUE(m[0].frame.empty());
    EXPECT_EQ(child.wait(), 95);
}

// Decision: a stop while the connect is still pending reports that connect
// as failed (EINTR), so the first message keeps meaning "connect status".
TEST_F(Sockpump, StopDuringPendingConnectReportsInterruptedConnect) {
    // A listener whose accept queue is full drops further SYNs: the next
    // connect stays pending.
    Fd listener = loopbackListener("127.0.0.1", 0);
    ASSERT_GE(listener.get(), 0);
    ::listen(listener.get(), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(boundPort(listener.get()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<Fd> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        ::connect(fillers.back().get(), reinterpret_cast<sockaddr *>(&to), sizeof to);
    }
    Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    start({"3", std::to_string(kSockFd), "1", "1024", std::to_string(kPipeFd), addressArgument("127.0.0.1"),
           std::to_string(ntohs(to.sin_port))},
          sock.get());
    ASSERT_TRUE(waitInSyscall(child.pid(), SYS_connect))
        << "connect did not stay pending: the full listener's queue still took it";
    ::kill(child.pid(), SIGUSR1);
    Bytes all = readToEnd(messages.get());
    ASSERT_EQ(all.size(), 11u);
    EXPECT_EQ(parse(all)[0].error, EINTR);
    EXPECT_EQ(child.wait(), 95);
}

// Connects to the address and port given, reports success first, then
// forwards. Address and port are chosen so that a byte-order mistake would
// land on another loopback address (127.x.y.127 reversed stays in 127/8).
struct ConnectCase {
    const char *name;
    const char *address;
    std::uint16_t listenPort;  // 0: any free port, passed on the command line
    bool nonBlocking;          // the parent hands down a non-blocking socket
};

void PrintTo(const ConnectCase &c, std::ostream *os) { *os << c.name; }

class SockpumpConnect : public Sockpump, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(SockpumpConnect, ReportsSuccessThenForwardsFrames) {
    const ConnectCase &c = GetParam();
    Fd listener = loopbackListener(c.address, c.listenPort);
    ASSERT_GE(listener.get(), 0) << "cannot listen on " << c.address << ":" << c.listenPort << ": "
                                 << std::strerror(errno);
    std::uint16_t port = boundPort(listener.get());
    std::string portArg = c.listenPort == 0 ? std::to_string(port) : "0";

    Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (c.nonBlocking ? SOCK_NONBLOCK : 0), 0));
    start({"9", std::to_string(kSockFd), "1", "1024", std::to_string(kPipeFd), addressArgument(c.address), portArg},
          sock.get());
    sock.reset();
    ASSERT_TRUE(readable(listener.get(), kWaitMs)) << "no connection arrived";
    peer.reset(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));

    Message status = readMessage(messages.get());
    EXPECT_EQ(status.id, 9);
    EXPECT_EQ(status.error, 0);
    EXPECT_TRUE(status.frame.empty());
    send(frame(300));
    EXPECT_EQ(readMessage(messages.get()).frame, frame(300));
    peer.reset();
    expectEndOfStream(9);
}

INSTANTIATE_TEST_SUITE_P(, SockpumpConnect,
                         ::testing::Values(ConnectCase{"GivenAddressAndPort", "127.0.61.127", 0, false},
                                           // Needs port 102 free on that address (and the right to bind it).
                                           ConnectCase{"PortZeroMeansRfc1006Port", "127.0.102.127", 102, false},
                                           // Guards against reporting EINPROGRESS as a failed connect.
                                           ConnectCase{"NonBlockingSocket", "127.0.61.127", 0, true}),
                         [](const auto &info) { return std::string(info.param.name); });
