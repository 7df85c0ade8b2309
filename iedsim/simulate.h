// Moving values: analogue MX values drift (with their time stamps and, now
// and then, a questionable quality), some status values change now and
// then. Deterministic for a seed: the n-th step does the same for the same
// seed and model.
#pragma once

#include "model/ied_model.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zv::iedsim {

class Simulator {
public:
    Simulator(model::IedModel& m, uint64_t seed);
    // One step: changes values in the model (under its value lock).
    void step();
    size_t analogueCount() const { return analogue_.size(); }
    size_t statusCount() const { return status_.size(); }

    // Sets a primitive from text (enumerations by name or number) and stamps
    // the data object's time "t" unless the primitive is "t" itself.
    // False with a reason.
    bool set(const std::string& ref, const std::string& text, std::string& why);

    // Nearest data object above `id` that has a time stamp "t" (or -1).
    static AI_OBJ_ID timeOf(const model::IedModel& m, AI_OBJ_ID id);

private:
    struct Analogue {
        AI_OBJ_ID value, t, q;
        double base, value0;
        int badTicks = 0;
    };
    struct Status {
        AI_OBJ_ID value, t;
        AI_VAL_TYPE type;
    };
    void stamp(AI_OBJ_ID t);

    model::IedModel& m_;
    std::mt19937_64 rng_;
    std::vector<Analogue> analogue_;
    std::vector<Status> status_;
};

}  // namespace zv::iedsim
