#include "codec.h"

#include "model/values.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <shared_mutex>

namespace zv::iedsim {

using mms::Data;
using mms::TypeDescription;
using TK = mms::TypeDescription::Kind;

namespace {

AI_VAL_TYPE valType(const RUNTIME_TYPE* r) { return AI_VAL_TYPE(r->u.p.pad); }

const RUNTIME_TYPE* afterElement(const RUNTIME_TYPE* r) {
    return r->el_tag == RT_PRIMITIVE ? r + 1 : r + r->offset_to_last + 1;
}

TypeDescription primitiveType(const RUNTIME_TYPE* r) {
    const int16_t len = r->u.p.el_len;
    switch (valType(r)) {
    case VAL_TYPE_BOOLEAN: return TypeDescription::simple(TK::Boolean);
    case VAL_TYPE_INT8: return TypeDescription::simple(TK::Integer, 8);
    case VAL_TYPE_INT16: return TypeDescription::simple(TK::Integer, 16);
    case VAL_TYPE_INT32: return TypeDescription::simple(TK::Integer, len == 3 ? 24 : 32);
    case VAL_TYPE_INT128: return TypeDescription::simple(TK::Integer, 64);
    case VAL_TYPE_INT8U: return TypeDescription::simple(TK::Unsigned, 8);
    case VAL_TYPE_INT16U: return TypeDescription::simple(TK::Unsigned, 16);
    case VAL_TYPE_INT32U: return TypeDescription::simple(TK::Unsigned, len == 3 ? 24 : 32);
    case VAL_TYPE_FLOAT32: return TypeDescription::floating(32, 8);
    case VAL_TYPE_FLOAT64: return TypeDescription::floating(64, 11);
    case VAL_TYPE_CODEDENUM:
    case VAL_TYPE_TCMD:
    case VAL_TYPE_CHECK: return TypeDescription::simple(TK::BitString, 2);
    case VAL_TYPE_QUALITY: return TypeDescription::simple(TK::BitString, 13);
    case VAL_TYPE_OPTFLDS: return TypeDescription::simple(TK::BitString, 10);
    case VAL_TYPE_TRGC: return TypeDescription::simple(TK::BitString, 6);
    case VAL_TYPE_OSTRING8:
    case VAL_TYPE_OSTRING64: return TypeDescription::simple(TK::OctetString, -len);
    case VAL_TYPE_ENTRYID: return TypeDescription::simple(TK::OctetString, 8);
    case VAL_TYPE_VSTRING64:
    case VAL_TYPE_VSTRING65:
    case VAL_TYPE_VSTRING129:
    case VAL_TYPE_VSTRING255: return TypeDescription::simple(TK::VisibleString, -len);
    case VAL_TYPE_UNISTRING255: return TypeDescription::simple(TK::MmsString, -len);
    case VAL_TYPE_TIMESTAMP: return TypeDescription::simple(TK::UtcTime);
    case VAL_TYPE_ENTRYTIME: {
        TypeDescription t = TypeDescription::simple(TK::BinaryTime);
        t.binaryTimeWithDate = true;
        return t;
    }
    default: return TypeDescription::simple(TK::Boolean);
    }
}

template <class T>
T load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T>
void store(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

int bitCapacity(AI_VAL_TYPE t) { return model::bitstring_capacity(t); }

// Integer range check for the stored width.
bool fits(AI_VAL_TYPE t, int16_t len, bool neg, uint64_t mag, int64_t sv) {
    switch (t) {
    case VAL_TYPE_INT8: return sv >= -128 && sv <= 127 && (neg || mag <= 127);
    case VAL_TYPE_INT16: return sv >= -32768 && sv <= 32767 && (neg || mag <= 32767);
    case VAL_TYPE_INT32:
        if (len == 3) return sv >= -8388608 && sv <= 8388607 && (neg || mag <= 8388607);
        return sv >= INT32_MIN && sv <= INT32_MAX && (neg || mag <= uint64_t(INT32_MAX));
    case VAL_TYPE_INT128: return neg || mag <= uint64_t(INT64_MAX);
    case VAL_TYPE_INT8U: return !neg && mag <= 255;
    case VAL_TYPE_INT16U: return !neg && mag <= 65535;
    case VAL_TYPE_INT32U: return !neg && mag <= (len == 3 ? 0xFFFFFFu : 0xFFFFFFFFu);
    default: return false;
    }
}

Data buildData(const RUNTIME_TYPE* r, const model::Primitive*& p, const model::Primitive* end, bool& ok) {
    if (r->el_tag == RT_PRIMITIVE) {
        if (p == end) {
            ok = false;
            return Data();
        }
        const model::Primitive& prim = *p++;
        return primitiveData(prim.type, prim.data);
    }
    std::vector<Data> items;
    if (r->el_tag == RT_ARR_START) {
        for (int k = 0; k < r->u.arr.num_elmnts && ok; ++k) items.push_back(buildData(r + 1, p, end, ok));
        return Data::array(std::move(items));
    }
    const RUNTIME_TYPE* last = r + r->offset_to_last;
    for (const RUNTIME_TYPE* c = r + 1; c < last && ok; c = afterElement(c)) items.push_back(buildData(c, p, end, ok));
    return Data::structure(std::move(items));
}

// Checks `d` against the element and appends the stored forms, one per primitive.
int32_t flatten(const RUNTIME_TYPE* r, const Data& d, std::vector<std::vector<uint8_t>>& out, unsigned depth) {
    if (depth > mms::kMaxDataDepth) return mms::kTypeInconsistent;
    if (r->el_tag == RT_PRIMITIVE) {
        std::vector<uint8_t> buf(model::stored_size(valType(r)) + 1);
        int32_t e = storedFromData(valType(r), r->u.p.el_len, d, buf.data());
        if (e) return e;
        buf.pop_back();
        out.push_back(std::move(buf));
        return 0;
    }
    if (r->el_tag == RT_ARR_START) {
        if (d.kind() != Data::Kind::Array || d.items().size() != size_t(r->u.arr.num_elmnts))
            return mms::kTypeInconsistent;
        for (const Data& item : d.items())
            if (int32_t e = flatten(r + 1, item, out, depth + 1)) return e;
        return 0;
    }
    if (d.kind() != Data::Kind::Structure) return mms::kTypeInconsistent;
    const RUNTIME_TYPE* last = r + r->offset_to_last;
    size_t k = 0;
    for (const RUNTIME_TYPE* c = r + 1; c < last; c = afterElement(c), ++k) {
        if (k >= d.items().size()) return mms::kTypeInconsistent;
        if (int32_t e = flatten(c, d.items()[k], out, depth + 1)) return e;
    }
    return k == d.items().size() ? 0 : mms::kTypeInconsistent;
}

}  // namespace

TypeDescription typeDescription(const RUNTIME_TYPE* r) {
    if (r->el_tag == RT_PRIMITIVE) return primitiveType(r);
    if (r->el_tag == RT_ARR_START)
        return TypeDescription::arrayOf(uint32_t(r->u.arr.num_elmnts), typeDescription(r + 1));
    std::vector<TypeDescription::Component> comps;
    const RUNTIME_TYPE* last = r + r->offset_to_last;
    for (const RUNTIME_TYPE* c = r + 1; c < last; c = afterElement(c))
        comps.push_back(TypeDescription::Component{c->comp_name_ptr ? c->comp_name_ptr : "", typeDescription(c)});
    return TypeDescription::structure(std::move(comps));
}

Data primitiveData(AI_VAL_TYPE type, const uint8_t* p) {
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
        if (bits < 0) bits = 0;
        if (bits > bitCapacity(type)) bits = bitCapacity(type);
        mms::BitString b{size_t(bits)};
        std::memcpy(b.bytes.data(), p + 2, b.bytes.size());
        if (bits % 8) b.bytes.back() &= uint8_t(0xFF << (8 - bits % 8));
        return Data::bitString(std::move(b));
    }
    case VAL_TYPE_OSTRING8:
    case VAL_TYPE_OSTRING64: {
        const size_t cap = type == VAL_TYPE_OSTRING8 ? 8 : 64;
        int16_t n = load<int16_t>(p);
        size_t len = n < 0 ? 0 : std::min(size_t(n), cap);
        return Data::octetString(std::vector<uint8_t>(p + 2, p + 2 + len));
    }
    case VAL_TYPE_ENTRYID: return Data::octetString(std::vector<uint8_t>(p, p + 8));
    case VAL_TYPE_VSTRING64:
    case VAL_TYPE_VSTRING65:
    case VAL_TYPE_VSTRING129:
    case VAL_TYPE_VSTRING255: {
        const size_t cap = model::stored_size(type);
        return Data::visibleString(std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), cap)));
    }
    case VAL_TYPE_UNISTRING255:
        return Data::mmsString(
            std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), AI_SIZE_UNISTRING255)));
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

int32_t storedFromData(AI_VAL_TYPE type, int16_t el_len, const Data& d, uint8_t* out) {
    using K = Data::Kind;
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
        // Signed and unsigned Data are both taken when the value fits.
        bool neg = false;
        uint64_t mag = 0;
        int64_t sv = 0;
        if (d.kind() == K::Integer) {
            sv = d.asInt();
            neg = sv < 0;
            mag = neg ? 0 : uint64_t(sv);
        } else if (d.kind() == K::Unsigned) {
            mag = d.asUnsigned();
            sv = mag > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(mag);
        } else {
            return mms::kTypeInconsistent;
        }
        if (!fits(type, el_len, neg, mag, sv)) return mms::kObjectValueInvalid;
        switch (type) {
        case VAL_TYPE_INT8: store<int8_t>(out, int8_t(sv)); break;
        case VAL_TYPE_INT16: store<int16_t>(out, int16_t(sv)); break;
        case VAL_TYPE_INT32: store<int32_t>(out, int32_t(sv)); break;
        case VAL_TYPE_INT128: store<int64_t>(out, neg ? sv : int64_t(mag)); break;
        case VAL_TYPE_INT8U: store<uint8_t>(out, uint8_t(mag)); break;
        case VAL_TYPE_INT16U: store<uint16_t>(out, uint16_t(mag)); break;
        default: store<uint32_t>(out, uint32_t(mag)); break;
        }
        return 0;
    }
    case VAL_TYPE_FLOAT32:
        if (d.kind() == K::Float32) store<float>(out, d.asFloat32());
        else if (d.kind() == K::Float64) store<float>(out, float(d.asFloat64()));
        else return mms::kTypeInconsistent;
        return 0;
    case VAL_TYPE_FLOAT64:
        if (d.kind() == K::Float64) store<double>(out, d.asFloat64());
        else if (d.kind() == K::Float32) store<double>(out, d.asFloat32());
        else return mms::kTypeInconsistent;
        return 0;
    case VAL_TYPE_CODEDENUM:
    case VAL_TYPE_TCMD:
    case VAL_TYPE_QUALITY:
    case VAL_TYPE_OPTFLDS:
    case VAL_TYPE_TRGC:
    case VAL_TYPE_CHECK: {
        if (d.kind() != K::BitString) return mms::kTypeInconsistent;
        const mms::BitString& b = d.asBits();
        const int cap = bitCapacity(type);
        if (b.bitCount == 0 || int(b.bitCount) > cap) return mms::kTypeInconsistent;
        std::memset(out, 0, model::stored_size(type));
        store<int16_t>(out, int16_t(b.bitCount));
        std::memcpy(out + 2, b.bytes.data(), std::min<size_t>(b.bytes.size(), size_t((cap + 7) / 8)));
        return 0;
    }
    case VAL_TYPE_OSTRING8:
    case VAL_TYPE_OSTRING64: {
        if (d.kind() != K::OctetString) return mms::kTypeInconsistent;
        const size_t cap = std::min<size_t>(type == VAL_TYPE_OSTRING8 ? 8 : 64, size_t(el_len > 0 ? el_len : 64));
        if (d.asOctets().size() > cap) return mms::kObjectValueInvalid;
        std::memset(out, 0, model::stored_size(type));
        store<int16_t>(out, int16_t(d.asOctets().size()));
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
        const bool uni = type == VAL_TYPE_UNISTRING255;
        if (d.kind() != (uni ? K::MmsString : K::VisibleString) &&
            !(uni && d.kind() == K::VisibleString))
            return mms::kTypeInconsistent;
        const std::string& s = d.asString();
        const size_t cap = model::stored_size(type) - 1;
        const size_t limit = uni ? cap : std::min(cap, size_t(el_len > 0 ? el_len : cap));
        if (s.size() > limit) return mms::kObjectValueInvalid;
        std::memset(out, 0, model::stored_size(type));
        std::memcpy(out, s.data(), s.size());
        return 0;
    }
    case VAL_TYPE_TIMESTAMP: {
        if (d.kind() != K::UtcTime) return mms::kTypeInconsistent;
        TimeStamp_TDEF ts{d.asUtcTime().seconds, d.asUtcTime().fraction & 0xFFFFFF, d.asUtcTime().quality};
        std::memcpy(out, &ts, sizeof ts);
        return 0;
    }
    case VAL_TYPE_ENTRYTIME: {
        if (d.kind() != K::BinaryTime) return mms::kTypeInconsistent;
        EntryTime_TDEF et{int32_t(d.asBinaryTime().msOfDay), int32_t(d.asBinaryTime().days.value_or(0))};
        if (d.asBinaryTime().msOfDay >= 86400000u) return mms::kObjectValueInvalid;
        std::memcpy(out, &et, sizeof et);
        return 0;
    }
    default: return mms::kTypeUnsupported;
    }
}

bool objectData(const model::IedModel& m, AI_OBJ_ID id, Data& out) {
    const RUNTIME_TYPE* first = nullptr;
    int32_t num = 0;
    if (!m.type_of(id, first, num)) return false;
    std::vector<model::Primitive> prims;
    m.primitives(id, prims);
    const model::Primitive* p = prims.data();
    bool ok = true;
    out = buildData(first, p, prims.data() + prims.size(), ok);
    return ok;
}

int32_t selectAlternate(const RUNTIME_TYPE* rt, const Data& whole, const mms::AlternateAccess& aa, Data& out) {
    // IEC 61850-8-1 clients send one selection per level, nested for deeper ones.
    const RUNTIME_TYPE* r = rt;
    const Data* cur = &whole;
    const mms::AlternateAccess* level = &aa;
    Data ranged;
    for (unsigned depth = 0; depth <= mms::kMaxDataDepth; ++depth) {
        if (level->empty()) {
            out = *cur;
            return 0;
        }
        if (level->size() != 1) return mms::kObjectAccessUnsupported;
        const mms::AlternateAccessItem& it = level->front();
        using S = mms::AlternateAccessItem::Selector;
        switch (it.selector) {
        case S::Component: {
            if (r->el_tag != RT_STR_START) return mms::kObjectNonExistent;
            const RUNTIME_TYPE* last = r + r->offset_to_last;
            size_t k = 0;
            const RUNTIME_TYPE* found = nullptr;
            for (const RUNTIME_TYPE* c = r + 1; c < last; c = afterElement(c), ++k)
                if (c->comp_name_ptr && it.component == c->comp_name_ptr) {
                    found = c;
                    break;
                }
            if (!found || k >= cur->items().size()) return mms::kObjectNonExistent;
            r = found;
            cur = &cur->items()[k];
            break;
        }
        case S::Index:
            if (r->el_tag != RT_ARR_START) return mms::kObjectNonExistent;
            if (it.index >= cur->items().size()) return mms::kObjectNonExistent;
            cur = &cur->items()[it.index];
            r = r + 1;
            break;
        case S::IndexRange: {
            if (r->el_tag != RT_ARR_START) return mms::kObjectNonExistent;
            if (it.count == 0 || uint64_t(it.index) + it.count > cur->items().size()) return mms::kObjectNonExistent;
            if (it.selectAlternate && !it.nested.empty()) return mms::kObjectAccessUnsupported;
            std::vector<Data> items(cur->items().begin() + it.index, cur->items().begin() + it.index + it.count);
            out = Data::array(std::move(items));
            return 0;
        }
        case S::AllElements:
            if (r->el_tag != RT_ARR_START) return mms::kObjectNonExistent;
            if (it.selectAlternate && !it.nested.empty()) return mms::kObjectAccessUnsupported;
            out = *cur;
            return 0;
        }
        if (!it.selectAlternate) {
            out = *cur;
            return 0;
        }
        level = &it.nested;
    }
    return mms::kObjectAccessUnsupported;
}

int32_t writeObject(model::IedModel& m, AI_OBJ_ID id, const Data& d) {
    const RUNTIME_TYPE* first = nullptr;
    int32_t num = 0;
    if (!m.type_of(id, first, num)) return mms::kObjectNonExistent;
    std::vector<std::vector<uint8_t>> stored;
    if (int32_t e = flatten(first, d, stored, 0)) return e;
    std::vector<model::Primitive> prims;
    m.primitives(id, prims);
    if (prims.size() != stored.size()) return mms::kTypeInconsistent;
    std::unique_lock<std::shared_mutex> lock(m.value_mutex());
    for (size_t k = 0; k < prims.size(); ++k) std::memcpy(prims[k].data, stored[k].data(), stored[k].size());
    return 0;
}

}  // namespace zv::iedsim
