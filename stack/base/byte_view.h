// Non-owning view of bytes (C++17 has no std::span), shared by the protocol
// layers. The viewed bytes must outlive the view.
//
// Header only: include as "base/byte_view.h".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv {

struct ByteView {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
    ByteView() = default;
    ByteView(const uint8_t* d, std::size_t n) : data(d), size(n) {}
    ByteView(const std::vector<uint8_t>& v) : data(v.data()), size(v.size()) {}
    const uint8_t* begin() const { return data; }
    const uint8_t* end() const { return data + size; }
    bool empty() const { return size == 0; }
    uint8_t operator[](std::size_t i) const { return data[i]; }
    // The `n` bytes from `pos`, and the bytes from `pos` on (pos <= size).
    ByteView sub(std::size_t pos, std::size_t n) const { return ByteView(data + pos, n); }
    ByteView from(std::size_t pos) const { return ByteView(data + pos, size - pos); }
    std::vector<uint8_t> toVector() const { return std::vector<uint8_t>(begin(), end()); }
};

}  // namespace zv
