#include "codec.h"

#include "model/values.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace zv::client {

bool object_data(const model::IedModel &m, AI_OBJ_ID id, const AI_PRIM_VAL *vals, int32_t n, mms::Data &out) {
    const RUNTIME_TYPE *first = nullptr;
    int32_t num = 0;
    if (n <= 0 || vals == nullptr || !m.type_of(id, first, num) || first == nullptr) return false;
    const AI_PRIM_VAL *p = vals;
    const AI_PRIM_VAL *const end = vals + n;
    // The caller's values must match the model's primitives one by one.
    auto next = [&](AI_VAL_TYPE t) -> const uint8_t * {
        if (p == end || p->type != t || p->data == nullptr || size_t(p->size) != model::stored_size(t)) return nullptr;
        return static_cast<const uint8_t *>((p++)->data);
    };
    return model::element_data(first, next, out) && p == end;
}

bool object_name(const std::string &ref, mms::ObjectName &out) {
    const size_t slash = ref.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 >= ref.size()) return false;
    out = mms::ObjectName::dom(ref.substr(0, slash), ref.substr(slash + 1));
    return true;
}

bool variable_of(const std::string &ref, mms::VariableRef &out) {
    out.alternateAccess.clear();
    if (ref.find('(') == std::string::npos) return object_name(ref, out.name);
    // IEC 61850-8-1: an array element is no named variable. The variable is
    // the array, then one selection per level: the index, the components
    // below it (and the index of a deeper array), each nested in the last.
    std::vector<mms::AlternateAccessItem> chain;
    std::string name;
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(ref.find('$', start), ref.size());
        std::string comp = ref.substr(start, end - start);
        std::optional<uint32_t> index;
        const size_t open = comp.find('(');
        if (open != std::string::npos) {
            if (open == 0 || comp.back() != ')' || comp.size() - open < 3 || comp.size() - open > 6) return false;
            uint32_t k = 0;
            for (size_t i = open + 1; i + 1 < comp.size(); ++i) {
                if (comp[i] < '0' || comp[i] > '9') return false;
                k = k * 10 + uint32_t(comp[i] - '0');
            }
            index = k;
            comp.resize(open);
        }
        if (chain.empty()) {
            name += (name.empty() ? "" : "$") + comp;
        } else {
            mms::AlternateAccessItem c;
            c.selector = mms::AlternateAccessItem::Selector::Component;
            c.component = comp;
            chain.push_back(std::move(c));
        }
        if (index) {
            mms::AlternateAccessItem i;
            i.selector = mms::AlternateAccessItem::Selector::Index;
            i.index = *index;
            chain.push_back(std::move(i));
        }
        if (end == ref.size()) break;
        start = end + 1;
    }
    if (!object_name(name, out.name)) return false;
    mms::AlternateAccessItem top = std::move(chain.back());
    for (size_t k = chain.size() - 1; k-- > 0;) {
        mms::AlternateAccessItem outer = std::move(chain[k]);
        outer.selectAlternate = true;
        outer.nested.push_back(std::move(top));
        top = std::move(outer);
    }
    out.alternateAccess.push_back(std::move(top));
    return true;
}

}  // namespace zv::client
