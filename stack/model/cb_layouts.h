// Component layouts of the control blocks an IED model holds: report (BRCB,
// URCB), log, setting group, GOOSE and sampled value control blocks, as
// IEC 61850-8-1 maps them to MMS structures. Real devices differ by edition
// and by the optional attributes their SCL declares, so the layout is data:
// the model builder takes it from the SCL (scl_layouts), iedsim passes the
// layouts of the device it plays.
#pragma once

#include <string>
#include <vector>

#include "scl/scl.h"
#include "zorvan/ai_types.h"

namespace zv::model {

// One component: a primitive (type, el_len as the runtime table keeps it:
// characters of strings, bits of bit strings, bytes of numbers) or a
// structure (members non-empty).
struct CbComponent {
    std::string name;
    AI_VAL_TYPE type = VAL_TYPE_UNKNOWN;
    int16_t el_len = 0;
    std::vector<CbComponent> members;
};
using CbLayout = std::vector<CbComponent>;

struct CbLayouts {
    CbLayout brcb, urcb, lcb, sgcb, gocb, msvcb, usvcb;
};

// The layouts an SCL file describes for one of its IEDs: Edition 1 or 2 from
// the SCL header, Owner and ResvTms from the IED's ReportSettings.
CbLayouts scl_layouts(const scl::Document &doc, const scl::Ied &ied);

// Names of a layout's components, in order (for messages and comparisons).
std::vector<std::string> component_names(const CbLayout &layout);

}  // namespace zv::model
