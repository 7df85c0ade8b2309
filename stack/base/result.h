// Result<T> and Status of the protocol layers: a value or an error, never an
// exception for bad input. Each layer names its own Error type (BER keeps
// the offset where decoding failed, the ISO layers a reason only) and takes
// these templates with it:
//   template <class T> using Result = zv::BasicResult<T, Error>;
//   using Status = zv::BasicStatus<Error>;
//
// Header only, below every layer: include as "base/result.h" (the layers put
// stack/ on the include path).
#pragma once

#include <utility>
#include <variant>

namespace zv {

template <class T, class E>
class [[nodiscard]] BasicResult {
public:
    BasicResult(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    BasicResult(E error) : v_(std::in_place_index<1>, std::move(error)) {}
    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const E& error() const { return std::get<1>(v_); }

private:
    std::variant<T, E> v_;
};

template <class E>
class [[nodiscard]] BasicStatus {
public:
    BasicStatus() = default;
    BasicStatus(E error) : failed_(true), err_(std::move(error)) {}
    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const E& error() const { return err_; }

private:
    bool failed_ = false;
    E err_;
};

}  // namespace zv

// Propagates a failed Result/Status from the enclosing function (which must
// return a Result<...> or Status of the same Error type); otherwise binds the
// value:
//   ZV_TRY(auto tlv, reader.read(tag));    ZV_CHECK(reader.expectEnd("Read"));
#define ZV_RESULT_CAT2(a, b) a##b
#define ZV_RESULT_CAT(a, b) ZV_RESULT_CAT2(a, b)
#define ZV_TRY(decl, expr)                                                                  \
    auto ZV_RESULT_CAT(zv_try_, __LINE__) = (expr);                                         \
    if (!ZV_RESULT_CAT(zv_try_, __LINE__)) return ZV_RESULT_CAT(zv_try_, __LINE__).error(); \
    decl = std::move(*ZV_RESULT_CAT(zv_try_, __LINE__))
#define ZV_CHECK(expr)                              \
    do {                                            \
        auto zv_check_s = (expr);                   \
        if (!zv_check_s) return zv_check_s.error(); \
    } while (0)
