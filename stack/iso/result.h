// Results, errors and byte views shared by the ISO upper layers.
//
// Include as "iso/result.h". Every decoder of this folder returns a Result<T>
// or Status carrying a precise reason ("COTP CR: parameter 0xc0 length 2,
// expected 1"); nothing throws for bad input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace zv::iso {

using Bytes = std::vector<uint8_t>;

// Non-owning view of bytes (C++17 has no std::span). The viewed bytes must
// outlive the view.
struct ByteView {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
    ByteView() = default;
    ByteView(const uint8_t* d, std::size_t n) : data(d), size(n) {}
    ByteView(const Bytes& v) : data(v.data()), size(v.size()) {}
    const uint8_t* begin() const { return data; }
    const uint8_t* end() const { return data + size; }
    bool empty() const { return size == 0; }
    uint8_t operator[](std::size_t i) const { return data[i]; }
    ByteView sub(std::size_t pos, std::size_t n) const { return ByteView(data + pos, n); }
    ByteView from(std::size_t pos) const { return ByteView(data + pos, size - pos); }
    Bytes toVector() const { return Bytes(begin(), end()); }
};

struct Error {
    std::string reason;   // names the layer and the fault, with numbers
};

inline Error makeError(std::string reason) { return Error{std::move(reason)}; }

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}
    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const { return std::get<1>(v_); }

private:
    std::variant<T, Error> v_;
};

class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : failed_(true), err_(std::move(error)) {}
    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return err_; }

private:
    bool failed_ = false;
    Error err_;
};

// Lower-case hex of up to `max` bytes ("00 01 c0"), for error texts.
std::string hexText(ByteView bytes, std::size_t max = 16);

}  // namespace zv::iso

#define ZV_ISO_CAT2(a, b) a##b
#define ZV_ISO_CAT(a, b) ZV_ISO_CAT2(a, b)
// Propagates a failed Result/Status; otherwise binds the value.
#define ZV_ISO_TRY(decl, expr)                                                     \
    auto ZV_ISO_CAT(zv_iso_try_, __LINE__) = (expr);                               \
    if (!ZV_ISO_CAT(zv_iso_try_, __LINE__))                                        \
        return ZV_ISO_CAT(zv_iso_try_, __LINE__).error();                          \
    decl = std::move(*ZV_ISO_CAT(zv_iso_try_, __LINE__))
#define ZV_ISO_CHECK(expr)                                                         \
    do {                                                                           \
        auto zv_iso_check_s = (expr);                                              \
        if (!zv_iso_check_s) return zv_iso_check_s.error();                        \
    } while (0)
