// Throughput and latency of the client stack against iedsim on loopback:
//   read round trips per second (requests kept queued), 1 and 20 servers;
//   report values per second written into the model and handed to the
//   report callback, 1 and 20 servers (iedsim "burst");
//   report-to-callback latency (value set on the simulator -> callback).
// Each over plain TCP and over TLS 1.3 with client certificates (IEC
// 62351-3/-4; certificates made with scripts/make-certs.sh for the run).
// Prints the figures; run from the build's bin folder.
#include "zorvan/zorvan_api.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <csignal>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_sim.h"

namespace {

using namespace zvbench;

std::atomic<int64_t> g_connected{0};
std::atomic<int64_t> g_done{0};
std::atomic<int64_t> g_report_values{0};
std::mutex g_lat_mutex;
float g_lat_want = -1;      // guarded by g_lat_mutex
int64_t g_lat_seen_us = 0;  // guarded by g_lat_mutex

void on_up(ST_INT, AC_CHANNEL) { ++g_connected; }
void on_down(ST_INT, AC_CHANNEL) {}
void on_done(AC_REQ_CTRL *) { ++g_done; }
void on_report(ST_UCHAR *, ST_INT n, AI_OBJ_VAL *vals, ST_BOOLEAN *, AC_REPORT_REASON *, ST_INT) {
    g_report_values += n;
    std::lock_guard<std::mutex> l(g_lat_mutex);
    if (n > 0 && vals[0].prim_num > 0 && vals[0].prim_vals[0].type == VAL_TYPE_FLOAT32) {
        float f;
        std::memcpy(&f, vals[0].prim_vals[0].data, 4);
        if (f == g_lat_want && g_lat_seen_us == 0) g_lat_seen_us = now_us();
    }
}

void run(int servers, bool latency, const std::string &certs) {
    const bool tls = !certs.empty();
    std::printf("%s\n", tls ? "TLS 1.3, client certificates:" : "plain TCP:");
    char tmpl[] = "/tmp/zvbench_XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string files = dir + "/files";
    ::mkdir(files.c_str(), 0755);
    const std::string scl = make_scl(dir, servers);
    std::vector<std::string> tls_opts;
    if (tls)
        tls_opts = {"--tls-cert", certs + "/device.pem", "--tls-key", certs + "/device.key",
                    "--tls-ca",   certs + "/ca.pem"};
    std::vector<std::unique_ptr<Sim>> sims;
    for (int i = 0; i < servers; ++i) {
        sims.push_back(std::make_unique<Sim>());
        if (!sims.back()->start(files, scl, ied_name(i), tls_opts)) {
            std::printf("iedsim did not start\n");
            return;
        }
    }
    {
        std::ofstream f(dir + "/station.ini");
        f << "[station]\nscl = " << scl << "\n";
        for (int i = 0; i < servers; ++i)
            f << "[ied " << ied_name(i) << "]\naddr_a = 127.0.0.1:" << sims[size_t(i)]->port_a
              << "\naddr_b = 127.0.0.2:" << sims[size_t(i)]->port_b << "\n"
              << (tls ? "tls = 1\ntls_ca = " + certs + "/ca.pem\ntls_cert = " + certs +
                            "/client.pem\ntls_key = " + certs + "/client.key\n"
                      : std::string());
    }
    u_chnl_connect_app(on_up);
    u_chnl_disconnect_app(on_down);
    u_ai_c_rpt_app(on_report);
    g_connected = 0;
    if (ai_init_envir((dir + "/station.ini").c_str()) != 0 || ac_init_srvm() != 0) {
        std::printf("station did not load\n");
        return;
    }
    for (int i = 0; i < servers; ++i) ac_set_srvm_chnlKeepCon(i, 1, AC_CHANNEL_A);
    wait_for([&] { return g_connected == servers; }, 20000);

    // Read round trips: keep 64 requests queued per server for two seconds.
    auto ref = [](int i, const std::string &rest) { return ied_name(i) + "MON/" + rest; };
    std::vector<AI_OBJ_ID> ids;
    for (int i = 0; i < servers; ++i)
        ids.push_back(ai_obj_ref_to_id(ac_get_srvm_ied(i), ref(i, "STMP1$MX$Tmp").c_str()));
    g_done = 0;
    int64_t sent = 0;
    const int64_t t0 = now_us();
    while (now_us() - t0 < 2000000) {
        while (sent - g_done < 64 * servers) {
            AC_READ_REQ_INFO r{&ids[size_t(sent % servers)], 1, on_done};
            ac_read_obj_value(int(sent % servers), &r, 30, nullptr);
            ++sent;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const double rps = double(g_done) / (double(now_us() - t0) / 1e6);
    wait_for([&] { return g_done == sent; }, 30000);
    std::printf("servers %2d  read round trips/s      %10.0f\n", servers, rps);

    // Report values into the model.
    // Buffer time 0, so that a report leaves at once (the SCL has 100 ms).
    g_done = 0;
    for (int i = 0; i < servers; ++i) {
        uint32_t zero = 0;
        AI_OBJ_ID bt = ai_obj_ref_to_id(ac_get_srvm_ied(i), ref(i, "LLN0$BR$brcbTemp01$BufTm").c_str());
        AI_PRIM_VAL pv{VAL_TYPE_INT32U, 4, &zero};
        AI_OBJ_VAL ov{bt, &bt, &pv, 1};
        AC_WRITE_REQ_INFO w{&ov, 1, on_done};
        ac_write_obj_value(i, &w, 30, nullptr);
    }
    wait_for([&] { return g_done == servers; }, 30000);
    g_done = 0;
    for (int i = 0; i < servers; ++i) {
        const AI_OBJ_ID rcb = ai_obj_ref_to_id(ac_get_srvm_ied(i), ref(i, "LLN0$BR$brcbTemp01").c_str());
        AC_ENAREPORT_INFO e{rcb, 0x79 | (0x80 << 8), 0x4C, 300000, 1, on_done};
        ac_rpt_enable(i, &e, 30, nullptr);
    }
    wait_for([&] { return g_done == servers; }, 30000);
    wait_for([] { return false; }, 300);
    const int per = servers == 1 ? 20000 : 2000;
    g_report_values = 0;
    const int64_t r0 = now_us();
    std::vector<std::thread> bursts;
    for (int i = 0; i < servers; ++i) {
        Sim *sp = sims[size_t(i)].get();
        const std::string cmd = "burst " + ref(i, "STMP2$MX$Tmp$mag$f") + " " + std::to_string(per);
        bursts.emplace_back([sp, cmd] { sp->ask(cmd, 120000); });
    }
    for (auto &t : bursts) t.join();
    wait_for([&] { return g_report_values >= int64_t(per) * servers; }, 120000);
    const double vps = double(g_report_values) / (double(now_us() - r0) / 1e6);
    std::printf("servers %2d  report values/s         %10.0f  (%lld values)\n", servers, vps,
                (long long)g_report_values.load());

    if (latency) {
        std::vector<int64_t> lat;
        for (int k = 1; k <= 300; ++k) {
            {
                std::lock_guard<std::mutex> l(g_lat_mutex);
                g_lat_want = 1000.0f + float(k);
                g_lat_seen_us = 0;
            }
            const int64_t s0 = now_us();
            sims[0]->ask("set " + ref(0, "STMP1$MX$Tmp$mag$f") + " " + std::to_string(1000 + k));
            if (!wait_for(
                    [] {
                        std::lock_guard<std::mutex> l(g_lat_mutex);
                        return g_lat_seen_us != 0;
                    },
                    5000))
                continue;
            std::lock_guard<std::mutex> l(g_lat_mutex);
            lat.push_back(g_lat_seen_us - s0);
        }
        std::sort(lat.begin(), lat.end());
        if (!lat.empty())
            std::printf("servers %2d  report->callback latency median %.3f ms  p99 %.3f ms  (%zu samples, from the\n"
                        "            simulator's set command through its report to the callback)\n",
                        servers, lat[lat.size() / 2] / 1000.0,
                        lat[std::min(lat.size() - 1, lat.size() * 99 / 100)] / 1000.0, lat.size());
    }
    ai_uninit_envir();
    sims.clear();
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace

int main() {
    ::setenv("ZORVAN_QUIET", "1", 1);
    std::signal(SIGPIPE, SIG_IGN);
    char tmpl[] = "/tmp/zvbench_certs_XXXXXX";
    const std::string certs = ::mkdtemp(tmpl);
    if (std::system(("bash '" ZV_SOURCE_ROOT "/scripts/make-certs.sh' '" + certs + "' >/dev/null 2>&1").c_str()) != 0) {
        std::printf("cannot make the TLS certificates (openssl)\n");
        return 1;
    }
    run(1, true, "");
    run(1, true, certs);
    run(20, false, "");
    run(20, false, certs);
    std::system(("rm -rf '" + certs + "'").c_str());
    return 0;
}
