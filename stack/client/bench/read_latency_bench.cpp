// One read at a time against iedsim on loopback: what a request costs when
// nothing else is in flight (a dialog, the GUI, a tool reading values one
// after another).
//
//   stack  - an application thread calls ac_read_obj_value, waits for the
//            completion (a semaphore the completion posts), then reads again;
//   wait   - the same thread waits in ac_wait_completion instead (the stack
//            takes the answer off the socket on the waiting thread);
//   chain  - the completion of each read issues the next one;
//   floor  - one thread sends the same MMS read on its own association over
//            a blocking socket (stack/iso ClientAssociation + stack/mms
//            encode/decode, no stack threads): what this machine, this
//            server and these codecs allow.
//
// Per read, for each: reads per second, CPU time, context switches (getrusage;
// the floor's own thread only, the stack's whole process) and system calls
// (perf counters on the raw_syscalls:sys_enter tracepoint, per thread, where
// the kernel lets us open them; "n/a" otherwise). The two alternate in timed
// rounds on the same server, and the totals give the ratio stack / floor;
// system calls come from one extra round each (the tracepoint slows every
// system call down, so it stays out of the timed rounds).
//   read_latency_bench [rounds=5] [ms per round=1000] [floor|stack|wait|chain: only that one]
//
// A fixed number of reads instead, for instruction counts that do not
// depend on the machine's load:
//   valgrind --tool=callgrind read_latency_bench --reads N [floor|stack|wait|chain]
// Each path warms up, then runs N reads between CALLGRIND_ZERO_STATS and a
// dump named after it ("floor", "stack", "wait", "chain"): the dump's total over N is
// the instructions per read of the client process (every thread).
#include "iso/association.h"
#include "mms/pdu.h"
#include "zorvan/zorvan_api.h"

#include "bench_sim.h"

#include <dirent.h>
#include <linux/perf_event.h>
#include <netinet/tcp.h>
#include <semaphore.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(x)
#endif

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace zvbench;
namespace iso = zv::iso;
namespace mms = zv::mms;

const char *kDomain = "CMIED01MON";
const char *kItem = "STMP1$MX$Tmp";

// ---- counters -------------------------------------------------------------------

int perf_open(perf_event_attr &a, pid_t tid) {
    return int(::syscall(SYS_perf_event_open, &a, tid, -1, -1, PERF_FLAG_FD_CLOEXEC));
}

// The raw_syscalls:sys_enter tracepoint id, or -1.
long syscall_tracepoint() {
    for (const char *p : {"/sys/kernel/tracing/events/raw_syscalls/sys_enter/id",
                          "/sys/kernel/debug/tracing/events/raw_syscalls/sys_enter/id"}) {
        std::ifstream in(p);
        long id = -1;
        if (in >> id) return id;
    }
    return -1;
}

std::vector<pid_t> threads_of_process() {
    std::vector<pid_t> tids;
    if (DIR *d = ::opendir("/proc/self/task")) {
        while (dirent *e = ::readdir(d))
            if (e->d_name[0] != '.') tids.push_back(pid_t(std::atoi(e->d_name)));
        ::closedir(d);
    }
    return tids;
}

// System calls made by a set of threads between start() and stop().
struct SyscallCounter {
    std::vector<int> fds;
    bool ok = false;
    void start(const std::vector<pid_t> &tids) {
        const long tp = syscall_tracepoint();
        ok = tp >= 0;
        for (pid_t t : tids) {
            if (!ok) break;
            perf_event_attr a{};
            a.size = sizeof a;
            a.type = PERF_TYPE_TRACEPOINT;
            a.config = uint64_t(tp);
            a.disabled = 1;
            const int fd = perf_open(a, t);
            if (fd < 0)
                ok = false;
            else
                fds.push_back(fd);
        }
        for (int fd : fds) ::ioctl(fd, PERF_EVENT_IOC_ENABLE, 0);
    }
    // Total, or -1 when not available.
    int64_t stop() {
        int64_t sum = 0;
        for (int fd : fds) {
            ::ioctl(fd, PERF_EVENT_IOC_DISABLE, 0);
            uint64_t v = 0;
            if (::read(fd, &v, sizeof v) != sizeof v) ok = false;
            sum += int64_t(v);
            ::close(fd);
        }
        fds.clear();
        return ok ? sum : -1;
    }
};

struct Usage {
    int64_t csw = 0;     // voluntary + involuntary context switches
    int64_t vcsw = 0;    // voluntary: the thread waited
    int64_t cpu_us = 0;  // user + system
    static Usage now(int who) {
        rusage r{};
        ::getrusage(who, &r);
        Usage u;
        u.csw = r.ru_nvcsw + r.ru_nivcsw;
        u.vcsw = r.ru_nvcsw;
        u.cpu_us = (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000LL + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
        return u;
    }
};

struct Totals {
    int64_t reads = 0, us = 0, csw = 0, vcsw = 0, cpu_us = 0;
    int64_t counted_reads = 0, syscalls = 0;  // from the counting round
    bool syscalls_ok = true;
    void add(int64_t n, int64_t t, const Usage &a, const Usage &b) {
        reads += n;
        us += t;
        csw += b.csw - a.csw;
        vcsw += b.vcsw - a.vcsw;
        cpu_us += b.cpu_us - a.cpu_us;
    }
    void add_syscalls(int64_t n, int64_t calls) {
        if (calls < 0) syscalls_ok = false;
        counted_reads += n;
        syscalls += calls;
    }
    double rate() const { return us ? double(reads) * 1e6 / double(us) : 0; }
    double per(int64_t v) const { return reads ? double(v) / double(reads) : 0; }
};

// ---- the floor: one thread, one association, blocking socket ---------------------

class Floor {
public:
    bool connect(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) return false;
        assoc_ = std::make_unique<iso::ClientAssociation>(iso::ClientConfig{});
        mms::InitiateRequest ir;
        static_cast<mms::InitiateParams &>(ir) = mms::iec61850InitiateParams();
        const std::vector<uint8_t> b = mms::encode(mms::Pdu(ir));
        if (!assoc_->connect(iso::ByteView(b.data(), b.size()))) return false;
        for (;;) {
            if (!flush()) return false;
            std::vector<iso::Event> ev;
            if (!receive(ev)) return false;
            for (auto &e : ev) {
                if (e.kind == iso::EventKind::AssociateConfirm) return flush();
                if (e.kind != iso::EventKind::Data) return false;
            }
        }
    }
    // One read, answered: true when the response carried a value.
    bool read() {
        mms::ReadRequest r;
        r.access = mms::VariableAccess::list({mms::VariableRef{mms::ObjectName::dom(kDomain, kItem), {}}});
        const uint32_t id = next_++;
        const std::vector<uint8_t> b = mms::encode(mms::Pdu(mms::ConfirmedRequest{id, std::move(r)}));
        if (!assoc_->sendData(iso::ByteView(b.data(), b.size())) || !flush()) return false;
        for (;;) {
            std::vector<iso::Event> ev;
            if (!receive(ev)) return false;
            for (auto &e : ev) {
                if (e.kind != iso::EventKind::Data) return false;
                auto pdu = mms::decode(zv::ber::ByteView(e.data.data(), e.data.size()));
                const auto *rsp = pdu ? std::get_if<mms::ConfirmedResponse>(&*pdu) : nullptr;
                if (!rsp || rsp->invokeId != id) continue;
                const auto *rr = std::get_if<mms::ReadResponse>(&rsp->service);
                return rr && rr->results.size() == 1 && rr->results[0].success;
            }
        }
    }
    ~Floor() {
        if (fd_ >= 0) ::close(fd_);
    }

private:
    bool flush() {
        while (assoc_->hasOutput()) {
            const iso::ByteView out = assoc_->output();
            const ssize_t n = ::send(fd_, out.data, out.size, MSG_NOSIGNAL);
            if (n <= 0) return false;
            assoc_->consumeOutput(size_t(n));
        }
        return true;
    }
    bool receive(std::vector<iso::Event> &ev) {
        uint8_t buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return false;
        ev = assoc_->onBytes(iso::ByteView(buf, size_t(n)));
        return true;
    }
    int fd_ = -1;
    uint32_t next_ = 1;
    std::unique_ptr<iso::ClientAssociation> assoc_;
};

// ---- the stack: an application thread waits for each completion ------------------

std::atomic<int> g_connected{0};
sem_t g_done;
std::atomic<int> g_failed{0};

void on_up(ST_INT, AC_CHANNEL) { ++g_connected; }
void on_down(ST_INT, AC_CHANNEL) {}
void on_done(AC_REQ_CTRL *c) {
    if (c->result != 0) ++g_failed;
    ::sem_post(&g_done);
}

// A round of reads by `one_read` for `ms`; system calls counted (on `tids`)
// only when asked, the tracepoint slowing every system call down.
template <class F>
void round(F one_read, int ms, int who, const std::vector<pid_t> *tids, Totals &t) {
    SyscallCounter sc;
    if (tids) sc.start(*tids);
    const Usage u0 = Usage::now(who);
    const int64_t t0 = now_us();
    int64_t n = 0;
    while (now_us() - t0 < int64_t(ms) * 1000) {
        one_read();
        ++n;
    }
    const int64_t t1 = now_us();
    const Usage u1 = Usage::now(who);
    const int64_t calls = tids ? sc.stop() : 0;
    if (tids)
        t.add_syscalls(n, calls);
    else
        t.add(n, t1 - t0, u0, u1);
}

void floor_read(Floor &f) {
    if (!f.read()) {
        std::printf("floor: read failed\n");
        std::exit(1);
    }
}

void stack_read(AI_OBJ_ID id) {
    AI_OBJ_ID ids[1] = {id};
    AC_READ_REQ_INFO r{ids, 1, on_done};
    if (ac_read_obj_value(0, &r, 30, nullptr) != 0) {
        std::printf("stack: read not queued\n");
        std::exit(1);
    }
    while (::sem_wait(&g_done) != 0) {
    }
}

void on_waited(AC_REQ_CTRL *c) {
    if (c->result != 0) ++g_failed;
}

void wait_read(AI_OBJ_ID id) {
    AI_OBJ_ID ids[1] = {id};
    AC_READ_REQ_INFO r{ids, 1, on_waited};
    if (ac_read_obj_value(0, &r, 30, nullptr) != 0) {
        std::printf("wait: read not queued\n");
        std::exit(1);
    }
    if (ac_wait_completion(30000) != 0) {
        std::printf("wait: no completion\n");
        std::exit(1);
    }
}

// The next read issued by the completion of the previous one (a chain on
// the stack's worker), for `ms`.
std::atomic<bool> g_chain_stop{false};
std::atomic<int64_t> g_chain_reads{0};
int64_t g_chain_limit = 0;  // > 0: the chain ends after this many reads
AI_OBJ_ID g_chain_id = -1;

void on_chained(AC_REQ_CTRL *c) {
    if (c->result != 0) ++g_failed;
    const int64_t n = ++g_chain_reads;
    AI_OBJ_ID ids[1] = {g_chain_id};
    AC_READ_REQ_INFO r{ids, 1, on_chained};
    if (g_chain_stop || (g_chain_limit > 0 && n >= g_chain_limit) || ac_read_obj_value(0, &r, 30, nullptr) != 0)
        ::sem_post(&g_done);
}

// `n` chained reads (fixed-count mode).
void chain_reads(int64_t n) {
    g_chain_stop = false;
    g_chain_reads = 0;
    g_chain_limit = n;
    AI_OBJ_ID ids[1] = {g_chain_id};
    AC_READ_REQ_INFO r{ids, 1, on_chained};
    if (ac_read_obj_value(0, &r, 30, nullptr) != 0) {
        std::printf("stack: read not queued\n");
        std::exit(1);
    }
    while (::sem_wait(&g_done) != 0) {
    }
    g_chain_limit = 0;
}

void chain_round(int ms, const std::vector<pid_t> *tids, Totals &t) {
    SyscallCounter sc;
    if (tids) sc.start(*tids);
    g_chain_stop = false;
    g_chain_reads = 0;
    const Usage u0 = Usage::now(RUSAGE_SELF);
    const int64_t t0 = now_us();
    AI_OBJ_ID ids[1] = {g_chain_id};
    AC_READ_REQ_INFO r{ids, 1, on_chained};
    if (ac_read_obj_value(0, &r, 30, nullptr) != 0) {
        std::printf("stack: read not queued\n");
        std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    g_chain_stop = true;
    while (::sem_wait(&g_done) != 0) {
    }
    const int64_t t1 = now_us();
    const Usage u1 = Usage::now(RUSAGE_SELF);
    const int64_t calls = tids ? sc.stop() : 0;
    if (tids)
        t.add_syscalls(g_chain_reads, calls);
    else
        t.add(g_chain_reads, t1 - t0, u0, u1);
}

// Fixed-count mode: warm-up reads, then `n` reads by `reads(n)` between
// zeroed and dumped callgrind counters (no-ops outside valgrind).
template <class F>
void fixed_count(const char *name, F reads, int64_t n) {
    reads(100);
    const int64_t t0 = now_us();
    CALLGRIND_ZERO_STATS;
    reads(n);
    CALLGRIND_DUMP_STATS_AT(name);
    std::printf("  %-6s %lld reads in %.3f s\n", name, static_cast<long long>(n), double(now_us() - t0) / 1e6);
}

void print(const char *what, const Totals &t) {
    char sc[32] = "n/a";
    if (t.syscalls_ok && t.counted_reads > 0)
        std::snprintf(sc, sizeof sc, "%.2f", double(t.syscalls) / double(t.counted_reads));
    std::printf("  %-34s %8.0f reads/s %6.1f us CPU %5.2f context switches (%4.2f voluntary) %6s system calls\n", what,
                t.rate(), t.per(t.cpu_us), t.per(t.csw), t.per(t.vcsw), sc);
}

}  // namespace

int main(int argc, char **argv) {
    ::setenv("ZORVAN_QUIET", "1", 1);
    std::signal(SIGPIPE, SIG_IGN);
    // --reads N [only]: fixed-count mode (see the top).
    const bool counted = argc > 2 && std::string(argv[1]) == "--reads";
    const int64_t count = counted ? std::max<int64_t>(1, std::atoll(argv[2])) : 0;
    const int rounds = !counted && argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int ms = !counted && argc > 2 ? std::max(50, std::atoi(argv[2])) : 1000;
    const std::string only = argc > 3 ? argv[3] : "";
    ::sem_init(&g_done, 0, 0);

    char tmpl[] = "/tmp/zvlatency_XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string files = dir + "/files";
    ::mkdir(files.c_str(), 0755);
    const std::string scl = make_scl(dir, 1);
    int status = 0;
    {
        Sim sim;
        if (!sim.start(files, scl, ied_name(0))) {
            std::printf("iedsim did not start\n");
            return 1;
        }
        std::ofstream(dir + "/station.ini")
            << "[station]\nscl = " << scl << "\n[ied " << ied_name(0) << "]\naddr_a = 127.0.0.1:" << sim.port_a
            << "\naddr_b = 127.0.0.2:" << sim.port_b << "\n";
        u_chnl_connect_app(on_up);
        u_chnl_disconnect_app(on_down);
        Floor floor;
        if (!floor.connect(sim.port_a) || ai_init_envir((dir + "/station.ini").c_str()) != 0 || ac_init_srvm() != 0) {
            std::printf("no association\n");
            return 1;
        }
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        if (!wait_for([] { return g_connected == 1; }, 20000)) {
            std::printf("channel A did not connect\n");
            return 1;
        }
        const AI_OBJ_ID id = ai_obj_ref_to_id(ac_get_srvm_ied(0), (std::string(kDomain) + "/" + kItem).c_str());
        const pid_t me = pid_t(::syscall(SYS_gettid));
        const std::vector<pid_t> floor_threads{me};
        auto fr = [&] { floor_read(floor); };
        auto sr = [&] { stack_read(id); };
        auto wr = [&] { wait_read(id); };
        g_chain_id = id;
        const bool floor_on = only.empty() || only == "floor";
        const bool stack_on = only.empty() || only == "stack";
        const bool wait_on = only.empty() || only == "wait";
        const bool chain_on = only.empty() || only == "chain";
        if (counted) {
            auto reads = [](auto one) {
                return [one](int64_t n) {
                    for (int64_t k = 0; k < n; ++k) one();
                };
            };
            if (floor_on) fixed_count("floor", reads(fr), count);
            if (stack_on) fixed_count("stack", reads(sr), count);
            if (wait_on) fixed_count("wait", reads(wr), count);
            if (chain_on) fixed_count("chain", chain_reads, count);
            ai_uninit_envir();
        } else {
            // Warm up both paths, then alternate timed rounds (getrusage only:
            // the floor's thread, the stack's whole process), then one round
            // each counting system calls.
            Totals ignore, fl, st, wt, ch;
            if (floor_on) round(fr, 200, RUSAGE_THREAD, nullptr, ignore);
            if (stack_on) round(sr, 200, RUSAGE_SELF, nullptr, ignore);
            if (wait_on) round(wr, 200, RUSAGE_SELF, nullptr, ignore);
            if (chain_on) chain_round(200, nullptr, ignore);
            for (int r = 0; r < rounds; ++r) {
                if (floor_on) round(fr, ms, RUSAGE_THREAD, nullptr, fl);
                if (stack_on) round(sr, ms, RUSAGE_SELF, nullptr, st);
                if (wait_on) round(wr, ms, RUSAGE_SELF, nullptr, wt);
                if (chain_on) chain_round(ms, nullptr, ch);
            }
            const std::vector<pid_t> all = threads_of_process();
            if (floor_on) round(fr, 300, RUSAGE_THREAD, &floor_threads, fl);
            if (stack_on) round(sr, 300, RUSAGE_SELF, &all, st);
            if (wait_on) round(wr, 300, RUSAGE_SELF, &all, wt);
            if (chain_on) chain_round(300, &all, ch);
            ai_uninit_envir();
            std::printf("one read at a time, 1 server, %d rounds of %d ms each; per read:\n", rounds, ms);
            if (floor_on) print("floor (1 thread, blocking socket)", fl);
            if (stack_on) print("stack, caller waits for completion", st);
            if (wait_on) print("stack, caller in ac_wait_completion", wt);
            if (chain_on) print("stack, next read from completion", ch);
            if (only.empty()) {
                std::printf("  stack / floor: %.0f %% of the reads per second, %.2fx the CPU per read (caller waits)\n",
                            100.0 * st.rate() / std::max(1.0, fl.rate()),
                            st.per(st.cpu_us) / std::max(1e-9, fl.per(fl.cpu_us)));
                std::printf(
                    "                 %.0f %% of the reads per second, %.2fx the CPU per read (ac_wait_completion)\n",
                    100.0 * wt.rate() / std::max(1.0, fl.rate()),
                    wt.per(wt.cpu_us) / std::max(1e-9, fl.per(fl.cpu_us)));
                std::printf(
                    "                 %.0f %% of the reads per second, %.2fx the CPU per read (from completion)\n",
                    100.0 * ch.rate() / std::max(1.0, fl.rate()),
                    ch.per(ch.cpu_us) / std::max(1e-9, fl.per(fl.cpu_us)));
            }
        }
        if (g_failed) {
            std::printf("  %d reads failed\n", g_failed.load());
            status = 1;
        }
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    return status;
}
