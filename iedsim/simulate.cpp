#include "simulate.h"

#include "model/values.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace zv::iedsim {

namespace {

AI_VAL_TYPE primType(const model::IedModel& m, AI_OBJ_ID id) {
    const RUNTIME_TYPE* rt = nullptr;
    int32_t n = 0;
    if (!m.type_of(id, rt, n) || rt->el_tag != RT_PRIMITIVE) return VAL_TYPE_UNKNOWN;
    return AI_VAL_TYPE(rt->u.p.pad);
}

// A plausible level for an analogue value that the SCL leaves at 0.
double typicalLevel(const std::string& doName, const std::string& leaf) {
    if (leaf == "ang") return 0.0;
    struct Level {
        const char* name;
        double v;
    };
    static const Level kLevels[] = {{"Tmp", 45.0},   {"EnvTmp", 18.0},   {"EnvHum", 62.0},   {"EnvPres", 101.3},
                                    {"WnSpd", 3.2},  {"Pres", 0.62},     {"Den", 38.5},      {"AcuPaDsch", 120.0},
                                    {"LeakA", 0.35}, {"DieLoss", 0.004}, {"CapVal", 1000.0}, {"ShthA", 5.5},
                                    {"TotW", 35.0},  {"TotVAr", 8.0},    {"Hz", 50.0},       {"A", 310.0},
                                    {"PhV", 63.5}};
    for (const Level& l : kLevels)
        if (doName == l.name) return l.v;
    return 50.0;
}

}  // namespace

AI_OBJ_ID Simulator::timeOf(const model::IedModel& m, AI_OBJ_ID id) {
    for (AI_OBJ_ID cur = id; cur >= 0; cur = m.parent(cur)) {
        const AI_OBJ_TYPE t = m.type(cur);
        if (t == OBJECT_TYPE_FCN || t == OBJECT_TYPE_LN) return -1;
        if (t != OBJECT_TYPE_FCD) continue;
        AI_OBJ_ID ts = m.child(cur, "t");
        if (ts >= 0 && primType(m, ts) == VAL_TYPE_TIMESTAMP) return ts;
    }
    return -1;
}

Simulator::Simulator(model::IedModel& m, uint64_t seed) : m_(m), rng_(seed) {
    std::unique_lock<std::shared_mutex> lock(m_.value_mutex());
    for (AI_OBJ_ID id = 0; id < m_.object_count(); ++id) {
        if (m_.type(id) != OBJECT_TYPE_FCDA) continue;
        const int fc = m_.fc(id);
        const AI_VAL_TYPE vt = primType(m_, id);
        const std::string name = m_.name(id) ? m_.name(id) : "";
        AI_OBJ_ID parent = m_.parent(id);
        const std::string parentName = parent >= 0 && m_.name(parent) ? m_.name(parent) : "";
        if (fc == model::FC_MX && vt == VAL_TYPE_FLOAT32 && name == "f" &&
            (parentName == "mag" || parentName == "ang")) {
            AI_OBJ_ID t = timeOf(m_, id);
            AI_OBJ_ID dobj = t >= 0 ? m_.parent(t) : -1;
            AI_OBJ_ID q = dobj >= 0 ? m_.child(dobj, "q") : -1;
            // The data object name: the top one for CMV parts of a WYE (phsA -> A).
            std::string doName;
            for (AI_OBJ_ID cur = dobj; cur >= 0 && m_.type(cur) == OBJECT_TYPE_FCD; cur = m_.parent(cur))
                doName = m_.name(cur);
            std::vector<model::Primitive> prims;
            m_.primitives(id, prims);
            float v0;
            std::memcpy(&v0, prims[0].data, 4);
            double base = v0 != 0.0f ? double(v0) : typicalLevel(doName, parentName);
            if (v0 == 0.0f) {
                float b = float(base);
                std::memcpy(prims[0].data, &b, 4);
            }
            analogue_.push_back(Analogue{id, t, q >= 0 && primType(m_, q) == VAL_TYPE_QUALITY ? q : -1, base, base});
        } else if (fc == model::FC_ST && name == "stVal" &&
                   (vt == VAL_TYPE_BOOLEAN || vt == VAL_TYPE_INT32 || vt == VAL_TYPE_CODEDENUM)) {
            status_.push_back(Status{id, timeOf(m_, id), vt});
        }
    }
    // Every time stamp starts at the start of the simulation.
    lock.unlock();
    for (const Analogue& a : analogue_) stamp(a.t);
    for (const Status& s : status_) stamp(s.t);
}

void Simulator::stamp(AI_OBJ_ID t) {
    if (t < 0) return;
    TimeStamp_TDEF ts;
    model::current_time(ts);
    m_.write(t, &ts, sizeof ts);
}

void Simulator::step() {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    TimeStamp_TDEF now;
    model::current_time(now);
    std::vector<model::Primitive> prims;
    std::unique_lock<std::shared_mutex> lock(m_.value_mutex());
    auto storage = [&](AI_OBJ_ID id) -> uint8_t* {
        prims.clear();
        m_.primitives(id, prims);
        return prims.empty() ? nullptr : prims[0].data;
    };
    for (Analogue& a : analogue_) {
        const double span = a.base != 0.0 ? std::fabs(a.base) * 0.05 : 1.0;
        double v = a.value0 + noise(rng_) * span * 0.1;
        // Drift back towards the base level so that values stay plausible.
        v += (a.base - v) * 0.05;
        if (v > a.base + span) v = a.base + span;
        if (v < a.base - span) v = a.base - span;
        a.value0 = v;
        float f = float(v);
        if (uint8_t* p = storage(a.value)) std::memcpy(p, &f, 4);
        if (a.t >= 0)
            if (uint8_t* p = storage(a.t)) std::memcpy(p, &now, sizeof now);
        if (a.q >= 0) {
            // Now and then a value is questionable for a few steps (validity "11").
            bool bad = a.badTicks > 0;
            if (bad)
                --a.badTicks;
            else if (unit(rng_) < 0.003)
                a.badTicks = 3;
            uint8_t* p = storage(a.q);
            if (p) {
                p[2] = a.badTicks > 0 ? 0xC0 : 0x00;
                p[3] = 0;
            }
        }
    }
    for (Status& s : status_) {
        const double chance = s.type == VAL_TYPE_CODEDENUM ? 0.005 : 0.01;
        if (unit(rng_) >= chance) continue;
        uint8_t* p = storage(s.value);
        if (!p) continue;
        if (s.type == VAL_TYPE_BOOLEAN) {
            p[0] = p[0] ? 0 : 1;
        } else if (s.type == VAL_TYPE_INT32) {
            int32_t v;
            std::memcpy(&v, p, 4);
            v = v == INT32_MAX ? 0 : v + 1;
            std::memcpy(p, &v, 4);
        } else {
            // Dbpos: off (01) <-> on (10); intermediate and bad go to off.
            const uint8_t bits = p[2] & 0xC0;
            p[2] = bits == 0x80 ? 0x40 : 0x80;
            const int16_t n = 2;
            std::memcpy(p, &n, 2);
        }
        if (s.t >= 0)
            if (uint8_t* tp = storage(s.t)) std::memcpy(tp, &now, sizeof now);
    }
}

bool Simulator::set(const std::string& ref, const std::string& text, std::string& why) {
    const AI_OBJ_ID id = m_.find(ref);
    if (id < 0) {
        why = "no object '" + ref + "'";
        return false;
    }
    const AI_VAL_TYPE vt = primType(m_, id);
    if (vt == VAL_TYPE_UNKNOWN) {
        why = "'" + ref + "' is not a primitive attribute";
        return false;
    }
    const model::ElemInfo* ei = m_.elem_info(id);
    int rc = 1;
    if (ei && ei->is_enum && ei->enum_type) {
        for (const auto& ev : ei->enum_type->vals)
            if (ev.second == text && ev.first >= -128 && ev.first <= 127) {
                int8_t v = int8_t(ev.first);
                rc = m_.write(id, &v, 1);
                break;
            }
    }
    if (rc != 0) rc = m_.write_text(id, text);
    if (rc != 0) {
        why = "'" + text + "' is not a value of type " + std::string(model::type_name(vt));
        return false;
    }
    for (Analogue& a : analogue_)
        if (a.value == id) {
            float f;
            std::vector<model::Primitive> prims;
            m_.primitives(id, prims);
            std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
            std::memcpy(&f, prims[0].data, 4);
            a.value0 = f;
        }
    const char* leaf = m_.name(id);
    if (!(leaf && std::string(leaf) == "t")) stamp(timeOf(m_, id));
    return true;
}

}  // namespace zv::iedsim
