// InformationReports of report control blocks (IEC 61850-8-1 17.2.3), into
// the model of the server and out to the application's report callback.
//
//   RptID, OptFlds, [SqNum], [TimeOfEntry], [DatSet], [BufOvfl], [EntryID],
//   [ConfRev], [SubSeqNum, MoreSegmentsFollow], Inclusion, [DataRef...],
//   Value..., [ReasonCode...]
// (bracketed fields present when their OptFlds bit is set; the lists have
// one element per data set member whose Inclusion bit is set)
#include "codec.h"
#include "engine.h"

#include "../lib/callbacks.h"
#include "zorvan/ai_values.h"

#include <cstring>

namespace zv::client {

namespace {

// OptFlds bits (bit 0 reserved) and ReasonCode bits.
enum { kSeqNum = 1, kTimeStamp = 2, kReason = 3, kDataSet = 4, kDataRef = 5, kBufOvfl = 6, kEntryId = 7,
       kConfRev = 8, kSegmentation = 9 };
enum { kRsnDchg = 1, kRsnQchg = 2, kRsnDupd = 3, kRsnIntegrity = 4, kRsnGi = 5 };
constexpr size_t kSeenEntries = 256;   // EntryIDs remembered per block against duplicates

struct Cursor {
    const std::vector<mms::AccessResult> &r;
    size_t i = 0;
    const mms::Data *next() {
        if (i >= r.size() || !r[i].success) return (i++, nullptr);
        return &r[i++].data;
    }
    bool more() const { return i < r.size(); }
};

AC_REPORT_REASON reason_of(const mms::BitString &b) {
    if (b.test(kRsnDchg)) return RPT_REASON_DCHG;
    if (b.test(kRsnQchg)) return RPT_REASON_QCHG;
    if (b.test(kRsnDupd)) return RPT_REASON_DUPD;
    if (b.test(kRsnIntegrity)) return RPT_REASON_INTGPD;
    if (b.test(kRsnGi)) return RPT_REASON_GI;
    return RPT_REASON_UNKNOWN;
}

}  // namespace

void Engine::on_report(ServerCtx &s, Channel &ch, const mms::InformationReport &rep) {
    if (!rep.access.isListName || rep.access.listName.item != "RPT") return;   // not a report of an RCB
    model::IedModel &m = *s.server->model;
    const std::string who = "server " + std::to_string(s.index) + " report";
    auto drop = [&](const std::string &why) { log_line(who + " dropped: " + why); };
    using K = mms::Data::Kind;

    Cursor cur{rep.results};
    const mms::Data *d = cur.next();
    if (!d || (d->kind() != K::VisibleString && d->kind() != K::MmsString)) return drop("no RptID");
    const std::string rpt_id = d->asString();
    d = cur.next();
    if (!d || d->kind() != K::BitString) return drop("no OptFlds");
    const mms::BitString opt = d->asBits();
    std::string dat_set;
    std::vector<uint8_t> entry_id;
    if (opt.test(kSeqNum) && !cur.next()) return drop("bad SqNum");
    if (opt.test(kTimeStamp) && !cur.next()) return drop("bad TimeOfEntry");
    if (opt.test(kDataSet)) {
        d = cur.next();
        if (!d || (d->kind() != K::VisibleString && d->kind() != K::MmsString)) return drop("bad DatSet");
        dat_set = d->asString();
    }
    if (opt.test(kBufOvfl) && !cur.next()) return drop("bad BufOvfl");
    if (opt.test(kEntryId)) {
        d = cur.next();
        if (!d || d->kind() != K::OctetString || d->asOctets().size() > 64) return drop("bad EntryID");
        entry_id = d->asOctets();
    }
    if (opt.test(kConfRev) && !cur.next()) return drop("bad ConfRev");
    uint64_t sub_seq = 0;
    if (opt.test(kSegmentation)) {
        d = cur.next();
        if (!d || d->kind() != K::Unsigned || !cur.next()) return drop("bad SubSeqNum/MoreSegmentsFollow");
        sub_seq = d->asUnsigned();
    }
    d = cur.next();
    if (!d || d->kind() != K::BitString) return drop("no Inclusion");
    const mms::BitString inc = d->asBits();

    // The block: the one this client enabled with that RptID on this channel.
    AI_OBJ_ID rcb = -1;
    auto en = s.enabled.find({int(ch.which), rpt_id});
    if (en != s.enabled.end()) rcb = en->second;
    // The data set: named in the report, else the block's.
    AI_OBJ_ID ds = -1;
    if (!dat_set.empty()) {
        std::string ref = dat_set;
        for (char &c : ref)   // 8-1 allows "LD/LN.DS" as well as "LD/LN$DS"
            if (c == '.') c = '$';
        ds = m.find(ref);
    } else if (rcb >= 0) {
        const AI_OBJ_ID a = m.child(rcb, "DatSet");
        std::string text;
        if (a >= 0 && m.read_text(a, text) == 0) {
            for (char &c : text)
                if (c == '.') c = '$';
            ds = m.find(text);
        }
    }
    AI_DS_CTRL *dsc = ds >= 0 ? m.data_set(ds) : nullptr;
    if (!dsc) return drop("RptID '" + rpt_id + "': data set '" + dat_set + "' unknown");
    if (inc.bitCount != size_t(dsc->mb_num)) return drop("inclusion of " + std::to_string(inc.bitCount) +
                                                         " bits for a data set of " + std::to_string(dsc->mb_num));
    std::vector<int32_t> members;
    for (int32_t k = 0; k < dsc->mb_num; ++k)
        if (inc.test(size_t(k))) members.push_back(dsc->mb_ids[k]);

    // A buffered block resent after a reconnection: an entry already seen is
    // not reported twice.
    // Segments of one entry share its EntryID: only the first is checked.
    if (!entry_id.empty() && rcb >= 0 && sub_seq == 0) {
        RcbTrack &t = s.tracks[rcb];
        for (const auto &e : t.seen)
            if (e == entry_id) return;
        t.seen.push_back(entry_id);
        if (t.seen.size() > kSeenEntries) t.seen.pop_front();
        t.last_entry = entry_id;
    }

    if (opt.test(kDataRef))
        for (size_t k = 0; k < members.size(); ++k)
            if (!cur.next()) return drop("bad data reference");
    std::vector<uint8_t> stored_ok(members.size(), 0);
    for (size_t k = 0; k < members.size(); ++k) {
        const mms::Data *v = cur.next();
        if (v) stored_ok[k] = store_object(m, members[k], *v) == 0;
    }
    std::vector<AC_REPORT_REASON> reasons;
    std::vector<ST_BOOLEAN> changes(members.size(), 1);
    if (opt.test(kReason)) {
        for (size_t k = 0; k < members.size(); ++k) {
            const mms::Data *r = cur.next();
            const AC_REPORT_REASON why = r && r->kind() == K::BitString ? reason_of(r->asBits()) : RPT_REASON_UNKNOWN;
            reasons.push_back(why);
            changes[k] = why == RPT_REASON_DCHG || why == RPT_REASON_QCHG || why == RPT_REASON_DUPD;
        }
    }

    if (zv::app_callbacks().report.load() == nullptr) return;
    struct Report {
        uint8_t rpt_id[AI_SIZE_VSTRING65] = {};
        std::vector<AI_OBJ_VAL> vals;
        std::vector<uint8_t> filled;
        std::vector<ST_BOOLEAN> changes;
        std::vector<AC_REPORT_REASON> reasons;
    };
    auto r = std::make_shared<Report>();
    copy_name(reinterpret_cast<char *>(r->rpt_id), sizeof r->rpt_id, rpt_id);
    r->vals.assign(members.size(), AI_OBJ_VAL{});
    r->filled.assign(members.size(), 0);
    for (size_t k = 0; k < members.size(); ++k) r->filled[k] = m.read(members[k], &r->vals[k]) == 0;
    r->changes = std::move(changes);
    r->reasons = std::move(reasons);
    const int srv = s.index;
    post([r, srv] {
        if (U_AI_C_RPT_FUN f = zv::app_callbacks().report.load())
            f(r->rpt_id, ST_INT(r->vals.size()), r->vals.empty() ? nullptr : r->vals.data(),
              r->changes.empty() ? nullptr : r->changes.data(), r->reasons.empty() ? nullptr : r->reasons.data(), srv);
        for (size_t k = 0; k < r->vals.size(); ++k)
            if (r->filled[k]) model::IedModel::release_values(&r->vals[k]);
    });
}

}  // namespace zv::client
