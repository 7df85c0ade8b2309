#include "summary.h"

#include <cstdio>

namespace zv::wave {

namespace ct = zv::comtrade;

namespace {

std::string num(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%.7g", v);
    return b;
}

}  // namespace

std::string summary(const ct::Recording& r) {
    const ct::Config& c = r.cfg;
    std::string s;
    s += "station: " + c.station + "\n";
    s += "device: " + c.device + "\n";
    s += "revision: " + std::to_string(int(c.revision)) + "\n";
    s += "encoding: " + std::string(ct::encodingName(c.encoding)) + "\n";
    s += "format: " + std::string(ct::formatName(c.format)) + "\n";
    s += "channels: " + std::to_string(c.analog.size() + c.digital.size()) + " (" + std::to_string(c.analog.size()) +
         " analog, " + std::to_string(c.digital.size()) + " digital)\n";
    s += "samples: " + std::to_string(r.samples()) + "\n";
    s += "line frequency: " + num(c.lineFrequency) + " Hz\n";
    if (c.timestampsOnly()) {
        s += "sampling: time stamps, timemult " + num(c.timemult) + "\n";
    } else {
        s += "sampling:";
        for (std::size_t k = 0; k < c.rates.size(); ++k)
            s += std::string(k ? "," : "") + " " + num(c.rates[k].rate) + " Hz to sample " +
                 std::to_string(c.rates[k].endSample);
        s += "\n";
    }
    s += "start: " + c.start.text() + "\n";
    s += "trigger: " + c.trigger.text() + " (" + (r.triggerOffset() >= 0 ? "+" : "") + num(r.triggerOffset() * 1000) +
         " ms)\n";
    for (std::size_t ch = 0; ch < c.analog.size(); ++ch) {
        const ct::AnalogStats st = ct::analogStats(r, ch);
        const ct::AnalogChannel& a = c.analog[ch];
        s += "analog " + std::to_string(ch + 1) + ": " + a.id + " [" + a.unit + "]";
        if (st.present == 0)
            s += " no samples\n";
        else
            s += " min " + num(st.min) + " max " + num(st.max) + " rms " + num(st.rms) +
                 (st.present < r.samples() ? " (" + std::to_string(r.samples() - st.present) + " missing)"
                                           : std::string()) +
                 "\n";
    }
    for (std::size_t ch = 0; ch < c.digital.size(); ++ch)
        s += "digital " + std::to_string(ch + 1) + ": " + c.digital[ch].id + " transitions " +
             std::to_string(ct::transitions(r, ch)) + "\n";
    return s;
}

}  // namespace zv::wave
