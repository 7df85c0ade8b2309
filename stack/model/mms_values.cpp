#include "mms_values.h"

#include "model/values.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace zv::model {

using mms::Data;
using K = mms::Data::Kind;

namespace {

template <class T>
T load(const uint8_t *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T>
void put(uint8_t *p, T v) {
    std::memcpy(p, &v, sizeof v);
}

AI_VAL_TYPE val_type(const RUNTIME_TYPE *r) { return AI_VAL_TYPE(r->u.p.pad); }

// Whether a value given as sign and magnitude fits the stored integer type;
// `bits24`: an INT32 or INT32U declared 3 bytes long.
bool int_fits(AI_VAL_TYPE t, bool bits24, bool neg, uint64_t mag) {
    auto sfits = [&](uint64_t max_pos) { return neg ? mag <= max_pos + 1 : mag <= max_pos; };
    switch (t) {
    case VAL_TYPE_INT8: return sfits(INT8_MAX);
    case VAL_TYPE_INT16: return sfits(INT16_MAX);
    case VAL_TYPE_INT32: return sfits(bits24 ? 0x7FFFFF : INT32_MAX);
    case VAL_TYPE_INT128: return sfits(INT64_MAX);
    case VAL_TYPE_INT8U: return !neg && mag <= UINT8_MAX;
    case VAL_TYPE_INT16U: return !neg && mag <= UINT16_MAX;
    case VAL_TYPE_INT32U: return !neg && mag <= (bits24 ? 0xFFFFFFu : UINT32_MAX);
    default: return false;
    }
}

// Leaves of a Data value in depth-first order.
bool leaves(const Data &d, std::vector<const Data *> &out, unsigned depth) {
    if (depth > mms::kMaxDataDepth) return false;
    if (d.kind() == K::Array || d.kind() == K::Structure) {
        for (const Data &i : d.items())
            if (!leaves(i, out, depth + 1)) return false;
        return true;
    }
    out.push_back(&d);
    return true;
}

// Walks `d` along the element at `r`, which it must match in shape (kinds of
// arrays and structures, their sizes), and hands each primitive with its
// runtime entry to `leaf`; stops at the first error.
template <class Leaf>
int32_t shaped_leaves(const RUNTIME_TYPE *r, const Data &d, Leaf &leaf, unsigned depth) {
    if (depth > mms::kMaxDataDepth) return mms::kTypeInconsistent;
    if (r->el_tag == RT_PRIMITIVE) return leaf(r, d);
    if (r->el_tag == RT_ARR_START) {
        if (d.kind() != K::Array || d.items().size() != size_t(r->u.arr.num_elmnts)) return mms::kTypeInconsistent;
        for (const Data &item : d.items())
            if (int32_t e = shaped_leaves(r + 1, item, leaf, depth + 1)) return e;
        return 0;
    }
    if (d.kind() != K::Structure) return mms::kTypeInconsistent;
    const RUNTIME_TYPE *last = r + r->offset_to_last;
    size_t k = 0;
    for (const RUNTIME_TYPE *c = r + 1; c < last; c = next_element(c), ++k) {
        if (k >= d.items().size()) return mms::kTypeInconsistent;
        if (int32_t e = shaped_leaves(c, d.items()[k], leaf, depth + 1)) return e;
    }
    return k == d.items().size() ? 0 : mms::kTypeInconsistent;
}

bool build(const RUNTIME_TYPE *r, const NextStored &next, Data &out, unsigned depth) {
    if (depth > mms::kMaxDataDepth) return false;
    if (r->el_tag == RT_PRIMITIVE) {
        const uint8_t *stored = next(val_type(r));
        if (stored == nullptr) return false;
        out = primitive_data(val_type(r), stored);
        return true;
    }
    std::vector<Data> items;
    if (r->el_tag == RT_ARR_START) {
        for (int k = 0; k < r->u.arr.num_elmnts; ++k) {
            items.emplace_back();
            if (!build(r + 1, next, items.back(), depth + 1)) return false;
        }
        out = Data::array(std::move(items));
        return true;
    }
    const RUNTIME_TYPE *last = r + r->offset_to_last;
    for (const RUNTIME_TYPE *c = r + 1; c < last; c = next_element(c)) {
        items.emplace_back();
        if (!build(c, next, items.back(), depth + 1)) return false;
    }
    out = Data::structure(std::move(items));
    return true;
}

// Walks the model's element at `r` beside the device's type `t` and value
// `d` (both null where the device has nothing for it), converting the
// primitives the device delivered; `k` counts primitives in the order
// IedModel::primitives lists them.
struct DescribedWalk {
    const std::vector<Primitive> &prims;
    size_t k = 0;
    std::vector<std::pair<size_t, std::vector<uint8_t>>> out;

    bool shaped(const mms::TypeDescription &t, const Data &d) const {
        using TK = mms::TypeDescription::Kind;
        if (t.kind == TK::Structure) return d.kind() == K::Structure && d.items().size() == t.components.size();
        if (t.kind == TK::Array) return d.kind() == K::Array && !t.element.empty();
        return d.kind() != K::Structure && d.kind() != K::Array;
    }

    int32_t walk(const RUNTIME_TYPE *r, const mms::TypeDescription *t, const Data *d, unsigned depth) {
        using TK = mms::TypeDescription::Kind;
        if (depth > mms::kMaxDataDepth) return mms::kTypeInconsistent;
        if (t && d && !shaped(*t, *d)) return mms::kTypeInconsistent;
        if (t && t->kind == TK::TypeName) t = nullptr, d = nullptr;  // a named type tells no components
        if (r->el_tag == RT_PRIMITIVE) {
            if (k >= prims.size()) return mms::kTypeInconsistent;
            if (t && d && t->kind != TK::Structure && t->kind != TK::Array) {
                std::vector<uint8_t> buf(size_t(prims[k].size) + AI_SIZE_UNISTRING255);
                const int32_t e = stored_from_data(prims[k].type, r->u.p.el_len, *d, buf.data(), ValueSource::Device);
                if (e == 0)
                    out.emplace_back(k, std::move(buf));
                else if (e != mms::kTypeInconsistent)
                    return e;
            }
            ++k;
            return 0;
        }
        if (r->el_tag == RT_ARR_START) {
            const bool both = t && d && t->kind == TK::Array;
            for (int e = 0; e < r->u.arr.num_elmnts; ++e) {
                const bool have = both && size_t(e) < d->items().size();
                if (int32_t err = walk(r + 1, have ? &t->element[0] : nullptr, have ? &d->items()[size_t(e)] : nullptr,
                                       depth + 1))
                    return err;
            }
            return 0;
        }
        const bool both = t && d && t->kind == TK::Structure;
        const RUNTIME_TYPE *last = r + r->offset_to_last;
        for (const RUNTIME_TYPE *c = r + 1; c < last; c = next_element(c)) {
            const mms::TypeDescription *ct = nullptr;
            const Data *cd = nullptr;
            if (both)
                for (size_t j = 0; j < t->components.size(); ++j)
                    if (t->components[j].name == c->comp_name_ptr) {
                        ct = &t->components[j].type;
                        cd = &d->items()[j];
                        break;
                    }
            if (int32_t err = walk(c, ct, cd, depth + 1)) return err;
        }
        return 0;
    }
};

}  // namespace

Data primitive_data(AI_VAL_TYPE type, const uint8_t *p) {
    switch (type) {
    case VAL_TYPE_BOOLEAN: return Data::boolean(p[0] != 0);
    case VAL_TYPE_INT8: return Data::integer(load<int8_t>(p));
    case VAL_TYPE_INT16: return Data::integer(load<int16_t>(p));
    case VAL_TYPE_INT32: return Data::integer(load<int32_t>(p));
    case VAL_TYPE_INT128: return Data::integer(load<int64_t>(p));
    case VAL_TYPE_INT8U: return Data::unsignedInt(p[0]);
    case VAL_TYPE_INT16U: return Data::unsignedInt(load<uint16_t>(p));
    case VAL_TYPE_INT32U: return Data::unsignedInt(load<uint32_t>(p));
    case VAL_TYPE_FLOAT32: return Data::float32(load<float>(p));
    case VAL_TYPE_FLOAT64: return Data::float64(load<double>(p));
    case VAL_TYPE_CODEDENUM:
    case VAL_TYPE_TCMD:
    case VAL_TYPE_QUALITY:
    case VAL_TYPE_OPTFLDS:
    case VAL_TYPE_TRGC:
    case VAL_TYPE_CHECK: {
        // The stored count is clamped to what the stored form holds, and the
        // bits past it go out as zero.
        const int bits = std::clamp<int>(load<int16_t>(p), 0, bitstring_capacity(type));
        mms::BitString b{size_t(bits)};
        if (!b.bytes.empty()) std::memcpy(b.bytes.data(), p + 2, b.bytes.size());
        if (bits % 8) b.bytes.back() &= uint8_t(0xFF << (8 - bits % 8));
        return Data::bitString(std::move(b));
    }
    case VAL_TYPE_OSTRING8:
    case VAL_TYPE_OSTRING64: {
        const int cap = type == VAL_TYPE_OSTRING8 ? 8 : 64;
        const size_t len = size_t(std::clamp<int>(load<int16_t>(p), 0, cap));
        return Data::octetString(std::vector<uint8_t>(p + 2, p + 2 + len));
    }
    case VAL_TYPE_ENTRYID: return Data::octetString(std::vector<uint8_t>(p, p + 8));
    case VAL_TYPE_VSTRING64:
    case VAL_TYPE_VSTRING65:
    case VAL_TYPE_VSTRING129:
    case VAL_TYPE_VSTRING255:
    case VAL_TYPE_UNISTRING255: {
        const char *s = reinterpret_cast<const char *>(p);
        std::string text(s, strnlen(s, stored_size(type)));
        return type == VAL_TYPE_UNISTRING255 ? Data::mmsString(std::move(text)) : Data::visibleString(std::move(text));
    }
    case VAL_TYPE_TIMESTAMP: {
        TimeStamp_TDEF ts;
        std::memcpy(&ts, p, sizeof ts);
        return Data::utcTime(mms::UtcTime{ts.secs, ts.fraction & 0xFFFFFF, uint8_t(ts.qflags)});
    }
    case VAL_TYPE_ENTRYTIME: {
        EntryTime_TDEF et;
        std::memcpy(&et, p, sizeof et);
        return Data::binaryTime(mms::BinaryTime{uint32_t(et.btime6_ms), uint16_t(et.btime6_days)});
    }
    default: return Data::boolean(false);
    }
}

int32_t stored_from_data(AI_VAL_TYPE type, int16_t el_len, const Data &d, uint8_t *out, ValueSource from) {
    const bool write = from == ValueSource::Write;
    const size_t size = stored_size(type);
    switch (type) {
    case VAL_TYPE_BOOLEAN:
        if (d.kind() != K::Boolean) return mms::kTypeInconsistent;
        out[0] = d.asBool() ? 1 : 0;
        return 0;
    case VAL_TYPE_INT8:
    case VAL_TYPE_INT16:
    case VAL_TYPE_INT32:
    case VAL_TYPE_INT128:
    case VAL_TYPE_INT8U:
    case VAL_TYPE_INT16U:
    case VAL_TYPE_INT32U: {
        // Signed Data where unsigned is modelled and back: taken when the
        // value fits the stored width.
        bool neg = false;
        uint64_t mag = 0;
        if (d.kind() == K::Integer) {
            const int64_t v = d.asInt();
            neg = v < 0;
            mag = neg ? uint64_t(0) - uint64_t(v) : uint64_t(v);
        } else if (d.kind() == K::Unsigned) {
            mag = d.asUnsigned();
        } else {
            return mms::kTypeInconsistent;
        }
        if (!int_fits(type, write && el_len == 3, neg, mag)) return mms::kObjectValueInvalid;
        const int64_t sv = neg ? int64_t(uint64_t(0) - mag) : int64_t(mag);
        switch (type) {
        case VAL_TYPE_INT8: put<int8_t>(out, int8_t(sv)); break;
        case VAL_TYPE_INT16: put<int16_t>(out, int16_t(sv)); break;
        case VAL_TYPE_INT32: put<int32_t>(out, int32_t(sv)); break;
        case VAL_TYPE_INT128: put<int64_t>(out, sv); break;
        case VAL_TYPE_INT8U: put<uint8_t>(out, uint8_t(mag)); break;
        case VAL_TYPE_INT16U: put<uint16_t>(out, uint16_t(mag)); break;
        default: put<uint32_t>(out, uint32_t(mag)); break;
        }
        return 0;
    }
    case VAL_TYPE_FLOAT32:
        if (d.kind() == K::Float32)
            put<float>(out, d.asFloat32());
        else if (d.kind() == K::Float64)
            put<float>(out, float(d.asFloat64()));
        else
            return mms::kTypeInconsistent;
        return 0;
    case VAL_TYPE_FLOAT64:
        if (d.kind() == K::Float64)
            put<double>(out, d.asFloat64());
        else if (d.kind() == K::Float32)
            put<double>(out, d.asFloat32());
        else
            return mms::kTypeInconsistent;
        return 0;
    case VAL_TYPE_CODEDENUM:
    case VAL_TYPE_TCMD:
    case VAL_TYPE_QUALITY:
    case VAL_TYPE_OPTFLDS:
    case VAL_TYPE_TRGC:
    case VAL_TYPE_CHECK: {
        if (d.kind() != K::BitString) return mms::kTypeInconsistent;
        const mms::BitString &b = d.asBits();
        if (int(b.bitCount) > bitstring_capacity(type) || (write && b.bitCount == 0)) return mms::kTypeInconsistent;
        // Only the bytes the count covers are copied, and only when they are there.
        const size_t bytes = (b.bitCount + 7) / 8;
        if (b.bytes.size() < bytes) return mms::kObjectValueInvalid;
        std::memset(out, 0, size);
        put<int16_t>(out, int16_t(b.bitCount));
        if (bytes) std::memcpy(out + 2, b.bytes.data(), bytes);
        return 0;
    }
    case VAL_TYPE_OSTRING8:
    case VAL_TYPE_OSTRING64: {
        if (d.kind() != K::OctetString) return mms::kTypeInconsistent;
        size_t cap = type == VAL_TYPE_OSTRING8 ? 8 : 64;
        if (write && el_len > 0) cap = std::min(cap, size_t(el_len));
        const std::vector<uint8_t> &o = d.asOctets();
        if (o.size() > cap) return mms::kObjectValueInvalid;
        std::memset(out, 0, size);
        put<int16_t>(out, int16_t(o.size()));
        if (!o.empty()) std::memcpy(out + 2, o.data(), o.size());
        return 0;
    }
    case VAL_TYPE_ENTRYID:
        if (d.kind() != K::OctetString) return mms::kTypeInconsistent;
        if (d.asOctets().size() != 8) return mms::kObjectValueInvalid;
        std::memcpy(out, d.asOctets().data(), 8);
        return 0;
    case VAL_TYPE_VSTRING64:
    case VAL_TYPE_VSTRING65:
    case VAL_TYPE_VSTRING129:
    case VAL_TYPE_VSTRING255:
    case VAL_TYPE_UNISTRING255: {
        const bool uni = type == VAL_TYPE_UNISTRING255;
        const bool kind_ok = d.kind() == K::VisibleString || (d.kind() == K::MmsString && (uni || !write));
        if (!kind_ok) return mms::kTypeInconsistent;
        const std::string &s = d.asString();
        size_t limit = size - 1;  // room for the NUL
        if (write && !uni && el_len > 0) limit = std::min(limit, size_t(el_len));
        // A NUL inside would cut the stored text short without a word.
        if (s.size() > limit || s.find('\0') != std::string::npos) return mms::kObjectValueInvalid;
        std::memset(out, 0, size);
        std::memcpy(out, s.data(), s.size());
        return 0;
    }
    case VAL_TYPE_TIMESTAMP: {
        if (d.kind() != K::UtcTime) return mms::kTypeInconsistent;
        const mms::UtcTime &t = d.asUtcTime();
        const TimeStamp_TDEF ts{t.seconds, t.fraction & 0xFFFFFF, t.quality};
        std::memcpy(out, &ts, sizeof ts);
        return 0;
    }
    case VAL_TYPE_ENTRYTIME: {
        if (d.kind() != K::BinaryTime) return mms::kTypeInconsistent;
        const mms::BinaryTime &t = d.asBinaryTime();
        if (t.msOfDay >= 86400000u) return mms::kObjectValueInvalid;
        const EntryTime_TDEF et{int32_t(t.msOfDay), int32_t(t.days.value_or(0))};
        std::memcpy(out, &et, sizeof et);
        return 0;
    }
    default: return mms::kTypeUnsupported;
    }
}

const RUNTIME_TYPE *next_element(const RUNTIME_TYPE *r) {
    return r->el_tag == RT_PRIMITIVE ? r + 1 : r + r->offset_to_last + 1;
}

bool element_data(const RUNTIME_TYPE *r, const NextStored &next, Data &out) { return build(r, next, out, 0); }

bool object_data(const IedModel &m, AI_OBJ_ID id, Data &out) {
    const RUNTIME_TYPE *first = nullptr;
    int32_t num = 0;
    if (!m.type_of(id, first, num) || first == nullptr) return false;
    std::vector<Primitive> prims;
    m.primitives(id, prims);
    size_t k = 0;
    return element_data(
        first,
        [&](AI_VAL_TYPE t) -> const uint8_t * {
            if (k >= prims.size() || prims[k].type != t) return nullptr;
            return prims[k++].data;
        },
        out);
}

int32_t prepare_object(const IedModel &m, AI_OBJ_ID id, const Data &d, ValueSource from, PreparedValue &out) {
    const RUNTIME_TYPE *first = nullptr;
    int32_t num = 0;
    std::vector<Primitive> &prims = out.prims;
    prims.clear();
    prims.reserve(IedModel::kTypicalPrimitives);
    if (from == ValueSource::Write) {
        if (!m.type_of(id, first, num) || first == nullptr) return mms::kObjectNonExistent;
        m.primitives(id, prims);
    } else if (!m.primitives(id, prims) || prims.empty()) {
        return mms::kObjectNonExistent;
    }

    // Converted values side by side, each in its primitive's stored size; the
    // tail leaves room for the largest stored form.
    size_t total = 0;
    for (const Primitive &p : prims) total += size_t(p.size);
    std::vector<uint8_t> &buf = out.bytes;
    buf.assign(total + AI_SIZE_UNISTRING255, 0);
    size_t k = 0, off = 0;
    auto convert = [&](AI_VAL_TYPE type, int16_t el_len, const Data &leaf) -> int32_t {
        if (k >= prims.size()) return mms::kTypeInconsistent;
        if (int32_t e = stored_from_data(type, el_len, leaf, buf.data() + off, from)) return e;
        off += size_t(prims[k++].size);
        return 0;
    };
    if (from == ValueSource::Write) {
        auto leaf = [&](const RUNTIME_TYPE *r, const Data &v) { return convert(val_type(r), r->u.p.el_len, v); };
        if (int32_t e = shaped_leaves(first, d, leaf, 0)) return e;
    } else {
        std::vector<const Data *> ls;
        ls.reserve(prims.size());
        if (!leaves(d, ls, 0) || ls.size() != prims.size()) return mms::kTypeInconsistent;
        for (size_t i = 0; i < ls.size(); ++i)
            if (int32_t e = convert(prims[i].type, prims[i].rt ? prims[i].rt->u.p.el_len : 0, *ls[i])) return e;
    }
    if (k != prims.size()) return mms::kTypeInconsistent;
    return 0;
}

void store_prepared(IedModel &m, const PreparedValue *values, size_t n) {
    std::unique_lock<std::shared_mutex> lock(m.value_mutex());
    for (size_t i = 0; i < n; ++i) {
        size_t off = 0;
        for (const Primitive &p : values[i].prims) {
            std::memcpy(p.data, values[i].bytes.data() + off, size_t(p.size));
            off += size_t(p.size);
        }
    }
}

int32_t store_object(IedModel &m, AI_OBJ_ID id, const Data &d, ValueSource from) {
    // Kept per thread: a read's value is converted without a fresh allocation.
    thread_local PreparedValue v;
    if (int32_t e = prepare_object(m, id, d, from, v)) return e;
    store_prepared(m, &v, 1);
    return 0;
}

int32_t store_described(IedModel &m, AI_OBJ_ID id, const mms::TypeDescription &type, const Data &d) {
    const RUNTIME_TYPE *first = nullptr;
    int32_t num = 0;
    if (!m.type_of(id, first, num) || first == nullptr) return mms::kObjectNonExistent;
    std::vector<Primitive> prims;
    m.primitives(id, prims);
    DescribedWalk w{prims, 0, {}};
    if (int32_t e = w.walk(first, &type, &d, 0)) return e;
    std::unique_lock<std::shared_mutex> lock(m.value_mutex());
    for (const auto &o : w.out) std::memcpy(prims[o.first].data, o.second.data(), size_t(prims[o.first].size));
    return 0;
}

}  // namespace zv::model
