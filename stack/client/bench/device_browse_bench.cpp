// The browse of a device that has no SCL at hand (station key model =
// device): iedsim serves a generated IED of about 5,000 objects on loopback,
// the stack asks it for its model at the first association. Prints the
// objects, the time from "keep channel A" to the model being installed, and
// the stack's own account of the browse (requests, milliseconds).
// Usage: device_browse_bench [lns] (default 78 LNs: about 5,000 objects)
#include "zorvan/zorvan_api.h"
#include "zvt/iedsim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string make_scl(const std::string &dir, int lns) {
    std::ostringstream s;
    s << R"(<?xml version="1.0" encoding="UTF-8"?>
<SCL xmlns="http://www.iec.ch/61850/2003/SCL" version="2007" revision="B">
  <Header id="bench"/>
  <IED name="BIG">
    <AccessPoint name="S1"><Server><Authentication/>
      <LDevice inst="MEAS">
        <LN0 lnClass="LLN0" inst="" lnType="LLN0_T">
          <DataSet name="dsMeas">
)";
    for (int i = 1; i <= std::min(lns, 50); ++i)
        s << "            <FCDA ldInst=\"MEAS\" lnClass=\"MMXU\" lnInst=\"" << i << "\" doName=\"TotW\" fc=\"MX\"/>\n";
    s << R"(          </DataSet>
          <ReportControl name="brcbMeas" rptID="BIG_Meas" datSet="dsMeas" confRev="1" buffered="true" intgPd="60000">
            <TrgOps dchg="true" qchg="true" period="true" gi="true"/>
            <OptFields seqNum="true" timeStamp="true" dataSet="true" reasonCode="true" entryID="true" configRef="true"/>
            <RptEnabled max="4"/>
          </ReportControl>
          <ReportControl name="urcbMeas" rptID="BIG_MeasU" datSet="dsMeas" confRev="1" buffered="false">
            <TrgOps dchg="true" gi="true"/><OptFields seqNum="true" dataSet="true"/><RptEnabled max="4"/>
          </ReportControl>
        </LN0>
)";
    for (int i = 1; i <= lns; ++i) s << "        <LN lnClass=\"MMXU\" inst=\"" << i << "\" lnType=\"MMXU_T\"/>\n";
    s << R"(      </LDevice>
    </Server></AccessPoint>
  </IED>
  <DataTypeTemplates>
    <LNodeType id="LLN0_T" lnClass="LLN0"><DO name="Mod" type="INC"/><DO name="Beh" type="INS"/><DO name="Health" type="INS"/></LNodeType>
    <LNodeType id="MMXU_T" lnClass="MMXU"><DO name="Beh" type="INS"/><DO name="TotW" type="MV"/><DO name="TotVAr" type="MV"/><DO name="Hz" type="MV"/><DO name="A" type="WYE"/></LNodeType>
    <DOType id="INS" cdc="INS"><DA name="stVal" bType="INT32" fc="ST"/><DA name="q" bType="Quality" fc="ST"/><DA name="t" bType="Timestamp" fc="ST"/></DOType>
    <DOType id="INC" cdc="INC"><DA name="stVal" bType="INT32" fc="ST"/><DA name="q" bType="Quality" fc="ST"/><DA name="t" bType="Timestamp" fc="ST"/><DA name="ctlModel" bType="INT8" fc="CF"/></DOType>
    <DOType id="MV" cdc="MV"><DA name="mag" bType="Struct" type="AV" fc="MX"/><DA name="q" bType="Quality" fc="MX"/><DA name="t" bType="Timestamp" fc="MX"/><DA name="units" bType="Struct" type="Unit" fc="CF"/><DA name="db" bType="INT32U" fc="CF"/></DOType>
    <DOType id="CMV" cdc="CMV"><DA name="cVal" bType="Struct" type="Vec" fc="MX"/><DA name="q" bType="Quality" fc="MX"/><DA name="t" bType="Timestamp" fc="MX"/></DOType>
    <DOType id="WYE" cdc="WYE"><SDO name="phsA" type="CMV"/><SDO name="phsB" type="CMV"/><SDO name="phsC" type="CMV"/></DOType>
    <DAType id="AV"><BDA name="f" bType="FLOAT32"/></DAType>
    <DAType id="Vec"><BDA name="mag" bType="Struct" type="AV"/><BDA name="ang" bType="Struct" type="AV"/></DAType>
    <DAType id="Unit"><BDA name="SIUnit" bType="INT8"/><BDA name="multiplier" bType="INT8"/></DAType>
  </DataTypeTemplates>
</SCL>
)";
    const std::string path = dir + "/big.scd";
    std::ofstream(path) << s.str();
    return path;
}

std::atomic<int> g_refreshed{0};
void on_refreshed(ST_INT) { ++g_refreshed; }

}  // namespace

int main(int argc, char **argv) {
    const int lns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 78;
    char tmpl[] = "/tmp/device_browse_bench_XXXXXX";
    const char *dir = ::mkdtemp(tmpl);
    if (!dir) return 1;
    const std::string scl = make_scl(dir, lns);
    zvt::IedsimProcess sim;
    if (!sim.start(ZV_IEDSIM_EXE, {"--scl", scl, "--ied", "BIG", "--listen", "127.0.0.1:0", "--files", dir,
                                   "--sim-period", "0", "--log", std::string(dir) + "/sim.log"})) {
        std::fprintf(stderr, "iedsim did not start (see %s/sim.log)\n", dir);
        return 1;
    }
    const std::string station = std::string(dir) + "/station.ini";
    std::ofstream(station) << "[ied BIG]\nmodel = device\naddr_a = 127.0.0.1:" << sim.port_a << "\naddr_b = none\n";
    setenv("ZORVAN_QUIET", "1", 1);
    u_srv_refreshed_app(on_refreshed);
    std::vector<int64_t> times;
    int objects = 0;
    for (int round = 0; round < 5; ++round) {
        g_refreshed = 0;
        if (ai_init_envir(station.c_str()) != 0 || ac_init_srvm() != 0) {
            std::fprintf(stderr, "the stack did not start\n");
            break;
        }
        const int64_t t0 = now_ms();
        ac_set_srvm_chnlKeepCon(0, 1, AC_CHANNEL_A);
        while (g_refreshed == 0 && now_ms() - t0 < 60000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        times.push_back(now_ms() - t0);
        objects = ai_get_ied_obj_num(ac_get_srvm_ied(0));
        ai_uninit_envir();
    }
    sim.kill(SIGTERM);
    if (times.empty()) return 1;
    std::sort(times.begin(), times.end());
    std::printf("device browse (model = device), %d LNs, %d objects, loopback:\n", lns, objects);
    std::printf("  connect + association + browse + model: median %lld ms, min %lld ms, max %lld ms (%zu rounds)\n",
                (long long)times[times.size() / 2], (long long)times.front(), (long long)times.back(), times.size());
    std::printf("  (the stack's log line \"the device's model: ...\" gives the browse's own time and requests)\n");
    return 0;
}
