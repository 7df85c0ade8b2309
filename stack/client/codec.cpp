#include "codec.h"

#include "model/values.h"

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

}  // namespace zv::client
