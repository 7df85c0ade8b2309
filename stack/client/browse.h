// A device's own description: what the browse asks (GetNameList,
// GetVariableAccessAttributes, GetNamedVariableListAttributes, Read of the
// control blocks) turned into a model::DeviceDesc. Pure conversions, no
// network: the job in browse.cpp feeds them the device's answers.
#pragma once

#include "mms/pdu.h"
#include "model/device_doc.h"

#include <string>
#include <vector>

namespace zv::client {

// Limits of what a device's description may make us hold or ask for.
constexpr size_t kMaxBrowseDomains = 1024;         // logical devices
constexpr size_t kMaxBrowseNames = 2000000;        // named variables listed, all domains together
constexpr size_t kMaxBrowseLns = 20000;            // LNs of the whole device
constexpr size_t kMaxBrowseDataSets = 20000;       // named variable lists
constexpr size_t kMaxBrowseControlBlocks = 20000;  // control block instances
constexpr int kBrowseTimeoutS = 600;               // the whole browse

// The LN `name` from its type (GetVariableAccessAttributes of the LN): data
// objects per FC, control blocks with their layouts (values not yet read).
// Components the model cannot hold are left out with a line in `warnings`;
// false with `why` when the type is no LN at all.
bool ln_from_type(const std::string &name, const mms::TypeDescription &t, model::DevLn &out,
                  std::vector<std::string> &warnings, std::string &why);

// The settings of a control block from a read of it (its components by the
// names of its layout). False when the value does not have the layout's shape.
bool cb_from_data(const mms::Data &d, model::DevCb &cb);

// A name the device listed: an MMS identifier of at most 129 characters of
// letters, digits, '_' and '$' (no empty parts).
bool listed_name_ok(const std::string &name);

}  // namespace zv::client
