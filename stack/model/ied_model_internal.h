// What the builder and the queries of IedModel both need; private to
// ied_model_build.cpp and ied_model_query.cpp.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "model/ied_model.h"

namespace zv::model {

namespace {

inline size_t align_up(size_t v, size_t a) { return (v + a - 1) / a * a; }

inline std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (;;) {
        size_t p = s.find(sep, start);
        out.push_back(s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start));
        if (p == std::string_view::npos) break;
        start = p + 1;
    }
    return out;
}

// "name(k)": an array element as a reference names it. Strict (no sign, no
// leading zero, below kMaxArrayCount) so that every element has one spelling.
inline bool parse_element(std::string_view comp, std::string_view &name, uint32_t &k) {
    if (comp.size() < 4 || comp.back() != ')') return false;
    size_t open = comp.find('(');
    if (open == 0 || open == std::string_view::npos || open + 2 >= comp.size()) return false;
    std::string_view digits = comp.substr(open + 1, comp.size() - open - 2);
    if (digits.size() > 4 || (digits.size() > 1 && digits[0] == '0')) return false;
    uint32_t v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint32_t(c - '0');
    }
    if (v >= scl::kMaxArrayCount) return false;
    name = comp.substr(0, open);
    k = v;
    return true;
}

inline const RUNTIME_TYPE *next_elem(const RUNTIME_TYPE *r) {
    return r->el_tag == RT_PRIMITIVE ? r + 1 : r + r->offset_to_last + 1;
}

}  // namespace

}  // namespace zv::model
