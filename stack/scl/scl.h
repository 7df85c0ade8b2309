// SCL reader: the parts of an IEC 61850-6 configuration file (SCD, CID, ICD)
// that the stack's object model is built from.
//
// The reader keeps what the file says, as text, with the file line of every
// element; it checks syntax, limits and names, but leaves type resolution to
// the model builder (stack/model), which reports unresolved types the same way.
// Every problem becomes a Diag (file, line, reason); errors make the file
// unusable, warnings mean an element was skipped.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zv::scl {

// Limits of untrusted input, each with where it comes from.
constexpr size_t kMaxNameLen = 64;            // AI_OBJ_NAME_LEN 65 with the NUL
constexpr size_t kMaxRefLen = 129;            // AI_OBJ_REF_LEN 130 with the NUL
constexpr size_t kMaxFileBytes = 256u << 20;  // an SCD of a large substation is tens of MB
constexpr int kMaxTypeDepth = 16;             // DA/SDO nesting; real types stay below 6
constexpr uint32_t kMaxArrayCount = 1024;     // `count` of an array attribute or SDO (and so its indexes)
constexpr size_t kMaxValueText = 1024;        // text of one <Val>
// Expansion limits of the model built from the templates: types may reuse
// each other, so a small file could otherwise describe an enormous model.
constexpr size_t kMaxTypeElements = 100000;    // runtime elements of one LN type (real ones: < 3,000)
constexpr size_t kMaxLnDataBytes = 16u << 20;  // values of one LN
constexpr size_t kMaxObjectsPerIed = 4000000;  // objects of one IED model
// Array elements are objects of their own; an LN whose arrays would make more
// objects than this keeps its arrays whole (no element objects), so that a
// few nested `count`s cannot multiply into millions of objects.
constexpr size_t kMaxLnObjects = 100000;  // objects of one LN, array elements included (real ones: < 5,000)

struct Diag {
    std::string file;
    int line = 0;
    std::string reason;
    bool error = false;  // false: a warning, the element was skipped
};

// Collects problems; also prints each as "file:line: warning|error: reason"
// to standard error unless quiet.
class Diagnostics {
public:
    explicit Diagnostics(bool quiet = false) : quiet_(quiet) {}
    void warn(const std::string &file, int line, const std::string &reason);
    void error(const std::string &file, int line, const std::string &reason);
    bool has_errors() const { return errors_ > 0; }
    size_t warnings() const { return items_.size() - errors_; }
    const std::vector<Diag> &items() const { return items_; }
    // True when some diagnostic's reason contains the text.
    bool mentions(std::string_view text) const;

private:
    void add(Diag d);
    bool quiet_;
    size_t errors_ = 0;
    std::vector<Diag> items_;
};

// ---- DataTypeTemplates ----------------------------------------------------

// A DA of a DOType or a BDA of a DAType.
struct AttrDef {
    std::string name;
    std::string fc;      // DA only
    std::string btype;   // basic type, "Struct" or "Enum"
    std::string type;    // DAType id (Struct) or EnumType id (Enum)
    uint32_t count = 0;  // > 0: an array of that many elements
    bool has_val = false;
    std::string val;  // first <Val> of the template
    bool dchg = false, qchg = false, dupd = false;
    int line = 0;
};

// A child of a DOType: a DA or an SDO, in file order.
struct DoChild {
    bool is_sdo = false;
    std::string name;    // SDO name (or the DA's name)
    std::string type;    // SDO: its DOType id
    uint32_t count = 0;  // SDO: > 0 for an array of that many data objects
    AttrDef da;          // DA only
    int line = 0;
};

struct DoType {
    std::string id, cdc;
    std::vector<DoChild> children;
    int line = 0;
};

struct DaType {
    std::string id;
    std::vector<AttrDef> bdas;
    int line = 0;
};

struct EnumType {
    std::string id;
    std::vector<std::pair<int, std::string>> vals;  // ord, text
    int line = 0;
};

struct DoDef {
    std::string name, type;
    int line = 0;
};

struct LNodeType {
    std::string id, ln_class;
    std::vector<DoDef> dos;
    int line = 0;
};

struct Templates {
    std::unordered_map<std::string, LNodeType> ln_types;
    std::unordered_map<std::string, DoType> do_types;
    std::unordered_map<std::string, DaType> da_types;
    std::unordered_map<std::string, EnumType> enum_types;
};

// ---- IED instances ----------------------------------------------------------

// An instance value or description inside an LN: DOI, SDI or DAI.
// `path` names the element from the DO down, '$'-separated, without the FC
// ("Pos", "Pos$stVal", "A$phsA$cVal$mag$f"); an element with `ix` names the
// array element as name(ix) ("Harm$phsAHar(3)$cVal$mag$f").
struct InstEntry {
    std::string path;
    bool is_dai = false;
    bool has_val = false;
    std::string val;
    std::string desc;  // desc attribute (DOI, SDI, DAI)
    int line = 0;
};

struct Fcda {
    std::string ld_inst, prefix, ln_class, ln_inst, do_name, da_name, fc;
    std::string ix;  // as written; selects an element of the array the member names
    int line = 0;
};

struct DataSet {
    std::string name, desc;
    std::vector<Fcda> members;
    int line = 0;
};

enum class CbKind { Report, Log, SettingGroup, Goose, SampledValue };

// OptFlds bits (IEC 61850-8-1, bit 0 first); TrgOps bits likewise.
enum OptFldBit {
    kOptSeqNum = 1,
    kOptTimeStamp,
    kOptReason,
    kOptDataSet,
    kOptDataRef,
    kOptBufOvfl,
    kOptEntryId,
    kOptConfRev,
    kOptSegmentation
};
enum TrgOpBit { kTrgDchg = 1, kTrgQchg, kTrgDupd, kTrgIntegrity, kTrgGi };
// SvOptFlds bits (IEC 61850-9-2 MSVCB/USVCB OptFlds, bit 0 first), from SCL SmvOpts.
enum SvOptBit { kSvRefreshTime = 0, kSvSampleSync, kSvSampleRate, kSvDataSet, kSvSecurity, kSvOptBits };
// SCL smpMod (IEC 61850-7-2 SmpMod enumeration).
enum SmpMod : uint8_t { kSmpPerPeriod = 0, kSmpPerSec = 1, kSecPerSmp = 2 };

struct ControlBlock {
    CbKind kind = CbKind::Report;
    std::string name, desc, dat_set, rpt_id, log_name, go_id, smv_id;
    bool buffered = false;
    bool indexed = true;
    uint32_t max = 1;  // RptEnabled max
    uint32_t conf_rev = 0;
    uint32_t intg_pd = 0;
    uint32_t buf_time = 0;
    uint16_t opt_flds = 0;    // bit i set: OptFlds bit i (OptFldBit)
    uint8_t trg_ops = 0;      // bit i set: TrgOps bit i (TrgOpBit)
    uint32_t num_of_sgs = 1;  // SettingControl
    uint32_t act_sg = 1;
    // SampledValueControl
    bool multicast = true;  // MSVCB (FC MS); false: USVCB (FC US)
    uint32_t smp_rate = 0, nof_asdu = 0;
    uint8_t smp_mod = kSmpPerPeriod;
    uint8_t sv_opts = 0;  // bit i set: SvOptFlds bit i (SvOptBit)
    int line = 0;
};

struct Ln {
    bool is_ln0 = false;
    std::string prefix, ln_class, inst, ln_type, desc;
    std::vector<InstEntry> entries;
    std::vector<DataSet> data_sets;
    std::vector<ControlBlock> cbs;
    int line = 0;
    std::string name() const { return is_ln0 ? std::string("LLN0") : prefix + ln_class + inst; }
};

struct LDevice {
    std::string inst, desc;
    std::string ld_name;  // ldName (Edition 2): the MMS domain instead of IED name + inst
    // The logical device's name: its MMS domain and the first part of references.
    std::string name(const std::string &ied_name) const { return ld_name.empty() ? ied_name + inst : ld_name; }
    std::vector<Ln> lns;  // LN0 first when present, then the LNs in file order
    int line = 0;
};

// One P element of an Address as written (line 0: not given).
struct AddressParam {
    std::string text;
    int line = 0;
    bool given() const { return line > 0; }
};

struct Address {
    std::string subnetwork, access_point, ip;
    // ISO addressing of the access point (P types OSI-TSEL, OSI-SSEL,
    // OSI-PSEL, OSI-AP-Title, OSI-AE-Qualifier, OSI-AP-Invoke, OSI-AE-Invoke),
    // unchecked: the station checks them when it uses them.
    AddressParam osi_tsel, osi_ssel, osi_psel, osi_ap_title, osi_ae_qualifier, osi_ap_invoke, osi_ae_invoke;
    int line = 0;
};

// How an online client may change a report setting (SCL ReportSettings,
// IEC 61850-6 9.3.8): Dyn online, Conf only by configuration, Fix never.
enum class SettingMode : uint8_t { Dyn, Conf, Fix };

// Services/ReportSettings of an IED (or of its server's AccessPoint).
struct ReportSettings {
    bool present = false;   // the element is there; without it nothing is known
    bool owner = false;     // BRCB/URCB carry Owner (Edition 2)
    bool resv_tms = false;  // BRCBs carry ResvTms (Edition 2)
    SettingMode cb_name = SettingMode::Fix, dat_set = SettingMode::Fix, rpt_id = SettingMode::Fix,
                opt_fields = SettingMode::Fix, buf_time = SettingMode::Fix, trg_ops = SettingMode::Fix,
                intg_pd = SettingMode::Fix;
    int line = 0;
};

struct Services {
    ReportSettings report;
};

struct Ied {
    std::string name, desc, manufacturer, type;
    Services services;
    std::vector<LDevice> lds;
    bool has_server = false;
    int line = 0;
};

// One parsed SCL file.
struct Document {
    std::string file;  // as given (used in diagnostics)
    // Root attributes: version "2007" (revision "A"/"B"...) is Edition 2 or
    // later; none (or "2003") is Edition 1.
    std::string version, revision;
    int edition() const { return version.empty() || version < "2007" ? 1 : 2; }
    bool has_templates = false;
    Templates templates;
    std::vector<Ied> ieds;
    std::map<std::string, std::vector<Address>> addresses;  // by IED name, file order
    // Line of a byte offset of the file (1-based); used for late diagnostics.
};

// Reads a file; false (and an error diagnostic) when it cannot be used at all.
bool parse_file(const std::string &path, Document &doc, Diagnostics &diag);
// Same, from text in memory; `name` stands for the file in diagnostics.
bool parse_text(std::string_view text, const std::string &name, Document &doc, Diagnostics &diag);

// True for a name usable as an MMS identifier component: 1..64 characters of
// letters, digits and '_' (so that '$' and '/' keep their meaning in references).
bool valid_name(std::string_view name);

}  // namespace zv::scl
