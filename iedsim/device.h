// The kind of device iedsim plays. Devices in the field differ within the
// standard: edition 1 or 2 control block layouts, the optional Owner and
// ResvTms attributes, report settings fixed by configuration, refusals. Each
// way varies on its own, so that the client can be tried against every
// combination; the layouts here are iedsim's own reading of IEC 61850-8-1,
// not the client's.
#pragma once

#include "model/cb_layouts.h"
#include "scl/scl.h"

#include <optional>
#include <string>
#include <vector>

namespace zv::iedsim {

struct DeviceProfile {
    // 0: the edition the SCL header declares; 1 or 2: that edition's layouts.
    int edition = 0;
    // Edition 2 optional attributes; unset: as the SCL's ReportSettings say.
    std::optional<bool> owner, resvTms;
    // Writes of OptFlds, TrgOps, IntgPd and BufTm are refused
    // (object-access-denied), as on devices whose settings are fixed.
    bool fixedSettings = false;
    // Writes of GI = true are refused (object-access-denied).
    bool refuseGi = false;
    // Report control blocks held by another client from the start: a URCB
    // reserved, a BRCB enabled (references in MMS form, LD/LN$FC$name).
    std::vector<std::string> held;
};

// Applies a named preset: "scl" (the default), "ed1", "ed2" (no Owner, no
// ResvTms), "ed2-owner", "ed2-resvtms", "ed2-full", "fixed" (ed2-full with
// fixed report settings). False for an unknown name.
bool applyProfile(const std::string& name, DeviceProfile& p);

// The control block layouts this device has, for the IED `ied` of `doc`.
model::CbLayouts deviceLayouts(const DeviceProfile& p, const scl::Document& doc, const scl::Ied& ied);

// One line describing the profile for the log ("edition 2, Owner, ResvTms").
std::string describe(const DeviceProfile& p, const scl::Document& doc, const scl::Ied& ied);

}  // namespace zv::iedsim
