#include "journal.h"

#include "model/mms_values.h"
#include "model/values.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <shared_mutex>

namespace zv::iedsim {

using mms::Data;

namespace {

// TrgOps / ReasonCode bits (bit 0 reserved).
enum : uint8_t { kDchg = 1, kQchg = 2, kDupd = 3, kIntegrity = 4 };
constexpr size_t kReasonBits = 6;
// Room for the envelope of a ReadJournal answer around its entries, and for
// the lengths that grow as entries are added.
constexpr size_t kAnswerOverhead = 64;

int64_t wallMs() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::vector<uint8_t> idBytes(uint64_t id) {
    std::vector<uint8_t> b(8);
    for (int i = 0; i < 8; ++i) b[size_t(i)] = uint8_t(id >> (56 - 8 * i));
    return b;
}

uint64_t idValue(const std::vector<uint8_t>& b) {
    uint64_t v = 0;
    for (uint8_t x : b) v = v << 8 | x;
    return v;
}

mms::BitString bits(uint32_t mask, size_t n) {
    mms::BitString b(n);
    for (size_t i = 0; i < n; ++i)
        if (mask & (1u << i)) b.set(i);
    return b;
}

uint32_t mask(const mms::BitString& b) {
    uint32_t m = 0;
    for (size_t i = 0; i < b.bitCount && i < 32; ++i)
        if (b.test(i)) m |= 1u << i;
    return m;
}

bool isText(const Data& d) { return d.kind() == Data::Kind::VisibleString || d.kind() == Data::Kind::MmsString; }

}  // namespace

struct LogEngine::Journal {
    struct Entry {
        uint64_t id = 0;
        int64_t timeMs = 0;
        mms::JournalEntry wire;
        size_t size = 0;  // encoded bytes of the entry in an answer
    };
    std::string ref;
    std::deque<Entry> entries;
};

struct LogEngine::Lcb {
    AI_OBJ_ID id = -1;
    std::string ref;
    std::map<std::string, AI_OBJ_ID> attrs;
    bool ena = true;
    std::string logRef, datSet;
    AI_OBJ_ID ds = -1;
    uint32_t trgOps = 0, intgPd = 0;
    int64_t nextIntegrity = -1;  // mono ms
};

namespace {

int64_t monoMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

LogEngine::LogEngine(model::IedModel& m, Log& log, uint32_t page) : m_(m), log_(log), page_(page) {
    // Entry identifiers keep growing across restarts: start from the clock.
    nextEntryId_ = (uint64_t(wallMs() / 1000) << 20) + 1;
    for (AI_OBJ_ID id = 0; id < m_.object_count(); ++id) {
        if (m_.type(id) != OBJECT_TYPE_CB || m_.fc(id) != model::FC_LG) continue;
        auto l = std::make_unique<Lcb>();
        l->id = id;
        l->ref = m_.reference(id);
        const AI_OBJ_ID* kids = nullptr;
        int32_t n = 0;
        m_.children(id, kids, n);
        for (int32_t k = 0; k < n; ++k) l->attrs[m_.name(kids[k])] = kids[k];
        auto text = [&](const char* name) {
            std::string s;
            auto it = l->attrs.find(name);
            if (it != l->attrs.end()) m_.read_text(it->second, s);
            return s;
        };
        l->logRef = text("LogRef");
        l->datSet = text("DatSet");
        const AI_OBJ_ID ds = m_.find(l->datSet);
        l->ds = ds >= 0 && m_.type(ds) == OBJECT_TYPE_DS ? ds : -1;
        auto it = l->attrs.find("TrgOps");
        if (it != l->attrs.end()) {
            std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
            Data d;
            if (model::object_data(m_, it->second, d) && d.kind() == Data::Kind::BitString)
                l->trgOps = mask(d.asBits());
        }
        const std::string pd = text("IntgPd");
        l->intgPd = pd.empty() ? 0 : uint32_t(std::strtoul(pd.c_str(), nullptr, 10));
        if (l->intgPd) l->nextIntegrity = monoMs() + l->intgPd;
        if (!l->logRef.empty()) journal(l->logRef);
        sync(*l);
        log_.line("log control block " + l->ref + ": data set " + (l->datSet.empty() ? "(none)" : l->datSet) +
                  " into journal " + (l->logRef.empty() ? "(none)" : l->logRef));
        lcbs_.push_back(std::move(l));
    }
}

LogEngine::~LogEngine() = default;

LogEngine::Journal& LogEngine::journal(const std::string& ref) {
    auto& j = journals_[ref];
    if (!j) {
        j = std::make_unique<Journal>();
        j->ref = ref;
    }
    return *j;
}

bool LogEngine::owns(AI_OBJ_ID id) const {
    for (AI_OBJ_ID cur = id; cur >= 0; cur = m_.parent(cur)) {
        const AI_OBJ_TYPE t = m_.type(cur);
        if (t == OBJECT_TYPE_CB) {
            for (const auto& l : lcbs_)
                if (l->id == cur) return true;
            return false;
        }
        if (t != OBJECT_TYPE_FCDA) return false;
    }
    return false;
}

// The model's copy of the block, as clients read it.
void LogEngine::sync(Lcb& l) {
    auto put = [&](const char* name, const Data& d) {
        auto it = l.attrs.find(name);
        if (it != l.attrs.end()) model::store_object(m_, it->second, d, model::ValueSource::Device);
    };
    put("LogEna", Data::boolean(l.ena));
    put("LogRef", Data::visibleString(l.logRef));
    put("DatSet", Data::visibleString(l.datSet));
    put("TrgOps", Data::bitString(bits(l.trgOps, kReasonBits)));
    put("IntgPd", Data::unsignedInt(l.intgPd));
    auto j = journals_.find(l.logRef);
    if (j == journals_.end() || j->second->entries.empty()) {
        put("OldEntrTm", Data::binaryTime(mms::BinaryTime{0, 0}));
        put("NewEntrTm", Data::binaryTime(mms::BinaryTime{0, 0}));
        put("OldEntr", Data::octetString(std::vector<uint8_t>(8, 0)));
        put("NewEntr", Data::octetString(std::vector<uint8_t>(8, 0)));
        return;
    }
    const auto& e = j->second->entries;
    put("OldEntrTm", Data::binaryTime(mms::BinaryTime::fromUnixMs(e.front().timeMs)));
    put("NewEntrTm", Data::binaryTime(mms::BinaryTime::fromUnixMs(e.back().timeMs)));
    put("OldEntr", Data::octetString(idBytes(e.front().id)));
    put("NewEntr", Data::octetString(idBytes(e.back().id)));
}

int32_t LogEngine::write(int conn, AI_OBJ_ID id, const Data& value) {
    Lcb* lp = nullptr;
    for (auto& l : lcbs_)
        if (m_.parent(id) == l->id) lp = l.get();
    if (lp == nullptr) return mms::kObjectAccessDenied;  // the block as a whole: one attribute per write
    Lcb& l = *lp;
    const std::string attr = m_.name(id);
    const std::string who = "connection " + std::to_string(conn) + ": " + l.ref + "$" + attr;
    if (attr == "LogEna") {
        if (value.kind() != Data::Kind::Boolean) return mms::kTypeInconsistent;
        l.ena = value.asBool();
        l.nextIntegrity = l.intgPd ? monoMs() + l.intgPd : -1;
        log_.line(who + " = " + (l.ena ? "true" : "false"));
        sync(l);
        return 0;
    }
    const bool setting = attr == "DatSet" || attr == "TrgOps" || attr == "IntgPd" || attr == "LogRef" ||
                         attr == "OptFlds";
    if (!setting) return mms::kObjectAccessDenied;  // the journal's status
    if (l.ena) {
        log_.line(who + " refused: the log is enabled");
        return mms::kTemporarilyUnavailable;
    }
    if (attr == "DatSet") {
        if (!isText(value)) return mms::kTypeInconsistent;
        const AI_OBJ_ID ds = value.asString().empty() ? -1 : m_.find(value.asString());
        if (!value.asString().empty() && (ds < 0 || m_.type(ds) != OBJECT_TYPE_DS)) return mms::kObjectValueInvalid;
        l.datSet = value.asString();
        l.ds = ds;
    } else if (attr == "TrgOps") {
        if (value.kind() != Data::Kind::BitString) return mms::kTypeInconsistent;
        l.trgOps = mask(value.asBits());
    } else if (attr == "IntgPd") {
        if (value.kind() == Data::Kind::Unsigned)
            l.intgPd = uint32_t(std::min<uint64_t>(value.asUnsigned(), UINT32_MAX));
        else if (value.kind() == Data::Kind::Integer && value.asInt() >= 0)
            l.intgPd = uint32_t(std::min<int64_t>(value.asInt(), UINT32_MAX));
        else
            return mms::kTypeInconsistent;
    } else if (attr == "LogRef") {
        if (!isText(value)) return mms::kTypeInconsistent;
        const std::string& r = value.asString();
        const size_t slash = r.find('/');
        if (slash == std::string::npos || slash == 0 || slash + 1 >= r.size() || r.size() > 129)
            return mms::kObjectValueInvalid;
        l.logRef = r;
        journal(r);
    } else {
        if (int32_t e = model::store_object(m_, id, value, model::ValueSource::Write)) return e;
    }
    log_.line(who + " written");
    sync(l);
    return 0;
}

void LogEngine::logEntry(Lcb& l, const std::vector<uint8_t>& reasons) {
    if (l.logRef.empty() || l.ds < 0) return;
    const AI_DS_CTRL* ds = m_.data_set(l.ds);
    if (ds == nullptr) return;
    Journal& j = journal(l.logRef);
    Journal::Entry e;
    e.id = nextEntryId_++;
    e.timeMs = wallMs();
    e.wire.entryId = idBytes(e.id);
    e.wire.occurrenceTime = mms::BinaryTime::fromUnixMs(e.timeMs);
    {
        std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
        for (size_t k = 0; k < reasons.size() && k < size_t(ds->mb_num); ++k) {
            if (!reasons[k] || ds->mb_ids[k] < 0) continue;
            Data v;
            if (!model::object_data(m_, ds->mb_ids[k], v)) continue;
            e.wire.variables.push_back(mms::JournalVariable{ds->mb_refs[k], std::move(v)});
            e.wire.variables.push_back(
                mms::JournalVariable{"ReasonCode", Data::bitString(bits(reasons[k], kReasonBits))});
        }
    }
    if (e.wire.variables.empty()) return;
    mms::ReadJournalResponse one;
    one.entries.push_back(e.wire);
    e.size = mms::encode(mms::Pdu(mms::ConfirmedResponse{0, one})).size() -
             mms::encode(mms::Pdu(mms::ConfirmedResponse{0, mms::ReadJournalResponse{}})).size();
    j.entries.push_back(std::move(e));
    while (j.entries.size() > kMaxJournalEntries) j.entries.pop_front();
    for (auto& other : lcbs_)
        if (other->logRef == l.logRef) sync(*other);
}

void LogEngine::dataSetChanged(AI_OBJ_ID ds, const std::vector<uint8_t>& reasons) {
    const uint8_t changes = uint8_t(1u << kDchg | 1u << kQchg | 1u << kDupd);
    for (auto& l : lcbs_) {
        if (!l->ena || l->ds != ds) continue;
        std::vector<uint8_t> why(reasons.size());
        bool any = false;
        for (size_t k = 0; k < reasons.size(); ++k) {
            why[k] = uint8_t(reasons[k] & l->trgOps & changes);
            any = any || why[k];
        }
        if (any) logEntry(*l, why);
    }
}

void LogEngine::tick() {
    const int64_t t = monoMs();
    for (auto& l : lcbs_) {
        if (!l->ena || l->intgPd == 0 || l->nextIntegrity < 0 || t < l->nextIntegrity) continue;
        l->nextIntegrity = t + l->intgPd;
        if (!(l->trgOps & (1u << kIntegrity)) || l->ds < 0) continue;
        const AI_DS_CTRL* ds = m_.data_set(l->ds);
        if (ds) logEntry(*l, std::vector<uint8_t>(size_t(ds->mb_num), uint8_t(1u << kIntegrity)));
    }
}

int64_t LogEngine::nextDeadlineMs() const {
    const int64_t t = monoMs();
    int64_t best = -1;
    for (const auto& l : lcbs_) {
        if (!l->ena || l->nextIntegrity < 0) continue;
        const int64_t due = std::max<int64_t>(0, l->nextIntegrity - t);
        best = best < 0 ? due : std::min(best, due);
    }
    return best;
}

mms::Pdu LogEngine::readJournal(uint32_t invokeId, const mms::ReadJournalRequest& r, size_t maxPdu) const {
    auto it = r.journal.scope == mms::ObjectName::Scope::Domain
                  ? journals_.find(r.journal.domain + "/" + r.journal.item)
                  : journals_.end();
    if (it == journals_.end()) {
        mms::ConfirmedError e;
        e.invokeId = invokeId;
        e.error.errorClass = mms::kDefinition;
        e.error.code = 1;  // object-undefined
        return mms::Pdu(e);
    }
    const std::deque<Journal::Entry>& all = it->second->entries;
    size_t i = 0;
    if (r.startAfter) {
        const uint64_t after = idValue(r.startAfter->entry);
        auto hit = std::find_if(all.begin(), all.end(), [&](const Journal::Entry& e) { return e.id == after; });
        if (hit != all.end()) {
            i = size_t(hit - all.begin()) + 1;
        } else {
            const int64_t t = r.startAfter->time.toUnixMs();
            while (i < all.size() && all[i].timeMs <= t) ++i;
        }
    } else if (r.rangeStart && r.rangeStart->byEntry) {
        const uint64_t from = idValue(r.rangeStart->entry);
        while (i < all.size() && all[i].id < from) ++i;
    } else if (r.rangeStart) {
        const int64_t t = r.rangeStart->time.toUnixMs();
        while (i < all.size() && all[i].timeMs < t) ++i;
    }
    const bool byTime = r.rangeStop && !r.rangeStop->byCount;
    const int64_t stopTime = byTime ? r.rangeStop->time.toUnixMs() : INT64_MAX;
    const size_t stopCount = r.rangeStop && r.rangeStop->byCount ? size_t(std::max(0, r.rangeStop->count)) : SIZE_MAX;
    mms::ReadJournalResponse resp;
    size_t used = kAnswerOverhead;
    for (; i < all.size() && all[i].timeMs <= stopTime && resp.entries.size() < stopCount; ++i) {
        const bool full = (page_ && resp.entries.size() >= page_) || used + all[i].size > maxPdu;
        if (full && !resp.entries.empty()) {
            resp.moreFollows = true;
            break;
        }
        used += all[i].size;
        resp.entries.push_back(all[i].wire);
    }
    return mms::Pdu(mms::ConfirmedResponse{invokeId, std::move(resp)});
}

long LogEngine::entries(const std::string& ref) const {
    auto it = journals_.find(ref);
    return it == journals_.end() ? -1 : long(it->second->entries.size());
}

}  // namespace zv::iedsim
