// SCL writer: one IED of a Document as an ICD file (IEC 61850-6), the parts
// the reader takes back: DataTypeTemplates, IED with its ReportSettings,
// AccessPoint/Server, LDevice, LN0/LN, DataSet/FCDA, ReportControl,
// LogControl, SettingControl, GSEControl, and DOI/SDI/DAI descriptions and
// values. Reading the text back with parse_text gives the same IED.
#pragma once

#include <string>

#include "scl/scl.h"

namespace zv::scl {

// The ICD text of `ied` (an IED of `doc`) with the templates it uses.
std::string write_icd(const Document &doc, const Ied &ied);

// Writes it to `path`; false with the reason (the system's error text) in `why`.
bool write_icd_file(const Document &doc, const Ied &ied, const std::string &path, std::string &why);

}  // namespace zv::scl
