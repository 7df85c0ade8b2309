#include "codec.h"

#include "model/values.h"

#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace zv::client {

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

const RUNTIME_TYPE *after(const RUNTIME_TYPE *r) { return r->el_tag == RT_PRIMITIVE ? r + 1 : r + r->offset_to_last + 1; }

bool build(const RUNTIME_TYPE *r, const AI_PRIM_VAL *&p, const AI_PRIM_VAL *end, Data &out, unsigned depth) {
    if (depth > mms::kMaxDataDepth) return false;
    if (r->el_tag == RT_PRIMITIVE) {
        if (p == end) return false;
        const AI_PRIM_VAL &v = *p++;
        const AI_VAL_TYPE t = AI_VAL_TYPE(r->u.p.pad);
        if (v.type != t || v.data == nullptr || size_t(v.size) != model::stored_size(t)) return false;
        out = primitive_data(t, static_cast<const uint8_t *>(v.data));
        return true;
    }
    std::vector<Data> items;
    if (r->el_tag == RT_ARR_START) {
        for (int k = 0; k < r->u.arr.num_elmnts; ++k) {
            items.emplace_back();
            if (!build(r + 1, p, end, items.back(), depth + 1)) return false;
        }
        out = Data::array(std::move(items));
        return true;
    }
    const RUNTIME_TYPE *last = r + r->offset_to_last;
    for (const RUNTIME_TYPE *c = r + 1; c < last; c = after(c)) {
        items.emplace_back();
        if (!build(c, p, end, items.back(), depth + 1)) return false;
    }
    out = Data::structure(std::move(items));
    return true;
}

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
        int bits = load<int16_t>(p);
        const int cap = model::bitstring_capacity(type);
        if (bits < 0) bits = 0;
        if (bits > cap) bits = cap;
        mms::BitString b{size_t(bits)};
        if (!b.bytes.empty()) std::memcpy(b.bytes.data(), p + 2, b.bytes.size());
        if (bits % 8) b.bytes.back() &= uint8_t(0xFF << (8 - bits % 8));
        return Data::bitString(std::move(b));
    }
    case VAL_TYPE_OSTRING8:
    case VAL_TYPE_OSTRING64: {
        const size_t cap = type == VAL_TYPE_OSTRING8 ? 8 : 64;
        const int16_t n = load<int16_t>(p);
        const size_t len = n < 0 ? 0 : std::min(size_t(n), cap);
        return Data::octetString(std::vector<uint8_t>(p + 2, p + 2 + len));
    }
    case VAL_TYPE_ENTRYID: return Data::octetString(std::vector<uint8_t>(p, p + 8));
    case VAL_TYPE_VSTRING64:
    case VAL_TYPE_VSTRING65:
    case VAL_TYPE_VSTRING129:
    case VAL_TYPE_VSTRING255:
        return Data::visibleString(
            std::string(reinterpret_cast<const char *>(p), strnlen(reinterpret_cast<const char *>(p), model::stored_size(type))));
    case VAL_TYPE_UNISTRING255:
        return Data::mmsString(
            std::string(reinterpret_cast<const char *>(p), strnlen(reinterpret_cast<const char *>(p), AI_SIZE_UNISTRING255)));
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

int32_t stored_from_data(AI_VAL_TYPE type, const Data &d, uint8_t *out) {
    const size_t size = model::stored_size(type);
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
        // Devices send signed where unsigned is modelled and back: take the
        // value when it fits the stored width.
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
        auto sfits = [&](uint64_t maxPos) { return neg ? mag <= maxPos + 1 : mag <= maxPos; };
        const int64_t sv = neg ? int64_t(0 - mag) : int64_t(mag);
        switch (type) {
        case VAL_TYPE_INT8: if (!sfits(127)) return mms::kObjectValueInvalid; put<int8_t>(out, int8_t(sv)); break;
        case VAL_TYPE_INT16: if (!sfits(32767)) return mms::kObjectValueInvalid; put<int16_t>(out, int16_t(sv)); break;
        case VAL_TYPE_INT32: if (!sfits(INT32_MAX)) return mms::kObjectValueInvalid; put<int32_t>(out, int32_t(sv)); break;
        case VAL_TYPE_INT128: if (!sfits(INT64_MAX)) return mms::kObjectValueInvalid; put<int64_t>(out, sv); break;
        case VAL_TYPE_INT8U: if (neg || mag > 0xFF) return mms::kObjectValueInvalid; out[0] = uint8_t(mag); break;
        case VAL_TYPE_INT16U: if (neg || mag > 0xFFFF) return mms::kObjectValueInvalid; put<uint16_t>(out, uint16_t(mag)); break;
        default: if (neg || mag > 0xFFFFFFFFu) return mms::kObjectValueInvalid; put<uint32_t>(out, uint32_t(mag)); break;
        }
        return 0;
    }
    case VAL_TYPE_FLOAT32:
        if (d.kind() == K::Float32) put<float>(out, d.asFloat32());
        else if (d.kind() == K::Float64) put<float>(out, float(d.asFloat64()));
        else return mms::kTypeInconsistent;
        return 0;
    case VAL_TYPE_FLOAT64:
        if (d.kind() == K::Float64) put<double>(out, d.asFloat64());
        else if (d.kind() == K::Float32) put<double>(out, d.asFloat32());
        else return mms::kTypeInconsistent;
        return 0;
    case VAL_TYPE_CODEDENUM:
    case VAL_TYPE_TCMD:
    case VAL_TYPE_QUALITY:
    case VAL_TYPE_OPTFLDS:
    case VAL_TYPE_TRGC:
    case VAL_TYPE_CHECK: {
        if (d.kind() != K::BitString) return mms::kTypeInconsistent;
        const mms::BitString &b = d.asBits();
        const int cap = model::bitstring_capacity(type);
        if (int(b.bitCount) > cap || b.bytes.size() < (b.bitCount + 7) / 8) return mms::kObjectValueInvalid;
        std::memset(out, 0, size);
        put<int16_t>(out, int16_t(b.bitCount));
        std::memcpy(out + 2, b.bytes.data(), (b.bitCount + 7) / 8);
        return 0;
    }
    case VAL_TYPE_OSTRING8:
    case VAL_TYPE_OSTRING64: {
        if (d.kind() != K::OctetString) return mms::kTypeInconsistent;
        const size_t cap = type == VAL_TYPE_OSTRING8 ? 8 : 64;
        if (d.asOctets().size() > cap) return mms::kObjectValueInvalid;
        std::memset(out, 0, size);
        put<int16_t>(out, int16_t(d.asOctets().size()));
        if (!d.asOctets().empty()) std::memcpy(out + 2, d.asOctets().data(), d.asOctets().size());
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
        if (d.kind() != K::VisibleString && d.kind() != K::MmsString) return mms::kTypeInconsistent;
        const std::string &s = d.asString();
        if (s.size() > size - 1 || s.find('\0') != std::string::npos) return mms::kObjectValueInvalid;
        std::memset(out, 0, size);
        std::memcpy(out, s.data(), s.size());
        return 0;
    }
    case VAL_TYPE_TIMESTAMP: {
        if (d.kind() != K::UtcTime) return mms::kTypeInconsistent;
        const TimeStamp_TDEF ts{d.asUtcTime().seconds, d.asUtcTime().fraction & 0xFFFFFF, d.asUtcTime().quality};
        std::memcpy(out, &ts, sizeof ts);
        return 0;
    }
    case VAL_TYPE_ENTRYTIME: {
        if (d.kind() != K::BinaryTime) return mms::kTypeInconsistent;
        if (d.asBinaryTime().msOfDay >= 86400000u) return mms::kObjectValueInvalid;
        const EntryTime_TDEF et{int32_t(d.asBinaryTime().msOfDay), int32_t(d.asBinaryTime().days.value_or(0))};
        std::memcpy(out, &et, sizeof et);
        return 0;
    }
    default: return mms::kTypeUnsupported;
    }
}

int32_t store_object(model::IedModel &m, AI_OBJ_ID id, const Data &d) {
    std::vector<model::Primitive> prims;
    if (!m.primitives(id, prims) || prims.empty()) return mms::kObjectNonExistent;
    std::vector<const Data *> ls;
    if (!leaves(d, ls, 0) || ls.size() != prims.size()) return mms::kTypeInconsistent;
    size_t total = 0;
    for (const auto &p : prims) total += size_t(p.size);
    std::vector<uint8_t> buf(total + AI_SIZE_UNISTRING255);
    size_t off = 0;
    for (size_t k = 0; k < prims.size(); ++k) {
        if (int32_t e = stored_from_data(prims[k].type, *ls[k], buf.data() + off)) return e;
        off += size_t(prims[k].size);
    }
    std::unique_lock<std::shared_mutex> lock(m.value_mutex());
    off = 0;
    for (const auto &p : prims) {
        std::memcpy(p.data, buf.data() + off, size_t(p.size));
        off += size_t(p.size);
    }
    return 0;
}

bool object_data(const model::IedModel &m, AI_OBJ_ID id, const AI_PRIM_VAL *vals, int32_t n, Data &out) {
    const RUNTIME_TYPE *first = nullptr;
    int32_t num = 0;
    if (n <= 0 || vals == nullptr || !m.type_of(id, first, num) || first == nullptr) return false;
    const AI_PRIM_VAL *p = vals;
    if (!build(first, p, vals + n, out, 0)) return false;
    return p == vals + n;
}

bool object_name(const std::string &ref, mms::ObjectName &out) {
    const size_t slash = ref.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 >= ref.size()) return false;
    out = mms::ObjectName::dom(ref.substr(0, slash), ref.substr(slash + 1));
    return true;
}

}  // namespace zv::client
