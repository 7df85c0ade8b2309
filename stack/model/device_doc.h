// What an IED holds, as the device itself describes it (GetNameList,
// GetVariableAccessAttributes, GetNamedVariableListAttributes and reads of
// its control blocks) or as a model's interface records show it, and the
// SCL document that says the same.
//
// Both a device's own model and an SCL export go through DeviceDesc:
//   browse result  -> DeviceDesc -> to_document -> IedModel::build (with the layouts)
//   model records  -> DeviceDesc -> to_document -> scl::write_icd
// and the check of a device against its SCL compares two DeviceDescs.
//
// Templates: one LNodeType per distinct LN structure, one DOType per
// distinct data object (its parts under every FC merged, SDOs likewise), one
// DAType per distinct structured attribute. Enumerations travel as 8-bit
// integers and become INT8 attributes; descriptions are empty.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/cb_layouts.h"
#include "scl/scl.h"
#include "zorvan/ai_types.h"

namespace zv::model {

// A data object (is_do: a DO or SDO), a data attribute, or an array of them.
struct DevNode {
    std::string name;
    bool is_do = false;
    std::string btype;          // SCL basic type of a primitive; empty for a structure
    uint32_t count = 0;         // > 0: an array of `count` elements of this shape
    std::vector<DevNode> kids;  // components of a structure, in order
};

// The data objects of an LN under one functional constraint, in order.
struct DevFc {
    std::string fc;
    std::vector<DevNode> dos;
};

// One control block instance with its layout and (when known) its settings.
struct DevCb {
    scl::CbKind kind = scl::CbKind::Report;
    bool buffered = false;
    std::string name;  // instance name (brcbTemp01)
    CbLayout layout;
    bool has_values = false;
    std::string dat_set;  // as the device gives it: LD/LN$DS, or empty
    std::string rpt_id, log_ref, go_id;
    uint32_t conf_rev = 0, intg_pd = 0, buf_time = 0;
    uint16_t opt_flds = 0;  // bit i: OptFlds bit i
    uint8_t trg_ops = 0;    // bit i: TrgOps bit i
    uint32_t num_of_sgs = 1, act_sg = 1;
};

struct DevDataSet {
    std::string name;
    std::vector<std::string> members;  // LD/LN$FC$DO[$DA...]
};

struct DevLn {
    std::string name, desc;
    std::vector<DevFc> fcs;  // in FC order
    std::vector<DevCb> cbs;
    std::vector<DevDataSet> data_sets;
};

struct DevLd {
    std::string name, desc;  // the domain name (IED name + inst)
    std::vector<DevLn> lns;  // LLN0 first
};

struct DeviceDesc {
    std::string ied, desc;
    std::vector<DevLd> lds;
};

// SCL basic type of a stored primitive (AI_VAL_TYPE and runtime el_len);
// empty when SCL has none.
std::string btype_of(AI_VAL_TYPE type, int16_t el_len);
// The stored type of an SCL basic type; false when unknown.
bool stored_type_of(const std::string &btype, AI_VAL_TYPE &type, int16_t &el_len);

// The SCL document of a described IED: one IED named d.ied with its LDs
// (each domain name is the IED name followed by the LD's inst), templates,
// data sets and control blocks, and the control block layouts the device
// uses (`layouts`; kinds it has none of keep the layouts of the document's
// edition). Indexed report blocks: instances named BASE01..BASEnn with the
// same data set and ConfRev become one ReportControl BASE with max nn, so
// that the instance numbers stay those of the device. What cannot be
// expressed is left out with a warning in diag (file `origin`).
std::shared_ptr<scl::Document> to_document(const DeviceDesc &d, const std::string &origin, CbLayouts &layouts,
                                           scl::Diagnostics &diag);

// The operations through which a model's interface records are read
// (those of zorvan_api.h, or the stack's own).
struct RecordOps {
    MVL_TYPE_CTRL *(*type_find)(ST_INT type_id);
    ST_RET (*read_prims)(AI_OBJ_ID id, AI_IED_CTRL *model, AI_OBJ_VAL *out);
    void (*cleanup)(AI_OBJ_VAL *vals);
    ST_RET (*id_to_ref)(AI_IED_CTRL *model, AI_OBJ_ID id, char *ref_out);
};

// The description of a model from its interface records; control block
// settings from its current values. False with the reason when the records
// are not usable.
bool from_records(AI_IED_CTRL *ied, const RecordOps &ops, DeviceDesc &out, std::string &why);

// The stack's own models read through RecordOps (IedModel behind the records).
const RecordOps &model_record_ops();

// Differences between what the SCL says (`scl`) and what the device holds
// (`dev`), one line each: logical devices, LNs and data objects missing or
// extra, data objects of another type (by their MMS types), data sets
// missing, extra or with other members, control blocks missing or extra,
// with another layout, ConfRev or data set. Empty when they agree.
std::vector<std::string> compare(const DeviceDesc &scl, const DeviceDesc &dev);

}  // namespace zv::model
