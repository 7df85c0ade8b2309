#include "settings.h"

#include "model/mms_values.h"
#include "model/values.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <shared_mutex>
#include <type_traits>

namespace zv::iedsim {

using mms::Data;

namespace {

template <class T>
void scale(uint8_t* p, int k) {
    T v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::is_floating_point_v<T>) {
        v = T(v * k);
    } else {
        const long double w = (long double)v * k;
        v = w > (long double)std::numeric_limits<T>::max()   ? std::numeric_limits<T>::max()
            : w < (long double)std::numeric_limits<T>::min() ? std::numeric_limits<T>::min()
                                                             : T(w);
    }
    std::memcpy(p, &v, sizeof v);
}

// Group k of a configured value: numbers times k.
void scaleStored(AI_VAL_TYPE type, uint8_t* p, int k) {
    switch (type) {
    case VAL_TYPE_INT8: scale<int8_t>(p, k); break;
    case VAL_TYPE_INT16: scale<int16_t>(p, k); break;
    case VAL_TYPE_INT32: scale<int32_t>(p, k); break;
    case VAL_TYPE_INT128: scale<int64_t>(p, k); break;
    case VAL_TYPE_INT8U: scale<uint8_t>(p, k); break;
    case VAL_TYPE_INT16U: scale<uint16_t>(p, k); break;
    case VAL_TYPE_INT32U: scale<uint32_t>(p, k); break;
    case VAL_TYPE_FLOAT32: scale<float>(p, k); break;
    case VAL_TYPE_FLOAT64: scale<double>(p, k); break;
    default: break;
    }
}

AI_OBJ_ID ldOf(const model::IedModel& m, AI_OBJ_ID id) {
    for (AI_OBJ_ID cur = id; cur >= 0; cur = m.parent(cur))
        if (m.type(cur) == OBJECT_TYPE_LD) return cur;
    return -1;
}

}  // namespace

struct SettingGroups::Sgcb {
    AI_OBJ_ID id = -1, ld = -1;
    AI_OBJ_ID numOfSg = -1, actSg = -1, editSg = -1, cnfEdit = -1, lActTm = -1;
    std::string ref;
    std::vector<model::Primitive> se;  // every SE primitive of the LD
    std::vector<AI_OBJ_ID> sg;         // its SG view, parallel to `se` (-1: none)
    size_t bytes = 0;                  // of one group
    std::vector<std::vector<uint8_t>> groups;
    int editor = -1;  // association holding the edit group
};

SettingGroups::SettingGroups(model::IedModel& m, Log& log) : m_(m), log_(log) {
    for (AI_OBJ_ID id = 0; id < m_.object_count(); ++id) {
        if (m_.type(id) != OBJECT_TYPE_CB || m_.fc(id) != model::FC_SP) continue;
        auto s = std::make_unique<Sgcb>();
        s->id = id;
        s->ld = ldOf(m_, id);
        s->ref = m_.reference(id);
        s->numOfSg = m_.child(id, "NumOfSG");
        s->actSg = m_.child(id, "ActSG");
        s->editSg = m_.child(id, "EditSG");
        s->cnfEdit = m_.child(id, "CnfEdit");
        s->lActTm = m_.child(id, "LActTm");
        if (s->numOfSg < 0 || s->actSg < 0 || s->editSg < 0 || s->cnfEdit < 0) {
            log_.line("setting group control block " + s->ref + " lacks NumOfSG, ActSG, EditSG or CnfEdit; ignored");
            continue;
        }
        const AI_OBJ_ID* lns = nullptr;
        int32_t nln = 0;
        m_.children(s->ld, lns, nln);
        for (int32_t i = 0; i < nln; ++i) {
            if (m_.type(lns[i]) != OBJECT_TYPE_LN) continue;
            const AI_OBJ_ID se = m_.child(lns[i], "SE");
            if (se < 0) continue;
            m_.primitives(se, s->se);
        }
        for (const model::Primitive& p : s->se) {
            std::string ref = m_.reference(p.id);
            const size_t at = ref.find("$SE$");
            s->sg.push_back(at == std::string::npos ? -1 : m_.find(ref.replace(at, 4, "$SG$")));
            s->bytes += size_t(p.size);
        }
        uint8_t num = 1, act = 1;
        {
            std::vector<model::Primitive> p;
            std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
            if (m_.primitives(s->numOfSg, p) && p.size() == 1) num = std::max<uint8_t>(1, p[0].data[0]);
            p.clear();
            if (m_.primitives(s->actSg, p) && p.size() == 1) act = p[0].data[0];
            std::vector<uint8_t> base;
            for (const model::Primitive& q : s->se) base.insert(base.end(), q.data, q.data + q.size);
            for (int k = 1; k <= num; ++k) {
                std::vector<uint8_t> g = base;
                size_t off = 0;
                for (const model::Primitive& q : s->se) {
                    scaleStored(q.type, g.data() + off, k);
                    off += size_t(q.size);
                }
                s->groups.push_back(std::move(g));
            }
        }
        if (act < 1 || act > num) act = 1;
        setByte(s->actSg, act);
        setByte(s->editSg, 0);
        load(*s, act, true, true);
        log_.line("setting group control block " + s->ref + ": " + std::to_string(num) + " groups of " +
                  std::to_string(s->se.size()) + " settings, group " + std::to_string(act) + " active");
        sgcbs_.push_back(std::move(s));
    }
}

SettingGroups::~SettingGroups() = default;

void SettingGroups::setByte(AI_OBJ_ID attr, uint8_t v) { m_.write(attr, &v, 1); }

void SettingGroups::load(Sgcb& s, size_t group, bool toSe, bool toSg) {
    const std::vector<uint8_t>& g = s.groups[group - 1];
    std::vector<model::Primitive> view;
    std::unique_lock<std::shared_mutex> lock(m_.value_mutex());
    size_t off = 0;
    for (size_t k = 0; k < s.se.size(); ++k) {
        const model::Primitive& p = s.se[k];
        if (toSe) std::memcpy(p.data, g.data() + off, size_t(p.size));
        view.clear();
        if (toSg && s.sg[k] >= 0 && m_.primitives(s.sg[k], view) && view.size() == 1 && view[0].size == p.size)
            std::memcpy(view[0].data, g.data() + off, size_t(p.size));
        off += size_t(p.size);
    }
}

SettingGroups::Sgcb* SettingGroups::sgcbOf(AI_OBJ_ID id, int& fc) const {
    fc = m_.fc(id);
    if (fc != model::FC_SP && fc != model::FC_SE && fc != model::FC_SG) return nullptr;
    const AI_OBJ_ID ld = ldOf(m_, id);
    for (const auto& s : sgcbs_) {
        if (s->ld != ld) continue;
        if (fc != model::FC_SP) return s.get();
        for (AI_OBJ_ID cur = id; cur >= 0; cur = m_.parent(cur))
            if (cur == s->id) return s.get();
    }
    return nullptr;
}

bool SettingGroups::owns(AI_OBJ_ID id) const {
    int fc;
    return sgcbOf(id, fc) != nullptr;
}

int32_t SettingGroups::write(int conn, AI_OBJ_ID id, const Data& value) {
    int fc;
    Sgcb* sp = sgcbOf(id, fc);
    if (sp == nullptr) return mms::kObjectNonExistent;
    Sgcb& s = *sp;
    uint8_t edit = 0, act = 0;
    {
        std::vector<model::Primitive> p;
        std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
        if (m_.primitives(s.editSg, p) && p.size() == 1) edit = p[0].data[0];
        p.clear();
        if (m_.primitives(s.actSg, p) && p.size() == 1) act = p[0].data[0];
    }
    const std::string who = "connection " + std::to_string(conn) + ": ";
    if (fc == model::FC_SG) return mms::kObjectAccessDenied;  // the active group is changed by ActSG only
    if (fc == model::FC_SE) {
        if (edit == 0 || s.editor != conn) {
            log_.line(who + "write of " + m_.reference(id) + " refused: " +
                      (edit == 0 ? "no edit group selected"
                                 : "the edit group is held by connection " + std::to_string(s.editor)));
            return mms::kTemporarilyUnavailable;
        }
        return model::store_object(m_, id, value, model::ValueSource::Write);
    }
    const std::string attr = id == s.id ? std::string() : m_.name(id);
    auto group = [&](uint8_t& out) -> int32_t {
        if (value.kind() != Data::Kind::Unsigned && value.kind() != Data::Kind::Integer) return mms::kTypeInconsistent;
        const int64_t v = value.kind() == Data::Kind::Unsigned ? int64_t(std::min<uint64_t>(value.asUnsigned(), 256))
                                                               : value.asInt();
        if (v < 0 || v > int64_t(s.groups.size())) return mms::kObjectValueInvalid;
        out = uint8_t(v);
        return 0;
    };
    if (attr == "ActSG") {
        uint8_t n = 0;
        if (int32_t e = group(n)) return e;
        if (n == 0) return mms::kObjectValueInvalid;
        setByte(s.actSg, n);
        load(s, n, false, true);
        if (s.lActTm >= 0) {
            TimeStamp_TDEF ts;
            model::current_time(ts);
            m_.write(s.lActTm, &ts, sizeof ts);
        }
        log_.line(who + s.ref + ": group " + std::to_string(n) + " active");
        return 0;
    }
    if (attr == "EditSG") {
        uint8_t n = 0;
        if (int32_t e = group(n)) return e;
        if (edit != 0 && s.editor != conn) {
            log_.line(who + s.ref + ": edit group refused, held by connection " + std::to_string(s.editor));
            return mms::kTemporarilyUnavailable;
        }
        setByte(s.editSg, n);
        s.editor = n == 0 ? -1 : conn;
        if (n != 0) load(s, n, true, false);
        log_.line(who + s.ref + ": " +
                  (n == 0 ? std::string("editing ended") : "group " + std::to_string(n) + " in edit"));
        return 0;
    }
    if (attr == "CnfEdit") {
        if (value.kind() != Data::Kind::Boolean) return mms::kTypeInconsistent;
        if (!value.asBool()) return 0;
        if (edit == 0 || s.editor != conn) return mms::kTemporarilyUnavailable;
        std::vector<uint8_t>& g = s.groups[edit - 1];
        {
            std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
            size_t off = 0;
            for (const model::Primitive& p : s.se) {
                std::memcpy(g.data() + off, p.data, size_t(p.size));
                off += size_t(p.size);
            }
        }
        if (edit == act) load(s, act, false, true);
        log_.line(who + s.ref + ": group " + std::to_string(edit) + " confirmed" + (edit == act ? " (active)" : ""));
        return 0;
    }
    return mms::kObjectAccessDenied;  // NumOfSG, LActTm, ResvTms, the block as a whole
}

void SettingGroups::connectionClosed(int conn) {
    for (auto& s : sgcbs_) {
        if (s->editor != conn) continue;
        s->editor = -1;
        setByte(s->editSg, 0);
        log_.line("setting group control block " + s->ref + ": editing of closed connection " + std::to_string(conn) +
                  " ended unconfirmed");
    }
}

}  // namespace zv::iedsim
