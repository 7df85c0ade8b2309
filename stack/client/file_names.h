// File names as devices list them: octets in the device's own character set
// (ASCII, UTF-8, or GB18030 on many devices), kept as they are for every
// request that names the file again. Only log lines decode them.
#pragma once

#include <string>
#include <string_view>

namespace zv::client {

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool is_utf8(std::string_view bytes);

// The name as text for a log line: itself when it is UTF-8, else its GB18030
// reading when that decodes every byte, else with each byte outside printable
// ASCII written as \xNN. Control characters are always written as \xNN.
std::string shown_file_name(std::string_view bytes);

}  // namespace zv::client
