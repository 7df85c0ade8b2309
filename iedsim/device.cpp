#include "device.h"

namespace zv::iedsim {

namespace {

using model::CbComponent;
using model::CbLayout;

CbComponent p(const char* name, AI_VAL_TYPE t, int16_t len) { return CbComponent{name, t, len, {}}; }

struct Choice {
    int edition;
    bool owner, resvTms;
};

Choice choose(const DeviceProfile& d, const scl::Document& doc, const scl::Ied& ied) {
    Choice c;
    c.edition = d.edition ? d.edition : doc.edition();
    const bool ed2 = c.edition >= 2;
    c.owner = ed2 && d.owner.value_or(ied.services.report.owner);
    c.resvTms = ed2 && d.resvTms.value_or(ied.services.report.resv_tms);
    return c;
}

}  // namespace

bool applyProfile(const std::string& name, DeviceProfile& p) {
    if (name == "scl")
        p = DeviceProfile{};
    else if (name == "ed1")
        p.edition = 1, p.owner = false, p.resvTms = false;
    else if (name == "ed2")
        p.edition = 2, p.owner = false, p.resvTms = false;
    else if (name == "ed2-owner")
        p.edition = 2, p.owner = true, p.resvTms = false;
    else if (name == "ed2-resvtms")
        p.edition = 2, p.owner = false, p.resvTms = true;
    else if (name == "ed2-full")
        p.edition = 2, p.owner = true, p.resvTms = true;
    else if (name == "fixed")
        p.edition = 2, p.owner = true, p.resvTms = true, p.fixedSettings = true;
    else
        return false;
    return true;
}

// IEC 61850-8-1 (Edition 1: clause 17 tables; Edition 2 adds ResvTms and
// Owner to the BRCB, Owner to the URCB, ResvTms to the SGCB, MinTime, MaxTime
// and FixedOffs to the GoCB, and widens the references to VisString129).
model::CbLayouts deviceLayouts(const DeviceProfile& d, const scl::Document& doc, const scl::Ied& ied) {
    const Choice c = choose(d, doc, ied);
    const bool ed2 = c.edition >= 2;
    const AI_VAL_TYPE ref = ed2 ? VAL_TYPE_VSTRING129 : VAL_TYPE_VSTRING65;
    const int16_t refLen = ed2 ? 129 : 65;
    model::CbLayouts l;
    l.brcb = {p("RptID", ref, refLen),
              p("RptEna", VAL_TYPE_BOOLEAN, 1),
              p("DatSet", ref, refLen),
              p("ConfRev", VAL_TYPE_INT32U, 4),
              p("OptFlds", VAL_TYPE_OPTFLDS, 10),
              p("BufTm", VAL_TYPE_INT32U, 4),
              p("SqNum", VAL_TYPE_INT16U, 2),
              p("TrgOps", VAL_TYPE_TRGC, 6),
              p("IntgPd", VAL_TYPE_INT32U, 4),
              p("GI", VAL_TYPE_BOOLEAN, 1),
              p("PurgeBuf", VAL_TYPE_BOOLEAN, 1),
              p("EntryID", VAL_TYPE_ENTRYID, 8),
              p("TimeofEntry", VAL_TYPE_ENTRYTIME, 6)};
    if (c.resvTms) l.brcb.push_back(p("ResvTms", VAL_TYPE_INT16, 2));
    if (c.owner) l.brcb.push_back(p("Owner", VAL_TYPE_OSTRING64, 64));
    l.urcb = {p("RptID", ref, refLen),         p("RptEna", VAL_TYPE_BOOLEAN, 1), p("Resv", VAL_TYPE_BOOLEAN, 1),
              p("DatSet", ref, refLen),        p("ConfRev", VAL_TYPE_INT32U, 4), p("OptFlds", VAL_TYPE_OPTFLDS, 10),
              p("BufTm", VAL_TYPE_INT32U, 4),  p("SqNum", VAL_TYPE_INT8U, 1),    p("TrgOps", VAL_TYPE_TRGC, 6),
              p("IntgPd", VAL_TYPE_INT32U, 4), p("GI", VAL_TYPE_BOOLEAN, 1)};
    if (c.owner) l.urcb.push_back(p("Owner", VAL_TYPE_OSTRING64, 64));
    l.lcb = {p("LogEna", VAL_TYPE_BOOLEAN, 1),
             p("LogRef", ref, refLen),
             p("DatSet", ref, refLen),
             p("OldEntrTm", VAL_TYPE_ENTRYTIME, 6),
             p("NewEntrTm", VAL_TYPE_ENTRYTIME, 6),
             p("OldEntr", VAL_TYPE_ENTRYID, 8),
             p("NewEntr", VAL_TYPE_ENTRYID, 8),
             p("TrgOps", VAL_TYPE_TRGC, 6),
             p("IntgPd", VAL_TYPE_INT32U, 4)};
    l.sgcb = {p("NumOfSG", VAL_TYPE_INT8U, 1), p("ActSG", VAL_TYPE_INT8U, 1), p("EditSG", VAL_TYPE_INT8U, 1),
              p("CnfEdit", VAL_TYPE_BOOLEAN, 1), p("LActTm", VAL_TYPE_TIMESTAMP, 8)};
    if (ed2) l.sgcb.push_back(p("ResvTms", VAL_TYPE_INT16U, 2));
    CbComponent dst{"DstAddress",
                    VAL_TYPE_UNKNOWN,
                    0,
                    {p("Addr", VAL_TYPE_OSTRING8, 6), p("PRIORITY", VAL_TYPE_INT8U, 1), p("VID", VAL_TYPE_INT16U, 2),
                     p("APPID", VAL_TYPE_INT16U, 2)}};
    l.gocb = {p("GoEna", VAL_TYPE_BOOLEAN, 1),  p("GoID", ref, refLen),           p("DatSet", ref, refLen),
              p("ConfRev", VAL_TYPE_INT32U, 4), p("NdsCom", VAL_TYPE_BOOLEAN, 1), dst};
    if (ed2) {
        l.gocb.push_back(p("MinTime", VAL_TYPE_INT32U, 4));
        l.gocb.push_back(p("MaxTime", VAL_TYPE_INT32U, 4));
        l.gocb.push_back(p("FixedOffs", VAL_TYPE_BOOLEAN, 1));
    }
    // Sampled value control blocks (IEC 61850-9-2 MMS mapping): the multicast
    // MSVCB (FC MS) and the unicast USVCB (FC US), which alone can be reserved.
    // OptFlds is SvOptFlds, 5 bits (refresh-time, sample-synchronized,
    // sample-rate, data-set, security). Edition 2 adds SmpMod (ENUMERATED,
    // 8 bits on the wire) before DstAddress and noASDU at the end.
    l.msvcb = {p("SvEna", VAL_TYPE_BOOLEAN, 1),  p("MsvID", ref, refLen),          p("DatSet", ref, refLen),
               p("ConfRev", VAL_TYPE_INT32U, 4), p("SmpRate", VAL_TYPE_INT16U, 2), p("OptFlds", VAL_TYPE_OPTFLDS, 5)};
    l.usvcb = {p("SvEna", VAL_TYPE_BOOLEAN, 1),  p("Resv", VAL_TYPE_BOOLEAN, 1),   p("UsvID", ref, refLen),
               p("DatSet", ref, refLen),         p("ConfRev", VAL_TYPE_INT32U, 4), p("SmpRate", VAL_TYPE_INT16U, 2),
               p("OptFlds", VAL_TYPE_OPTFLDS, 5)};
    for (CbLayout* sv : {&l.msvcb, &l.usvcb}) {
        if (ed2) sv->push_back(p("SmpMod", VAL_TYPE_INT8, 1));
        sv->push_back(dst);
        if (ed2) sv->push_back(p("noASDU", VAL_TYPE_INT16U, 2));
    }
    return l;
}

std::string describe(const DeviceProfile& d, const scl::Document& doc, const scl::Ied& ied) {
    const Choice c = choose(d, doc, ied);
    std::string s = "edition " + std::to_string(c.edition);
    if (c.owner) s += ", Owner";
    if (c.resvTms) s += ", ResvTms";
    if (d.fixedSettings) s += ", fixed report settings";
    if (d.refuseGi) s += ", GI refused";
    for (const std::string& h : d.held) s += ", " + h + " held by another client";
    return s;
}

}  // namespace zv::iedsim
