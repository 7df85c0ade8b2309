#include "model/cb_layouts.h"

namespace zv::model {

namespace {

CbComponent prim(const char *name, AI_VAL_TYPE type, int16_t el_len) { return CbComponent{name, type, el_len, {}}; }

// IEC 61850-8-1: a PhyComAddr (DstAddress of GOOSE and sampled values).
CbComponent dst_address() {
    return CbComponent{"DstAddress",
                       VAL_TYPE_UNKNOWN,
                       0,
                       {prim("Addr", VAL_TYPE_OSTRING8, 6), prim("PRIORITY", VAL_TYPE_INT8U, 1),
                        prim("VID", VAL_TYPE_INT16U, 2), prim("APPID", VAL_TYPE_INT16U, 2)}};
}

}  // namespace

CbLayouts scl_layouts(const scl::Document &doc, const scl::Ied &ied) {
    const bool ed2 = doc.edition() >= 2;
    const scl::ReportSettings &rs = ied.services.report;
    // RptID, DatSet, LogRef, GoID, MsvID: VisString65 in Edition 1, 129 from Edition 2 on.
    const AI_VAL_TYPE vs = ed2 ? VAL_TYPE_VSTRING129 : VAL_TYPE_VSTRING65;
    const int16_t vs_len = ed2 ? 129 : 65;
    CbLayouts l;

    l.brcb = {prim("RptID", vs, vs_len),
              prim("RptEna", VAL_TYPE_BOOLEAN, 1),
              prim("DatSet", vs, vs_len),
              prim("ConfRev", VAL_TYPE_INT32U, 4),
              prim("OptFlds", VAL_TYPE_OPTFLDS, 10),
              prim("BufTm", VAL_TYPE_INT32U, 4),
              prim("SqNum", VAL_TYPE_INT16U, 2),
              prim("TrgOps", VAL_TYPE_TRGC, 6),
              prim("IntgPd", VAL_TYPE_INT32U, 4),
              prim("GI", VAL_TYPE_BOOLEAN, 1),
              prim("PurgeBuf", VAL_TYPE_BOOLEAN, 1),
              prim("EntryID", VAL_TYPE_ENTRYID, 8),
              prim("TimeofEntry", VAL_TYPE_ENTRYTIME, 6)};
    if (ed2 && rs.resv_tms) l.brcb.push_back(prim("ResvTms", VAL_TYPE_INT16, 2));
    if (ed2 && rs.owner) l.brcb.push_back(prim("Owner", VAL_TYPE_OSTRING64, 64));

    l.urcb = {prim("RptID", vs, vs_len),           prim("RptEna", VAL_TYPE_BOOLEAN, 1),
              prim("Resv", VAL_TYPE_BOOLEAN, 1),   prim("DatSet", vs, vs_len),
              prim("ConfRev", VAL_TYPE_INT32U, 4), prim("OptFlds", VAL_TYPE_OPTFLDS, 10),
              prim("BufTm", VAL_TYPE_INT32U, 4),   prim("SqNum", VAL_TYPE_INT8U, 1),
              prim("TrgOps", VAL_TYPE_TRGC, 6),    prim("IntgPd", VAL_TYPE_INT32U, 4),
              prim("GI", VAL_TYPE_BOOLEAN, 1)};
    if (ed2 && rs.owner) l.urcb.push_back(prim("Owner", VAL_TYPE_OSTRING64, 64));

    l.lcb = {prim("LogEna", VAL_TYPE_BOOLEAN, 1),
             prim("LogRef", vs, vs_len),
             prim("DatSet", vs, vs_len),
             prim("OldEntrTm", VAL_TYPE_ENTRYTIME, 6),
             prim("NewEntrTm", VAL_TYPE_ENTRYTIME, 6),
             prim("OldEntr", VAL_TYPE_ENTRYID, 8),
             prim("NewEntr", VAL_TYPE_ENTRYID, 8),
             prim("TrgOps", VAL_TYPE_TRGC, 6),
             prim("IntgPd", VAL_TYPE_INT32U, 4)};

    l.sgcb = {prim("NumOfSG", VAL_TYPE_INT8U, 1), prim("ActSG", VAL_TYPE_INT8U, 1), prim("EditSG", VAL_TYPE_INT8U, 1),
              prim("CnfEdit", VAL_TYPE_BOOLEAN, 1), prim("LActTm", VAL_TYPE_TIMESTAMP, 8)};
    if (ed2) l.sgcb.push_back(prim("ResvTms", VAL_TYPE_INT16U, 2));

    l.gocb = {prim("GoEna", VAL_TYPE_BOOLEAN, 1),  prim("GoID", vs, vs_len),
              prim("DatSet", vs, vs_len),          prim("ConfRev", VAL_TYPE_INT32U, 4),
              prim("NdsCom", VAL_TYPE_BOOLEAN, 1), dst_address()};
    if (ed2) {
        l.gocb.push_back(prim("MinTime", VAL_TYPE_INT32U, 4));
        l.gocb.push_back(prim("MaxTime", VAL_TYPE_INT32U, 4));
        l.gocb.push_back(prim("FixedOffs", VAL_TYPE_BOOLEAN, 1));
    }

    // Sampled value control blocks, as IEC 61850-9-2 maps them to MMS (MSVCB
    // under MS, USVCB under US; IEC 61850-8-1 leaves them to 9-2):
    //   SvEna BOOLEAN, [USVCB: Resv BOOLEAN], MsvID/UsvID VisString, DatSet
    //   VisString, ConfRev INT32U, SmpRate INT16U, OptFlds SvOptFlds (bit
    //   string of 5: refresh-time, sample-synchronized, sample-rate, data-set,
    //   security), [Edition 2: SmpMod ENUMERATED], DstAddress PhyComAddr,
    //   [Edition 2: noASDU INT16U].
    // Edition 2 inserts SmpMod before DstAddress and appends noASDU; SmpMod
    // travels as an 8-bit integer like every enumeration.
    auto sv = [&](bool unicast) {
        CbLayout b = {prim("SvEna", VAL_TYPE_BOOLEAN, 1)};
        if (unicast) b.push_back(prim("Resv", VAL_TYPE_BOOLEAN, 1));
        b.push_back(prim(unicast ? "UsvID" : "MsvID", vs, vs_len));
        b.push_back(prim("DatSet", vs, vs_len));
        b.push_back(prim("ConfRev", VAL_TYPE_INT32U, 4));
        b.push_back(prim("SmpRate", VAL_TYPE_INT16U, 2));
        b.push_back(prim("OptFlds", VAL_TYPE_OPTFLDS, 5));
        if (ed2) b.push_back(prim("SmpMod", VAL_TYPE_INT8, 1));
        b.push_back(dst_address());
        if (ed2) b.push_back(prim("noASDU", VAL_TYPE_INT16U, 2));
        return b;
    };
    l.msvcb = sv(false);
    l.usvcb = sv(true);
    return l;
}

std::vector<std::string> component_names(const CbLayout &layout) {
    std::vector<std::string> out;
    out.reserve(layout.size());
    for (const CbComponent &c : layout) out.push_back(c.name);
    return out;
}

}  // namespace zv::model
