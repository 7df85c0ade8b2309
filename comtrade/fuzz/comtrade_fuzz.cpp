// Fuzz entry: any bytes as a combined file (.cff), and split at the first NUL
// as a configuration and its data. What reads must hold together: as many
// samples as announced, times in order, every value reachable, figures and
// drawing points computed without a fault.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "comtrade/comtrade.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "read recording breaks: %s\n", what);
        std::abort();
    }
}

void exercise(const zv::comtrade::Recording& r) {
    namespace ct = zv::comtrade;
    if (r.cfg.totalSamples >= 0) check(std::int64_t(r.samples()) == r.cfg.totalSamples, "sample count");
    check(r.cfg.analog.size() <= ct::kMaxChannels && r.cfg.digital.size() <= ct::kMaxChannels, "channel count");
    for (std::size_t i = 1; i < r.samples(); ++i) check(!(r.time(i) < r.time(i - 1)), "times in order");
    for (std::size_t ch = 0; ch < r.cfg.analog.size(); ++ch) {
        ct::analogStats(r, ch);
        const auto pts = ct::envelope(r, ch, 0, r.duration() + 1, 8);
        check(pts.size() <= 3 * 8 + 2 || pts.size() <= r.samples(), "envelope size");
    }
    for (std::size_t ch = 0; ch < r.cfg.digital.size(); ++ch) ct::transitions(r, ch);
    if (r.samples()) check(r.indexAt(r.duration()) < r.samples(), "last sample found by its time");
    r.cfg.start.text();
    r.cfg.trigger.text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace ct = zv::comtrade;
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    ct::Recording r;
    ct::Error err;
    if (ct::parseCff(in, r, err))
        exercise(r);
    else
        check(!err.reason.empty(), ("an error without a reason: " + err.text()).c_str());
    const std::size_t nul = in.find('\0');
    if (nul != std::string_view::npos) {
        if (ct::parse(in.substr(0, nul), in.substr(nul + 1), r, err))
            exercise(r);
        else
            check(!err.reason.empty(), ("an error without a reason: " + err.text()).c_str());
    }
    return 0;
}
