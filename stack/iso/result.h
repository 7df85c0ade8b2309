// Results, errors and byte views shared by the ISO upper layers.
//
// Include as "iso/result.h". Every decoder of this folder returns a Result<T>
// or Status carrying a precise reason ("COTP CR: parameter 0xc0 length 2,
// expected 1"); nothing throws for bad input. The templates and ZV_TRY /
// ZV_CHECK are the ones of every layer (base/result.h); the Error is this
// folder's own.
#pragma once

#include "base/byte_view.h"
#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zv::iso {

using Bytes = std::vector<uint8_t>;
using zv::ByteView;

struct Error {
    std::string reason;  // names the layer and the fault, with numbers
};

inline Error makeError(std::string reason) { return Error{std::move(reason)}; }

template <class T>
using Result = BasicResult<T, Error>;
using Status = BasicStatus<Error>;

// Lower-case hex of up to `max` bytes ("00 01 c0"), for error texts.
std::string hexText(ByteView bytes, std::size_t max = 16);

}  // namespace zv::iso
