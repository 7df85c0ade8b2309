// The text `tarnwave --summary` prints for a recording.
#pragma once

#include <string>

#include "comtrade/comtrade.h"

namespace zv::wave {

// Station, device, revision, format, channel counts, sampling, start and
// trigger time, then per analog channel its id, unit, minimum, maximum and
// RMS in primary values, and per digital channel its transitions. One item
// a line, "key: value"; numbers with seven significant digits.
std::string summary(const zv::comtrade::Recording& r);

}  // namespace zv::wave
