// InformationReports of report control blocks (IEC 61850-8-1 17.2.3), into
// the model of the server and out to the application's report callback.
//
//   RptID, OptFlds, [SqNum], [TimeOfEntry], [DatSet], [BufOvfl], [EntryID],
//   [ConfRev], [SubSeqNum, MoreSegmentsFollow], Inclusion, [DataRef...],
//   Value..., [ReasonCode...]
// (bracketed fields present when their OptFlds bit is set; the lists have
// one element per data set member whose Inclusion bit is set)
//
// A report is taken whole or not at all: every field is checked (its kind,
// the block it names, the member count its Inclusion gives against the
// values that follow, each value against its member's type, the EntryID
// against the entries already delivered) before the first value reaches the
// model. A refused report is logged ("server N (IED) report dropped: RptID
// 'X': why") and the association goes on; the next report is judged on its
// own.
#include "codec.h"
#include "engine.h"

#include "callbacks.h"
#include "zorvan/ai_values.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace zv::client {

namespace {

// OptFlds bits (bit 0 reserved) and ReasonCode bits.
enum {
    kSeqNum = 1,
    kTimeStamp = 2,
    kReason = 3,
    kDataSet = 4,
    kDataRef = 5,
    kBufOvfl = 6,
    kEntryId = 7,
    kConfRev = 8,
    kSegmentation = 9
};
enum { kRsnDchg = 1, kRsnQchg = 2, kRsnDupd = 3, kRsnIntegrity = 4, kRsnGi = 5 };
// EntryIDs remembered per block against repeats: more than a device's buffer
// usually holds (iedsim keeps 1000 entries), so that a device resending its
// whole buffer after a resume repeats nothing to the application.
constexpr size_t kSeenEntries = 1024;
constexpr size_t kMaxEntryIdOctets = 64;  // IEC 61850-8-1: octet string of 8; room for odd devices
constexpr size_t kMaxRptIdChars = 129;    // VisString129 (Edition 2)
// Refused reports: at most this many lines per window and server, the rest
// counted and summed up in one line when the next window opens.
constexpr int kRefusalLinesPerWindow = 20;
constexpr int64_t kRefusalWindowMs = 10000;

using K = mms::Data::Kind;

bool is_text(const mms::Data *d) { return d && (d->kind() == K::VisibleString || d->kind() == K::MmsString); }
bool is_number(const mms::Data *d) {
    return d && (d->kind() == K::Unsigned || (d->kind() == K::Integer && d->asInt() >= 0));
}
uint64_t number(const mms::Data &d) { return d.kind() == K::Unsigned ? d.asUnsigned() : uint64_t(d.asInt()); }

struct Cursor {
    const std::vector<mms::AccessResult> &r;
    size_t i = 0;
    // The next result's value; null for a failure (the device had no value).
    const mms::Data *next() {
        if (i >= r.size() || !r[i].success) return (i++, nullptr);
        return &r[i++].data;
    }
    size_t left() const { return r.size() - i; }
};

AC_REPORT_REASON reason_of(const mms::BitString &b) {
    if (b.test(kRsnDchg)) return RPT_REASON_DCHG;
    if (b.test(kRsnQchg)) return RPT_REASON_QCHG;
    if (b.test(kRsnDupd)) return RPT_REASON_DUPD;
    if (b.test(kRsnIntegrity)) return RPT_REASON_INTGPD;
    if (b.test(kRsnGi)) return RPT_REASON_GI;
    return RPT_REASON_UNKNOWN;
}

std::string hex(const std::vector<uint8_t> &b) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t v : b) {
        s += digits[v >> 4];
        s += digits[v & 15];
    }
    return s.empty() ? std::string("(empty)") : s;
}

// 8-1 allows "LD/LN.DS" as well as "LD/LN$DS".
std::string dollar_form(std::string ref) {
    for (char &c : ref)
        if (c == '.') c = '$';
    return ref;
}

// The key an EntryID is remembered by: its octets when it has at most 8
// (the common size), else a 64-bit hash of them, behind a length octet.
std::array<uint8_t, 9> entry_key(const std::vector<uint8_t> &id) {
    std::array<uint8_t, 9> k{};
    if (id.size() <= 8) {
        k[0] = uint8_t(id.size());
        std::memcpy(k.data() + 1, id.data(), id.size());
        return k;
    }
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (uint8_t b : id) h = (h ^ b) * 1099511628211ull;
    k[0] = 0xFF;
    for (int i = 0; i < 8; ++i) k[size_t(1 + i)] = uint8_t(h >> (8 * i));
    return k;
}

bool seen_before(const RcbTrack &t, const std::array<uint8_t, 9> &key) {
    for (const auto &k : t.seen)
        if (k == key) return true;
    return false;
}

void remember(RcbTrack &t, const std::vector<uint8_t> &id) {
    const auto key = entry_key(id);
    // The whole ring at once: it fills over a day of entries, and a memory
    // that grows that long looks like a leak.
    if (t.seen.empty()) t.seen.reserve(kSeenEntries);
    if (t.seen.size() < kSeenEntries) {
        t.seen.push_back(key);
    } else {
        t.seen[t.seen_next] = key;
        t.seen_next = (t.seen_next + 1) % kSeenEntries;
    }
    t.last_entry = id;
}

// Diagnostics for soak runs and tests: with ZORVAN_ENTRY_LOG=FILE the stack
// appends "SERVER RCB ENTRYID" (IED name, block reference, EntryID in hex)
// for every buffered report entry it handed to the application's report
// callback, after the callback returned (the last segment of a segmented
// entry). Not meant for production: one write per entry.
class EntryLog {
public:
    static EntryLog &get() {
        static EntryLog *log = new EntryLog();  // never destroyed: callbacks may run at exit
        return *log;
    }
    bool on() const { return file_ != nullptr; }
    void line(const std::string &text) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(file_, "%s\n", text.c_str());
        std::fflush(file_);
    }

private:
    EntryLog() {
        const char *path = std::getenv("ZORVAN_ENTRY_LOG");
        if (path == nullptr || *path == '\0') return;
        file_ = std::fopen(path, "ae");
        if (file_ == nullptr)
            log_line(std::string("ZORVAN_ENTRY_LOG: cannot open ") + path + ": " + std::strerror(errno));
    }
    std::mutex mutex_;
    FILE *file_ = nullptr;  // guarded by mutex_ (set once before any use)
};

}  // namespace

void Engine::on_report(ServerCtx &s, Channel &ch, const mms::InformationReport &rep) {
    if (!rep.access.isListName || rep.access.listName.item != "RPT") return;  // not a report of an RCB
    model::IedModel &m = *s.server->model;
    std::string named;  // the RptID, once read: the block a refusal is about
    auto drop = [&](const std::string &why) {
        RefusedReports &r = s.refused_reports;
        const int64_t now = mono_ms();
        const std::string who = s.label() + " report dropped: ";
        if (now - r.window_start >= kRefusalWindowMs) {
            if (r.unlogged)
                log_line(who + std::to_string(r.unlogged) + " more in the " + std::to_string(kRefusalWindowMs / 1000) +
                         " s before, not logged one by one");
            r.window_start = now;
            r.logged = 0;
            r.unlogged = 0;
        }
        if (r.logged < kRefusalLinesPerWindow) {
            ++r.logged;
            log_line(who + (named.empty() || why.rfind("RptID '", 0) == 0 ? "" : "RptID '" + named + "': ") + why);
        } else {
            ++r.unlogged;
        }
    };

    // ---- the header: each field of the kind 8-1 gives it
    Cursor cur{rep.results};
    const mms::Data *d = cur.next();
    if (!is_text(d)) return drop("no RptID");
    const std::string rpt_id = d->asString();
    if (rpt_id.size() > kMaxRptIdChars) return drop("RptID of " + std::to_string(rpt_id.size()) + " characters");
    named = rpt_id;
    d = cur.next();
    if (!d || d->kind() != K::BitString) return drop("no OptFlds");
    const mms::BitString opt = d->asBits();
    std::string dat_set;
    std::vector<uint8_t> entry_id;
    if (opt.test(kSeqNum) && !is_number(cur.next())) return drop("bad SqNum");
    if (opt.test(kTimeStamp)) {
        d = cur.next();
        if (!d || d->kind() != K::BinaryTime) return drop("bad TimeOfEntry");
    }
    if (opt.test(kDataSet)) {
        d = cur.next();
        if (!is_text(d)) return drop("bad DatSet");
        dat_set = d->asString();
    }
    if (opt.test(kBufOvfl)) {
        d = cur.next();
        if (!d || d->kind() != K::Boolean) return drop("bad BufOvfl");
    }
    if (opt.test(kEntryId)) {
        d = cur.next();
        if (!d || d->kind() != K::OctetString || d->asOctets().size() > kMaxEntryIdOctets) return drop("bad EntryID");
        entry_id = d->asOctets();
    }
    if (opt.test(kConfRev) && !is_number(cur.next())) return drop("bad ConfRev");
    const bool segmented = opt.test(kSegmentation);
    uint64_t sub_seq = 0;
    bool more_segments = false;
    if (segmented) {
        d = cur.next();
        const mms::Data *more = cur.next();
        if (!is_number(d) || !more || more->kind() != K::Boolean) return drop("bad SubSeqNum/MoreSegmentsFollow");
        sub_seq = number(*d);
        more_segments = more->asBool();
    }
    d = cur.next();
    if (!d || d->kind() != K::BitString) return drop("no Inclusion");
    const mms::BitString inc = d->asBits();

    // ---- the block: one this client enabled with that RptID on this channel
    auto en = s.enabled.find({int(ch.which), rpt_id});
    if (en == s.enabled.end())
        return drop("RptID '" + rpt_id + "' is no block this client enabled on channel " + char('A' + int(ch.which)));
    const AI_OBJ_ID rcb = en->second;
    // The data set: the block's; a report that names another one is not its.
    std::string block_ds;
    {
        const AI_OBJ_ID a = m.child(rcb, "DatSet");
        std::string text;
        if (a >= 0 && m.read_text(a, text) == 0) block_ds = dollar_form(text);
    }
    if (!dat_set.empty() && !block_ds.empty() && dollar_form(dat_set) != block_ds)
        return drop("RptID '" + rpt_id + "': data set '" + dat_set + "' is not the block's '" + block_ds + "'");
    const std::string ds_ref = dat_set.empty() ? block_ds : dollar_form(dat_set);
    const AI_OBJ_ID ds = ds_ref.empty() ? -1 : m.find(ds_ref);
    AI_DS_CTRL *dsc = ds >= 0 ? m.data_set(ds) : nullptr;
    if (!dsc) return drop("RptID '" + rpt_id + "': data set '" + dat_set + "' unknown");
    if (inc.bitCount != size_t(dsc->mb_num))
        return drop("inclusion of " + std::to_string(inc.bitCount) + " bits for a data set of " +
                    std::to_string(dsc->mb_num));
    std::vector<int32_t> members;  // data set positions included
    for (int32_t k = 0; k < dsc->mb_num; ++k)
        if (inc.test(size_t(k))) members.push_back(k);
    const size_t n = members.size();
    const size_t want = n * (1 + (opt.test(kDataRef) ? 1 : 0) + (opt.test(kReason) ? 1 : 0));
    if (cur.left() != want)
        return drop("RptID '" + rpt_id + "': inclusion of " + std::to_string(n) + " members wants " +
                    std::to_string(want) + " results, the report has " + std::to_string(cur.left()));

    // ---- the lists: references, values, reasons
    if (opt.test(kDataRef))
        for (size_t k = 0; k < n; ++k) {
            d = cur.next();
            const char *member_ref = dsc->mb_refs ? dsc->mb_refs[members[k]] : nullptr;
            if (!is_text(d)) return drop("RptID '" + rpt_id + "': bad data reference");
            if (member_ref && dollar_form(d->asString()) != dollar_form(member_ref))
                return drop("RptID '" + rpt_id + "': data reference '" + d->asString() +
                            "' where the inclusion names '" + member_ref + "'");
        }
    std::vector<model::PreparedValue> values;
    values.reserve(n);
    for (size_t k = 0; k < n; ++k) {
        const mms::Data *v = cur.next();
        if (!v) continue;  // the device has no value for this member
        const AI_OBJ_ID member = dsc->mb_ids[members[k]];
        if (member < 0) continue;  // a member the model does not hold
        values.emplace_back();
        if (int32_t e = model::prepare_object(m, member, *v, model::ValueSource::Device, values.back()))
            return drop("RptID '" + rpt_id + "': the value of member " + std::to_string(members[k]) + " (" +
                        m.reference(member) + ") does not fit it: " + mms::dataAccessErrorName(e));
    }
    std::vector<AC_REPORT_REASON> reasons;
    std::vector<ST_BOOLEAN> changes(n, 1);
    if (opt.test(kReason)) {
        for (size_t k = 0; k < n; ++k) {
            const mms::Data *r = cur.next();
            if (r && r->kind() != K::BitString) return drop("RptID '" + rpt_id + "': bad ReasonCode");
            const AC_REPORT_REASON why = r ? reason_of(r->asBits()) : RPT_REASON_UNKNOWN;
            reasons.push_back(why);
            changes[k] = why == RPT_REASON_DCHG || why == RPT_REASON_QCHG || why == RPT_REASON_DUPD;
        }
    }

    // ---- the entry: a buffered block's entries reach the application once.
    // One the device sends again (after a resume, or out of its order) is
    // refused; segments of one entry share its EntryID and come in order.
    bool entry_done = false;
    if (!entry_id.empty()) {
        RcbTrack &t = s.tracks[rcb];
        if (seen_before(t, entry_key(entry_id)))
            return drop("RptID '" + rpt_id + "': entry " + hex(entry_id) + " was delivered already");
        if (segmented) {
            if (t.partial == entry_id) {
                if (sub_seq != t.next_segment)
                    return drop("RptID '" + rpt_id + "': segment " + std::to_string(sub_seq) + " of entry " +
                                hex(entry_id) + " where segment " + std::to_string(t.next_segment) + " is due");
            } else {
                if (sub_seq != 0)
                    return drop("RptID '" + rpt_id + "': segment " + std::to_string(sub_seq) + " of entry " +
                                hex(entry_id) + " without the segments before it");
                if (!t.partial.empty())
                    log_line(s.label() + ": RptID '" + rpt_id + "': entry " + hex(t.partial) +
                             " ended without its last segment");
                t.partial = entry_id;
            }
            t.next_segment = sub_seq + 1;
        }
        entry_done = !segmented || !more_segments;
        if (entry_done) {
            t.partial.clear();
            t.next_segment = 0;
            remember(t, entry_id);
        }
    }

    // ---- taken: the values into the model, then the application
    model::store_prepared(m, values.data(), values.size());
    if (zv::app_callbacks().report.load() == nullptr) return;
    struct Report {
        uint8_t rpt_id[AI_SIZE_VSTRING65] = {};
        std::vector<AI_OBJ_VAL> vals;
        std::vector<uint8_t> filled;
        std::vector<ST_BOOLEAN> changes;
        std::vector<AC_REPORT_REASON> reasons;
        std::string entry_line;  // for ZORVAN_ENTRY_LOG
    };
    auto r = std::make_shared<Report>();
    copy_name(reinterpret_cast<char *>(r->rpt_id), sizeof r->rpt_id, rpt_id);
    r->vals.assign(n, AI_OBJ_VAL{});
    r->filled.assign(n, 0);
    for (size_t k = 0; k < n; ++k) r->filled[k] = m.read(dsc->mb_ids[members[k]], &r->vals[k]) == 0;
    r->changes = std::move(changes);
    r->reasons = std::move(reasons);
    if (entry_done && EntryLog::get().on()) r->entry_line = m.name() + " " + m.reference(rcb) + " " + hex(entry_id);
    const int srv = s.index;
    post([r, srv] {
        if (U_AI_C_RPT_FUN f = zv::app_callbacks().report.load()) {
            f(r->rpt_id, ST_INT(r->vals.size()), r->vals.empty() ? nullptr : r->vals.data(),
              r->changes.empty() ? nullptr : r->changes.data(), r->reasons.empty() ? nullptr : r->reasons.data(), srv);
            if (!r->entry_line.empty()) EntryLog::get().line(r->entry_line);
        }
        for (size_t k = 0; k < r->vals.size(); ++k)
            if (r->filled[k]) model::IedModel::release_values(&r->vals[k]);
    });
}

}  // namespace zv::client
