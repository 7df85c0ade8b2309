// Helpers shared by the reader's source files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zv::comtrade::detail {

std::string_view trim(std::string_view s);
std::vector<std::string_view> split(std::string_view line);
bool toInt(std::string_view s, std::int64_t& v);
bool toDouble(std::string_view s, double& v);  // finite numbers only
std::string quoted(std::string_view s);        // for messages, cut at 40 bytes

}  // namespace zv::comtrade::detail
