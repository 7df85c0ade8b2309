// The stack's in-memory model of one server (IED), in the interface records of
// zorvan/ai_types.h, plus a C++ view of it for the client stack and iedsim.
//
// Shape: object identifiers are indexes into AI_IED_CTRL.id_ctrl. 0 is the IED,
// then, per logical device in file order: the LD, its LNs (LLN0 first) each
// followed by all objects below it in component order, then the LD's data sets.
// Below an LN: one FCN per functional constraint present (kFcOrder), below it the
// data objects (FCD, SDOs too), data attributes (FCDA, to any depth) and control
// blocks (CB, with their attributes as FCDA), in the order of the LN's type.
//
// Every LN type (LNodeType plus the LN's control blocks) has an MVL_TYPE_CTRL
// with one RUNTIME_TYPE per element; AI_LN_CTRL.sub_ids is parallel to that
// table (the object of element i, -1 for ends and array contents), and
// AI_LN_CTRL.data holds the LN's values at each element's mvluTypeInfo.offSet.
//
// Array elements are objects too (FCDA, or FCD for an array of data objects),
// the children of their array, named as the reference writes them: "phsAHar(3)"
// is element 3 of phsAHar, and its reference is ".../Harm$phsAHar(3)", deeper
// ones ".../phsAHar(3)$cVal$mag$f". They are not MMS named variables
// (variable_names leaves them out). An element object and the objects below
// it share the runtime elements of the array's element type; their values lie
// one element stride further per index. Object identifiers of an LN follow
// its type depth first, array elements in index order, so that the object of
// an element is computed, not looked up (LnType::span). An LN whose element
// objects would exceed scl::kMaxLnObjects or the reference length keeps its
// arrays whole (arrays as leaves, as data set members and reads still work).
//
// The structure never changes after build (no lock needed to walk it). Values
// are guarded by value_mutex(): shared for readers, exclusive for writers.
//
// Typical uses:
//   client stack   find(ref) -> id; primitives(id, prims) gives each primitive's
//                  id, AI_VAL_TYPE, stored size and storage in component order;
//                  to store a read result or a report, take
//                  std::unique_lock lk(model.value_mutex()) once and copy the
//                  converted values into prims[i].data. data_set(id) gives a
//                  data set's members (mb_ids may hold -1 for a member the SCL
//                  could not resolve: its position still counts in reports).
//                  Never call application code while holding the lock.
//   iedsim         load(file, ied) for one IED; the LDs are ctrl()->ld_tbl
//                  (domain = LD name); variable_names(ld, names, true) lists
//                  the named variables as GetNameList does; type_of(id) gives
//                  the runtime elements of a variable (u.p.pad = AI_VAL_TYPE of
//                  a primitive; elem_info() tells enumerations, which travel as
//                  8-bit integers); read/write values by reference with
//                  find + read_text/write_text or primitives + value_mutex.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/cb_layouts.h"
#include "scl/scl.h"
#include "zorvan/ai_types.h"

namespace zv::model {

// Functional constraints, in the order they appear inside an LN (IEC 61850-8-1).
enum Fc : int8_t {
    FC_MX,
    FC_ST,
    FC_CO,
    FC_CF,
    FC_DC,
    FC_SP,
    FC_SG,
    FC_RP,
    FC_LG,
    FC_BR,
    FC_GO,
    FC_GS,
    FC_SV,
    FC_SE,
    FC_EX,
    FC_SR,
    FC_OR,
    FC_BL,
    FC_MS,
    FC_US,
    FC_COUNT,
    FC_NONE = -1
};
const char *fc_name(int fc);
int fc_from_name(std::string_view name);  // FC_NONE if unknown

// What an element of a runtime table stands for.
enum class ElemKind : uint8_t { Ln, Fc, Do, Da, Cb, CbAttr, ArrayItem, End };

// Per element of an LN type, beside its RUNTIME_TYPE.
struct ElemInfo {
    ElemKind kind;
    int8_t fc;
    bool is_enum;                    // primitive from an SCL Enum (held as INT8)
    const scl::EnumType *enum_type;  // for is_enum
    const scl::AttrDef *tmpl;        // DA/BDA definition, null for others
    uint32_t stride;                 // arrays: bytes of one element
};

// One LN type: its registered MVL_TYPE_CTRL and runtime table.
struct LnType {
    MVL_TYPE_CTRL ctrl{};
    RUNTIME_CTRL rt_ctrl{};
    std::vector<RUNTIME_TYPE> rt;
    std::vector<ElemInfo> elems;
    std::deque<std::string> names;  // component names (comp_name_ptr)
    int32_t type_id = -1;
    size_t max_path = 0;          // longest "$FC$DO$..." below the LN, for the reference limit
    size_t max_path_ix = 0;       // the same with array element indexes "(n)"
    size_t max_element_name = 0;  // longest array element name "Arr(n)"
    // Objects element i stands for (itself and everything below; 0 for ends):
    // with array element objects, and without (arrays as single objects;
    // empty when the type has no arrays, span then serves both).
    std::vector<uint32_t> span, span_flat;
};

// A primitive of an object: where its value lives.
struct Primitive {
    AI_OBJ_ID id;  // object of the primitive (the array, in an LN that keeps arrays whole)
    AI_VAL_TYPE type;
    int32_t size;   // stored size
    uint8_t *data;  // storage inside the model; touch only under value_mutex()
    const RUNTIME_TYPE *rt;
};

class IedModel {
public:
    ~IedModel();
    IedModel(const IedModel &) = delete;
    IedModel &operator=(const IedModel &) = delete;

    // Builds the model of `ied` (an IED of `doc`); problems go to diag. Null
    // only when nothing usable could be built (the reason is in diag).
    // The model keeps the document (its templates describe the model's types).
    // Control blocks take `layouts` when given, else what the SCL describes.
    static std::unique_ptr<IedModel> build(std::shared_ptr<const scl::Document> doc, const scl::Ied &ied,
                                           scl::Diagnostics &diag, const CbLayouts *layouts = nullptr);
    // Standalone model of one IED of an SCL file (iedsim, tests).
    static std::unique_ptr<IedModel> load(const std::string &scl_file, const std::string &ied_name,
                                          scl::Diagnostics &diag, const CbLayouts *layouts = nullptr);
    // The model behind an interface record, or null if it is not one of ours.
    static IedModel *from_ctrl(const AI_IED_CTRL *ctrl);

    // The SCL document the model was built from (addresses, templates).
    const scl::Document &document() const { return *doc_; }
    // The IED of that document the model stands for (services, report settings).
    const scl::Ied &scl_ied() const { return *ied_; }
    // The control block layouts the model was built with.
    const CbLayouts &cb_layouts() const { return layouts_; }

    AI_IED_CTRL *ctrl() { return &ctrl_; }
    const AI_IED_CTRL *ctrl() const { return &ctrl_; }
    const std::string &name() const { return name_; }

    // ---- structure ------------------------------------------------------
    int32_t object_count() const { return int32_t(objs_.size()); }
    bool valid(AI_OBJ_ID id) const { return id >= 0 && id < object_count(); }
    AI_OBJ_TYPE type(AI_OBJ_ID id) const;
    AI_OBJ_ID parent(AI_OBJ_ID id) const;
    const char *name(AI_OBJ_ID id) const;  // null for unknown ids
    const char *desc(AI_OBJ_ID id) const;  // null when none
    // Description of an element named relative to `id` ("Pos", "Pos$stVal";
    // for an LN the first name is a data object in any FC).
    const char *desc(AI_OBJ_ID id, std::string_view sub) const;
    // Children in model order; false for leaves and unknown ids.
    bool children(AI_OBJ_ID id, const AI_OBJ_ID *&ids, int32_t &num) const;
    bool data_sets(AI_OBJ_ID ld, const AI_OBJ_ID *&ids, int32_t &num) const;
    AI_OBJ_ID child(AI_OBJ_ID id, std::string_view name) const;  // -1 if none
    // Element k of array object `arr`; -1 when `arr` is no array with element
    // objects or k is out of range.
    AI_OBJ_ID element(AI_OBJ_ID arr, uint32_t k) const;
    // MMS reference (LD/LN$FC$DO$DA; data sets LD/LN$DS; the IED its name;
    // array elements LD/LN$FC$DO$Arr(3)...).
    bool reference(AI_OBJ_ID id, char *out, size_t cap) const;
    std::string reference(AI_OBJ_ID id) const;
    AI_OBJ_ID find(std::string_view ref) const;  // -1 for unknown references
    AI_OBJ_IDCTRL *id_ctrl(AI_OBJ_ID id) { return valid(id) ? &idctrl_[size_t(id)] : nullptr; }
    int fc(AI_OBJ_ID id) const;                // FC of an object below an LN, else FC_NONE
    AI_LN_CTRL *ln_of(AI_OBJ_ID id) const;     // the LN holding the object (or the LN itself)
    AI_DS_CTRL *data_set(AI_OBJ_ID id) const;  // null unless a data set
    int32_t ln_count() const { return ln_total_; }
    int32_t ds_count() const { return ds_total_; }

    // ---- types ----------------------------------------------------------
    const LnType *ln_type(const AI_LN_CTRL *ln) const;
    // Runtime elements of an object below an LN: `num` elements from `first`
    // (a structure from its start to its end). False for other objects.
    bool type_of(AI_OBJ_ID id, const RUNTIME_TYPE *&first, int32_t &num) const;
    const ElemInfo *elem_info(AI_OBJ_ID id) const;
    // MMS named variables of a domain (LD): "LN", "LN$FC", "LN$FC$DO", ... in
    // model order, or sorted as GetNameList lists them.
    void variable_names(AI_OBJ_ID ld, std::vector<std::string> &out, bool sorted) const;

    // ---- values ---------------------------------------------------------
    std::shared_mutex &value_mutex() const { return value_mutex_; }
    // Primitives of any object in component order (data sets: their members,
    // LN/LD/IED: everything below). Appends to out; false for unknown ids.
    bool primitives(AI_OBJ_ID id, std::vector<Primitive> &out) const;
    // Room worth reserving for the primitives of one data attribute or data
    // object (a measured value: magnitude, quality, time), so that collecting
    // them allocates once.
    static constexpr size_t kTypicalPrimitives = 8;
    // Locked copy of an object's primitives; release with release_values (or
    // ai_cleanup_objVals). 0 on success.
    int read(AI_OBJ_ID id, AI_OBJ_VAL *out) const;
    static void release_values(AI_OBJ_VAL *vals);
    // Locked write of one primitive's stored value (size must match). 0 on success.
    int write(AI_OBJ_ID prim_id, const void *data, size_t size);
    int write_text(AI_OBJ_ID prim_id, std::string_view text);
    // Locked text of one primitive. 0 on success.
    int read_text(AI_OBJ_ID prim_id, std::string &out) const;

private:
    IedModel();
    friend class ModelBuilder;

    struct ObjInfo {
        AI_OBJ_ID parent = -1;
        uint32_t child_off = 0, child_num = 0;
        int32_t ln_id = -1;     // LN holding it (objects below an LN and the LN itself)
        int32_t rt_index = -1;  // element in the LN's type
        uint32_t base = 0;      // inside array elements: bytes added to the element's offset
        const char *name = nullptr;
        const char *desc = nullptr;
    };
    struct LnData {
        AI_LN_CTRL ctrl{};
        const LnType *type = nullptr;
        const uint32_t *span = nullptr;  // type->span, or span_flat when arrays stay whole
        bool elements = false;           // array elements are objects
        std::unique_ptr<uint8_t[]> values;
        std::vector<int32_t> sub_ids;
        std::vector<AI_DO_DESC> do_descs;
        AI_OBJ_ID ld_id = -1;
    };
    struct DsData {
        AI_DS_CTRL ctrl{};
        std::vector<int32_t> mb_ids;
        std::vector<std::array<char, AI_OBJ_REF_LEN>> mb_refs;  // same layout as AI_OBJ_REF[]
        std::string ln_name;                                    // LN that defines it
        AI_OBJ_ID ld_id = -1;
    };
    struct LdData {
        AI_LD_CTRL ctrl{};
        std::vector<AI_LN_CTRL *> ln_tbl;
        std::vector<AI_DS_CTRL *> ds_tbl;
        std::vector<AI_OBJ_ID> ds_ids;
    };

    void collect(AI_OBJ_ID id, std::vector<Primitive> &out) const;
    // Primitives of element i at `base`, whose object is `id`; `fixed`: every
    // primitive is reported as `id` (contents of an array kept whole).
    void collect_obj(const LnData &ln, int32_t i, size_t base, AI_OBJ_ID id, bool fixed,
                     std::vector<Primitive> &out) const;
    AI_OBJ_ID child_or_element(AI_OBJ_ID id, std::string_view comp) const;
    uint8_t *value_of(const ObjInfo &oi) const;  // storage of an object below an LN

    AI_IED_CTRL ctrl_{};  // first member: from_ctrl relies on it
    uint32_t magic_;
    std::shared_ptr<const scl::Document> doc_;
    const scl::Ied *ied_ = nullptr;  // inside *doc_
    CbLayouts layouts_;
    std::string name_;
    std::vector<ObjInfo> objs_;
    std::vector<AI_OBJ_IDCTRL> idctrl_;
    std::vector<AI_OBJ_ID> child_pool_;
    std::deque<LdData> lds_;
    std::deque<LnData> lns_;
    std::deque<DsData> dss_;
    std::vector<AI_LD_CTRL *> ld_tbl_;
    std::unordered_map<AI_OBJ_ID, LnData *> ln_by_id_;
    std::unordered_map<AI_OBJ_ID, DsData *> ds_by_id_;
    std::unordered_map<std::string, AI_OBJ_ID> ld_by_name_;
    std::unordered_map<AI_OBJ_ID, LdData *> ld_by_id_;
    std::deque<std::unique_ptr<LnType>> types_;
    std::deque<std::string> text_pool_;
    int32_t ln_total_ = 0, ds_total_ = 0;
    mutable std::shared_mutex value_mutex_;
};

// Process-wide registry behind mvl_type_ctrl_find: every LN type of every live model.
MVL_TYPE_CTRL *find_type(int32_t type_id);

// Copies text into a fixed field of cap bytes (NUL included), cutting at a
// UTF-8 character boundary.
void copy_field(char *dst, size_t cap, std::string_view src);

}  // namespace zv::model
