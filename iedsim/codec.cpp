#include "codec.h"

namespace zv::iedsim {

using mms::Data;
using mms::TypeDescription;
using TK = mms::TypeDescription::Kind;

namespace {

AI_VAL_TYPE valType(const RUNTIME_TYPE* r) { return AI_VAL_TYPE(r->u.p.pad); }

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
    // Report OptFlds are 10 bits, sampled value OptFlds 5: the element says.
    case VAL_TYPE_OPTFLDS: return TypeDescription::simple(TK::BitString, len > 0 && len <= 16 ? len : 10);
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

}  // namespace

TypeDescription typeDescription(const RUNTIME_TYPE* r) {
    if (r->el_tag == RT_PRIMITIVE) return primitiveType(r);
    if (r->el_tag == RT_ARR_START)
        return TypeDescription::arrayOf(uint32_t(r->u.arr.num_elmnts), typeDescription(r + 1));
    std::vector<TypeDescription::Component> comps;
    const RUNTIME_TYPE* last = r + r->offset_to_last;
    for (const RUNTIME_TYPE* c = r + 1; c < last; c = model::next_element(c))
        comps.push_back(TypeDescription::Component{c->comp_name_ptr ? c->comp_name_ptr : "", typeDescription(c)});
    return TypeDescription::structure(std::move(comps));
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
            for (const RUNTIME_TYPE* c = r + 1; c < last; c = model::next_element(c), ++k)
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

bool variableOf(const std::string& ref, mms::VariableRef& out) {
    const size_t slash = ref.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 >= ref.size()) return false;
    const std::string item = ref.substr(slash + 1);
    const size_t open = item.find('(');
    out = mms::VariableRef{};
    if (open == std::string::npos) {
        out.name = mms::ObjectName::dom(ref.substr(0, slash), item);
        return true;
    }
    // IEC 61850-8-1: an array element is not a named variable; it is the
    // array's variable with an index, and the components below it are
    // selected level by level.
    const size_t close = item.find(')', open);
    if (close == std::string::npos || close == open + 1 || close - open > 5) return false;
    uint32_t index = 0;
    for (size_t i = open + 1; i < close; ++i) {
        if (item[i] < '0' || item[i] > '9') return false;
        index = index * 10 + uint32_t(item[i] - '0');
    }
    std::vector<std::string> below;
    if (close + 1 < item.size()) {
        if (item[close + 1] != '$') return false;
        size_t start = close + 2;
        for (;;) {
            const size_t dollar = item.find('$', start);
            below.push_back(item.substr(start, dollar == std::string::npos ? std::string::npos : dollar - start));
            if (below.back().empty() || below.back().find_first_of("()") != std::string::npos) return false;
            if (dollar == std::string::npos) break;
            start = dollar + 1;
        }
    }
    mms::AlternateAccessItem top;
    top.selector = mms::AlternateAccessItem::Selector::Index;
    top.index = index;
    mms::AlternateAccessItem* level = &top;
    for (const std::string& c : below) {
        level->selectAlternate = true;
        mms::AlternateAccessItem next;
        next.selector = mms::AlternateAccessItem::Selector::Component;
        next.component = c;
        level->nested.push_back(std::move(next));
        level = &level->nested.back();
    }
    out.name = mms::ObjectName::dom(ref.substr(0, slash), item.substr(0, open));
    out.alternateAccess.push_back(std::move(top));
    return true;
}

}  // namespace zv::iedsim
