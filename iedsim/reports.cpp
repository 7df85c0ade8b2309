#include "reports.h"

#include "codec.h"
#include "model/values.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace zv::iedsim {

using mms::Data;

namespace {

constexpr int64_t kDaysFrom1970To1984 = 5113;
constexpr int kReasonBits = 6;  // ReasonCode as IEC 61850-8-1 Ed.1 servers send it

int64_t systemNow() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

mms::BitString maskBits(uint32_t mask, size_t n) {
    mms::BitString b(n);
    for (size_t i = 0; i < n; ++i)
        if (mask & (1u << i)) b.set(i);
    return b;
}

uint32_t bitsMask(const uint8_t* stored) {
    int16_t n;
    std::memcpy(&n, stored, 2);
    uint32_t mask = 0;
    for (int i = 0; i < n && i < 16; ++i)
        if (stored[2 + i / 8] & (0x80 >> (i % 8))) mask |= 1u << i;
    return mask;
}

void maskStored(uint32_t mask, int nbits, uint8_t* out, size_t size) {
    std::memset(out, 0, size);
    int16_t n = int16_t(nbits);
    std::memcpy(out, &n, 2);
    for (int i = 0; i < nbits; ++i)
        if (mask & (1u << i)) out[2 + i / 8] |= uint8_t(0x80 >> (i % 8));
}

mms::BinaryTime entryTime(int64_t ms) {
    return mms::BinaryTime{uint32_t(ms % 86400000), uint16_t(ms / 86400000 - kDaysFrom1970To1984)};
}

std::vector<uint8_t> entryIdBytes(uint64_t id) {
    std::vector<uint8_t> b(8);
    for (int i = 0; i < 8; ++i) b[size_t(i)] = uint8_t(id >> (56 - 8 * i));
    return b;
}

uint64_t entryIdValue(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
    return v;
}

}  // namespace

struct Entry {
    uint64_t id = 0;
    int64_t timeMs = 0;
    std::vector<uint8_t> reasons;  // per member; 0 = not included
    std::vector<Data> values;      // per member (meaningful where included)
};

struct ReportEngine::DsWatch {
    struct Prim {
        const uint8_t* data;
        size_t size;
        uint8_t trig;  // TrgBit mask of the attribute the primitive belongs to
    };
    struct Member {
        AI_OBJ_ID id = -1;
        std::string ref;
        std::vector<Prim> prims;
        std::vector<uint8_t> last;
    };
    AI_OBJ_ID ds = -1;
    std::string ref;
    std::vector<Member> members;
};

struct ReportEngine::Rcb {
    AI_OBJ_ID id = -1;
    std::string ref;
    bool buffered = false;
    std::map<std::string, AI_OBJ_ID> attrs;
    // Live attributes; the model holds a copy for reads (sync()).
    std::string rptId;
    bool ena = false, resv = false;
    std::string datSet;
    DsWatch* watch = nullptr;
    uint32_t confRev = 0, bufTm = 0, intgPd = 0;
    uint32_t optFlds = 0, trgOps = 0;
    uint32_t sqNum = 0;
    int16_t resvTms = 0;
    int owner = -1;
    bool everEnabled = false;
    // Buffer time: events gathered until pendingDue.
    bool pending = false;
    int64_t pendingDue = 0;
    Entry pendingEntry;
    int64_t integrityDue = 0;
    // Buffered blocks: entries, and the last one sent.
    std::deque<Entry> buffer;
    uint64_t lastSent = 0;
    int64_t lastSentTime = 0;
    bool overflow = false;
    // Counters shown by the control channel ("rcb REF").
    uint64_t reads = 0, enaWrites = 0, giWrites = 0;
};

namespace {

// One report of entry `e` (8-1 17.2.3): the members included[from..to), a
// segment of the entry when `segmented`.
mms::InformationReport reportPdu(const ReportEngine::Rcb& r, const Entry& e, const std::vector<size_t>& included,
                                 size_t from, size_t to, bool segmented, uint32_t subSeq, bool more, uint32_t sq,
                                 bool ovfl) {
    mms::InformationReport rep;
    rep.access = mms::VariableAccess::named(mms::ObjectName::vmd("RPT"));
    auto add = [&](Data d) { rep.results.push_back(mms::AccessResult::ok(std::move(d))); };
    const uint32_t opt = (r.optFlds & ~(1u << kOptSegmentation) & ~1u) | (segmented ? 1u << kOptSegmentation : 0);
    const bool buf = r.buffered;
    uint32_t sent = opt;
    if (!buf) sent &= ~((1u << kOptBufOvfl) | (1u << kOptEntryId));
    add(Data::visibleString(r.rptId));
    add(Data::bitString(maskBits(sent, 10)));
    if (opt & (1u << kOptSeqNum)) add(Data::unsignedInt(sq));
    if (opt & (1u << kOptTimeStamp)) add(Data::binaryTime(entryTime(e.timeMs)));
    if (opt & (1u << kOptDataSet)) add(Data::visibleString(r.datSet));
    if (buf && (opt & (1u << kOptBufOvfl))) add(Data::boolean(ovfl));
    if (buf && (opt & (1u << kOptEntryId))) add(Data::octetString(entryIdBytes(e.id)));
    if (opt & (1u << kOptConfRev)) add(Data::unsignedInt(r.confRev));
    if (segmented) {
        add(Data::unsignedInt(subSeq));
        add(Data::boolean(more));
    }
    mms::BitString inc(e.reasons.size());
    for (size_t i = from; i < to; ++i) inc.set(included[i]);
    add(Data::bitString(inc));
    if (opt & (1u << kOptDataRef))
        for (size_t i = from; i < to; ++i) add(Data::visibleString(r.watch->members[included[i]].ref));
    for (size_t i = from; i < to; ++i) {
        const size_t k = included[i];
        if (r.watch->members[k].id < 0)
            rep.results.push_back(mms::AccessResult::fail(mms::kObjectNonExistent));
        else
            add(e.values[k]);
    }
    if (opt & (1u << kOptReason))
        for (size_t i = from; i < to; ++i) add(Data::bitString(maskBits(e.reasons[included[i]], kReasonBits)));
    return rep;
}

std::string idHex(uint64_t id) {
    char b[17];
    std::snprintf(b, sizeof b, "%016llx", static_cast<unsigned long long>(id));
    return b;
}

}  // namespace

ReportEngine::ReportEngine(model::IedModel& m, Log& log, ReportSink& sink, const DeviceProfile& device)
    : m_(m), log_(log), sink_(sink), device_(device) {
    // Entry identifiers keep growing across restarts, also two restarts in
    // one second: start from the clock in milliseconds.
    nextEntryId_ = (uint64_t(systemNow()) << 20) + 1;
    // Data sets first: every block of the same data set shares one watch.
    std::unordered_map<AI_OBJ_ID, DsWatch*> byDs;
    std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
    for (AI_OBJ_ID id = 0; id < m_.object_count(); ++id) {
        if (m_.type(id) != OBJECT_TYPE_DS) continue;
        auto w = std::make_unique<DsWatch>();
        w->ds = id;
        w->ref = m_.reference(id);
        const AI_DS_CTRL* ds = m_.data_set(id);
        for (int32_t k = 0; k < ds->mb_num; ++k) {
            DsWatch::Member mem;
            mem.id = ds->mb_ids[k];
            mem.ref = ds->mb_refs[k];
            if (mem.id >= 0) {
                std::vector<model::Primitive> prims;
                m_.primitives(mem.id, prims);
                const model::LnType* lt = m_.ln_type(m_.ln_of(mem.id));
                for (const model::Primitive& p : prims) {
                    uint8_t trig = 0;
                    if (lt) {
                        const long idx = long(p.rt - lt->rt.data());
                        for (long j = idx; j >= 0 && !trig; --j) {
                            const RUNTIME_TYPE& r = lt->rt[size_t(j)];
                            const model::ElemInfo& ei = lt->elems[size_t(j)];
                            if (ei.kind == model::ElemKind::Fc || ei.kind == model::ElemKind::Ln) break;
                            bool encloses = j == idx || ((r.el_tag == RT_STR_START || r.el_tag == RT_ARR_START) &&
                                                         j + r.offset_to_last > idx);
                            if (!encloses || !ei.tmpl) continue;
                            trig = uint8_t((ei.tmpl->dchg ? 1u << kTrgDchg : 0) | (ei.tmpl->qchg ? 1u << kTrgQchg : 0) |
                                           (ei.tmpl->dupd ? 1u << kTrgDupd : 0));
                        }
                    }
                    mem.prims.push_back(DsWatch::Prim{p.data, size_t(p.size), trig});
                    mem.last.insert(mem.last.end(), p.data, p.data + p.size);
                }
            }
            w->members.push_back(std::move(mem));
        }
        byDs[id] = w.get();
        watches_.push_back(std::move(w));
    }
    for (AI_OBJ_ID id = 0; id < m_.object_count(); ++id) {
        if (m_.type(id) != OBJECT_TYPE_CB) continue;
        const int fc = m_.fc(id);
        if (fc != model::FC_BR && fc != model::FC_RP) continue;
        auto r = std::make_unique<Rcb>();
        r->id = id;
        r->ref = m_.reference(id);
        r->buffered = fc == model::FC_BR;
        const AI_OBJ_ID* kids = nullptr;
        int32_t n = 0;
        m_.children(id, kids, n);
        for (int32_t k = 0; k < n; ++k) r->attrs[m_.name(kids[k])] = kids[k];
        std::vector<model::Primitive> prims;
        auto stored = [&](const char* name) -> const uint8_t* {
            auto it = r->attrs.find(name);
            if (it == r->attrs.end()) return nullptr;
            prims.clear();
            m_.primitives(it->second, prims);
            return prims.empty() ? nullptr : prims[0].data;
        };
        if (const uint8_t* p = stored("RptID")) r->rptId = reinterpret_cast<const char*>(p);
        if (const uint8_t* p = stored("DatSet")) r->datSet = reinterpret_cast<const char*>(p);
        if (const uint8_t* p = stored("ConfRev")) std::memcpy(&r->confRev, p, 4);
        if (const uint8_t* p = stored("BufTm")) std::memcpy(&r->bufTm, p, 4);
        if (const uint8_t* p = stored("IntgPd")) std::memcpy(&r->intgPd, p, 4);
        if (const uint8_t* p = stored("OptFlds")) r->optFlds = bitsMask(p);
        if (const uint8_t* p = stored("TrgOps")) r->trgOps = bitsMask(p);
        AI_OBJ_ID dsId = m_.find(r->datSet);
        auto w = byDs.find(dsId);
        r->watch = w == byDs.end() ? nullptr : w->second;
        r->lastSent = 0;
        rcbs_.push_back(std::move(r));
    }
    lock.unlock();
    for (auto& r : rcbs_) sync(*r);
}

ReportEngine::~ReportEngine() = default;

int64_t ReportEngine::now() const { return clock_ ? clock_() : systemNow(); }

size_t ReportEngine::rcbCount() const { return rcbs_.size(); }

bool ReportEngine::counts(AI_OBJ_ID id, Counts& out) const {
    for (const auto& r : rcbs_)
        if (r->id == id) {
            out = Counts{r->ena, r->owner, r->reads, r->enaWrites, r->giWrites};
            return true;
        }
    return false;
}

void ReportEngine::noteRead(AI_OBJ_ID id) {
    for (auto& r : rcbs_)
        if (r->id == id) ++r->reads;
}

bool ReportEngine::owns(AI_OBJ_ID id) const {
    for (const auto& r : rcbs_) {
        if (r->id == id) return true;
        for (const auto& a : r->attrs)
            if (a.second == id) return true;
    }
    return false;
}

void ReportEngine::sync(Rcb& r) {
    auto put = [&](const char* name, const void* data, size_t size) {
        auto it = r.attrs.find(name);
        if (it != r.attrs.end()) m_.write(it->second, data, size);
    };
    // Texts in whatever string type the device's layout gives them.
    auto putText = [&](const char* name, const std::string& text) {
        auto it = r.attrs.find(name);
        const RUNTIME_TYPE* rt = nullptr;
        int32_t num = 0;
        if (it == r.attrs.end() || !m_.type_of(it->second, rt, num) || rt->el_tag != RT_PRIMITIVE) return;
        const size_t size = model::stored_size(AI_VAL_TYPE(rt->u.p.pad));
        std::vector<uint8_t> b(size, 0);
        if (size > 0) std::memcpy(b.data(), text.data(), std::min(text.size(), size - 1));
        m_.write(it->second, b.data(), size);
    };
    putText("RptID", r.rptId);
    uint8_t b = r.ena;
    put("RptEna", &b, 1);
    b = r.resv;
    put("Resv", &b, 1);
    putText("DatSet", r.datSet);
    put("ConfRev", &r.confRev, 4);
    uint8_t bits[4];
    maskStored(r.optFlds, AI_BITS_OPTFLDS, bits, AI_SIZE_OPTFLDS);
    put("OptFlds", bits, AI_SIZE_OPTFLDS);
    put("BufTm", &r.bufTm, 4);
    if (r.buffered) {
        uint16_t sq = uint16_t(r.sqNum);
        put("SqNum", &sq, 2);
    } else {
        uint8_t sq = uint8_t(r.sqNum);
        put("SqNum", &sq, 1);
    }
    maskStored(r.trgOps, AI_BITS_TRGC, bits, AI_SIZE_TRGC);
    put("TrgOps", bits, AI_SIZE_TRGC);
    put("IntgPd", &r.intgPd, 4);
    b = 0;
    put("GI", &b, 1);
    put("PurgeBuf", &b, 1);
    std::vector<uint8_t> eid = entryIdBytes(r.lastSent);
    put("EntryID", eid.data(), 8);
    EntryTime_TDEF et{0, 0};
    if (r.lastSentTime) {
        mms::BinaryTime bt = entryTime(r.lastSentTime);
        et = EntryTime_TDEF{int32_t(bt.msOfDay), int32_t(*bt.days)};
    }
    put("TimeofEntry", &et, sizeof et);
    put("ResvTms", &r.resvTms, 2);
    OCTET_STRING64_TDEF owner{};
    if (r.owner == kOtherClient) {
        const uint8_t other[4] = {192, 0, 2, 77};  // TEST-NET-1: a client elsewhere
        owner.len_1 = 4;
        std::memcpy(owner.data_1, other, 4);
    } else if (r.owner >= 0 && (r.ena || r.resv)) {
        std::vector<uint8_t> ip = sink_.peerAddress(r.owner);
        owner.len_1 = int16_t(std::min<size_t>(ip.size(), 64));
        std::memcpy(owner.data_1, ip.data(), size_t(owner.len_1));
    }
    put("Owner", &owner, sizeof owner);
}

void ReportEngine::scan() {
    std::vector<std::pair<DsWatch*, std::vector<uint8_t>>> changed;
    {
        std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
        for (auto& w : watches_) {
            std::vector<uint8_t> reasons(w->members.size(), 0);
            bool any = false;
            for (size_t k = 0; k < w->members.size(); ++k) {
                DsWatch::Member& mem = w->members[k];
                size_t off = 0;
                for (const DsWatch::Prim& p : mem.prims) {
                    if (std::memcmp(mem.last.data() + off, p.data, p.size) != 0) {
                        reasons[k] |= p.trig;
                        std::memcpy(mem.last.data() + off, p.data, p.size);
                    }
                    off += p.size;
                }
                any = any || reasons[k];
            }
            if (any) changed.emplace_back(w.get(), std::move(reasons));
        }
    }
    if (dsChanged_)
        for (auto& c : changed) dsChanged_(c.first->ds, c.second);
    for (auto& c : changed)
        for (auto& r : rcbs_) {
            if (r->watch != c.first) continue;
            if (!r->ena && !(r->buffered && r->everEnabled)) continue;
            for (size_t k = 0; k < c.second.size(); ++k) {
                uint8_t why = uint8_t(c.second[k] & r->trgOps);
                if (why) addEvent(*r, k, why);
            }
        }
}

void ReportEngine::addEvent(Rcb& r, size_t member, uint8_t reasons) {
    const int64_t t = now();
    if (r.pending && r.pendingEntry.reasons[member]) flushPending(r);  // 7-2 17.2.2.6: a second change sends first
    if (!r.pending) {
        r.pending = true;
        r.pendingDue = t + r.bufTm;
        r.pendingEntry = Entry{};
        r.pendingEntry.timeMs = t;
        r.pendingEntry.reasons.assign(r.watch->members.size(), 0);
        r.pendingEntry.values.assign(r.watch->members.size(), Data());
    }
    r.pendingEntry.reasons[member] |= reasons;
    {
        std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
        const AI_OBJ_ID id = r.watch->members[member].id;
        if (id >= 0) model::object_data(m_, id, r.pendingEntry.values[member]);
    }
    if (r.bufTm == 0) flushPending(r);
}

void ReportEngine::flushPending(Rcb& r) {
    if (!r.pending) return;
    r.pending = false;
    Entry e = std::move(r.pendingEntry);
    r.pendingEntry = Entry{};
    e.id = nextEntryId_++;
    if (!r.buffered) {
        if (r.ena && r.owner >= 0 && sink_.connected(r.owner)) sendOne(r, e);
        return;
    }
    noteEntry("gen", r, e.id);
    r.buffer.push_back(std::move(e));
    if (r.buffer.size() > kMaxBufferedEntries) {
        noteEntry("ovfl", r, r.buffer.front().id);
        r.buffer.pop_front();
        r.overflow = true;
    }
    sendEntries(r);
}

void ReportEngine::deliver(Rcb& r, std::vector<uint8_t> reasons) {
    flushPending(r);
    Entry e;
    e.timeMs = now();
    e.reasons = std::move(reasons);
    e.values.assign(r.watch->members.size(), Data());
    {
        std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
        for (size_t k = 0; k < e.values.size(); ++k)
            if (r.watch->members[k].id >= 0) model::object_data(m_, r.watch->members[k].id, e.values[k]);
    }
    r.pending = true;
    r.pendingEntry = std::move(e);
    flushPending(r);
}

void ReportEngine::sendEntries(Rcb& r) {
    if (!r.buffered || !r.ena || r.owner < 0 || !sink_.connected(r.owner)) return;
    for (const Entry& e : r.buffer) {
        if (e.id <= r.lastSent) continue;
        if (sink_.backlog(r.owner) > kBrcbBacklogLimit) return;  // the rest goes when the queue drains
        sendOne(r, e);
    }
}

void ReportEngine::sendOne(Rcb& r, const Entry& e) {
    const int conn = r.owner;
    if (!r.buffered && sink_.backlog(conn) > kUrcbBacklogLimit) {
        ++reportsDropped_;
        return;
    }
    std::vector<size_t> included;
    for (size_t k = 0; k < e.reasons.size(); ++k)
        if (e.reasons[k]) included.push_back(k);
    const uint32_t sq = r.sqNum;
    r.sqNum = r.buffered ? (r.sqNum + 1) & 0xFFFF : (r.sqNum + 1) & 0xFF;
    const bool ovfl = r.overflow;
    auto build = [&](size_t from, size_t to, bool segmented, uint32_t subSeq, bool more) {
        return mms::encode(mms::Pdu(reportPdu(r, e, included, from, to, segmented, subSeq, more, sq, ovfl)));
    };
    const size_t limit = sink_.maxPdu(conn);
    std::vector<uint8_t> whole = build(0, included.size(), false, 0, false);
    if (whole.size() <= limit) {
        sink_.sendReport(conn, whole);
        ++reportsSent_;
    } else {
        // Segmentation (8-1 17.2.3.3): as many members per report as fit.
        std::vector<std::pair<size_t, size_t>> segs;
        size_t from = 0;
        while (from < included.size()) {
            size_t to = from + 1;
            if (build(from, to, true, 0, true).size() > limit) {
                log_.line("report of " + r.ref + ": member " + r.watch->members[included[from]].ref +
                          " alone exceeds the PDU size " + std::to_string(limit) + "; report dropped");
                ++reportsDropped_;
                return;
            }
            while (to < included.size() && build(from, to + 1, true, 0, true).size() <= limit) ++to;
            segs.emplace_back(from, to);
            from = to;
        }
        for (size_t s = 0; s < segs.size(); ++s) {
            sink_.sendReport(conn, build(segs[s].first, segs[s].second, true, uint32_t(s), s + 1 < segs.size()));
            ++reportsSent_;
        }
    }
    if (r.buffered) {
        r.lastSent = e.id;
        r.lastSentTime = e.timeMs;
        r.overflow = false;
        noteEntry("sent", r, e.id, " " + std::to_string(conn));
    }
    if (log_.verbose())
        log_.line("report " + r.ref + " sqNum " + std::to_string(sq) + " to connection " + std::to_string(conn));
    sync(r);
}

void ReportEngine::tick() {
    const int64_t t = now();
    for (auto& rp : rcbs_) {
        Rcb& r = *rp;
        if (r.pending && t >= r.pendingDue) flushPending(r);
        if (r.ena && r.intgPd > 0 && (r.trgOps & (1u << kTrgIntegrity)) && r.watch && t >= r.integrityDue) {
            r.integrityDue = t + r.intgPd;
            deliver(r, std::vector<uint8_t>(r.watch->members.size(), uint8_t(1u << kTrgIntegrity)));
        }
        if (r.buffered) sendEntries(r);
    }
}

int64_t ReportEngine::nextDeadlineMs() const {
    const int64_t t = now();
    int64_t best = -1;
    auto consider = [&](int64_t due) {
        int64_t d = std::max<int64_t>(0, due - t);
        if (best < 0 || d < best) best = d;
    };
    for (const auto& r : rcbs_) {
        if (r->pending) consider(r->pendingDue);
        if (r->ena && r->intgPd > 0 && (r->trgOps & (1u << kTrgIntegrity))) consider(r->integrityDue);
        if (r->buffered && r->ena && !r->buffer.empty() && r->buffer.back().id > r->lastSent) consider(t + 10);
    }
    return best;
}

bool ReportEngine::holdForOtherClient(const std::string& ref) {
    for (auto& r : rcbs_) {
        if (r->ref != ref) continue;
        r->owner = kOtherClient;
        if (r->buffered) {
            r->ena = r->watch != nullptr;
            r->everEnabled = r->ena;
        } else {
            r->resv = true;
        }
        log_.line(r->ref + " held by another client");
        sync(*r);
        return true;
    }
    return false;
}

void ReportEngine::connectionClosed(int conn) {
    for (auto& r : rcbs_) {
        if (r->owner != conn) continue;
        if (r->ena) log_.line(r->ref + " disabled: its client's association ended");
        r->ena = false;
        r->resv = false;
        r->owner = -1;
        if (!r->buffered) {
            r->pending = false;
        }
        sync(*r);
    }
}

int32_t ReportEngine::write(int conn, AI_OBJ_ID id, const Data& value) {
    for (auto& r : rcbs_) {
        if (r->id == id) return mms::kObjectAccessDenied;  // whole-block writes are not offered
        for (const auto& a : r->attrs)
            if (a.second == id) {
                int32_t e = writeAttr(conn, *r, a.first, value);
                sync(*r);
                return e;
            }
    }
    return mms::kObjectNonExistent;
}

int32_t ReportEngine::configure(AI_OBJ_ID id, const Data& value) {
    for (auto& r : rcbs_)
        for (const auto& a : r->attrs)
            if (a.second == id) {
                const int32_t e = writeAttr(kLocalConfig, *r, a.first, value, true);
                sync(*r);
                return e;
            }
    return mms::kObjectNonExistent;
}

int32_t ReportEngine::writeAttr(int conn, Rcb& r, const std::string& attr, const Data& v, bool local) {
    const AI_OBJ_ID aid = r.attrs.at(attr);
    const RUNTIME_TYPE* rt = nullptr;
    int32_t num = 0;
    if (!m_.type_of(aid, rt, num) || rt->el_tag != RT_PRIMITIVE) return mms::kObjectAccessDenied;
    const AI_VAL_TYPE vt = AI_VAL_TYPE(rt->u.p.pad);
    uint8_t buf[AI_SIZE_UNISTRING255] = {};
    if (int32_t e = model::stored_from_data(vt, rt->u.p.el_len, v, buf, model::ValueSource::Write)) return e;
    if (attr == "RptEna" && buf[0] != 0) ++r.enaWrites;
    if (attr == "GI" && buf[0] != 0) ++r.giWrites;

    // IEC 61850-7-2 17.2.1 / 17.3.1: a URCB reserved by another client, or a
    // block enabled by another client, is not theirs to change.
    if (local) {
        // Only the settings; enable, reservation and GI stay the clients'.
        static const char* const kLocal[] = {"RptID", "DatSet", "OptFlds", "BufTm", "TrgOps", "IntgPd"};
        if (std::find_if(std::begin(kLocal), std::end(kLocal), [&](const char* n) { return attr == n; }) ==
            std::end(kLocal))
            return mms::kObjectAccessDenied;
    }
    const bool otherOwns = !local && r.owner != kNoOwner && r.owner != conn && (r.ena || r.resv);
    if (otherOwns) return mms::kObjectAccessDenied;
    static const char* const kSettings[] = {"OptFlds", "TrgOps", "IntgPd", "BufTm"};
    if (!local && device_.fixedSettings && std::find_if(std::begin(kSettings), std::end(kSettings), [&](const char* n) {
                                               return attr == n;
                                           }) != std::end(kSettings))
        return mms::kObjectAccessDenied;

    static const char* const kConfig[] = {"RptID",  "DatSet", "OptFlds",  "BufTm",
                                          "TrgOps", "IntgPd", "PurgeBuf", "EntryID"};
    const bool isConfig = std::find_if(std::begin(kConfig), std::end(kConfig),
                                       [&](const char* n) { return attr == n; }) != std::end(kConfig);
    if (isConfig && r.ena && !local) return mms::kTemporarilyUnavailable;
    auto reserveImplicitly = [&] {
        if (!local && !r.buffered && r.owner < 0) {
            r.owner = conn;
            r.resv = true;
        }
    };

    if (attr == "RptEna") {
        const bool on = buf[0] != 0;
        if (!on) {
            if (r.ena) {
                if (r.buffered)
                    flushPending(r);
                else
                    r.pending = false;
                r.ena = false;
                if (r.buffered) r.owner = -1;
                log_.line(r.ref + " disabled by connection " + std::to_string(conn));
            }
            return 0;
        }
        if (r.ena) return 0;
        if (!r.watch) return mms::kTemporarilyUnavailable;  // no data set to report
        r.ena = true;
        r.owner = conn;
        if (!r.buffered) r.resv = true;
        if (!r.everEnabled && r.buffered) r.lastSent = nextEntryId_ - 1;
        r.everEnabled = true;
        r.integrityDue = now() + r.intgPd;
        log_.line(r.ref + " enabled by connection " + std::to_string(conn));
        sendEntries(r);
        return 0;
    }
    if (attr == "Resv") {
        if (r.buffered) return mms::kObjectAccessDenied;
        const bool on = buf[0] != 0;
        if (on) {
            r.owner = conn;
            r.resv = true;
        } else {
            if (r.ena) return mms::kTemporarilyUnavailable;
            r.resv = false;
            r.owner = -1;
        }
        return 0;
    }
    if (attr == "GI") {
        if (buf[0] == 0) return 0;
        if (device_.refuseGi) return mms::kObjectAccessDenied;
        if (!r.ena) return mms::kTemporarilyUnavailable;
        if (r.trgOps & (1u << kTrgGi)) deliver(r, std::vector<uint8_t>(r.watch->members.size(), uint8_t(1u << kTrgGi)));
        return 0;
    }
    if (attr == "RptID") {
        reserveImplicitly();
        r.rptId = reinterpret_cast<const char*>(buf);
        if (r.rptId.empty()) r.rptId = r.ref;  // 7-2 17.2.2.1: empty means the block's reference
        return 0;
    }
    if (attr == "DatSet") {
        std::string ref = reinterpret_cast<const char*>(buf);
        AI_OBJ_ID ds = m_.find(ref);
        DsWatch* w = nullptr;
        for (auto& x : watches_)
            if (x->ds == ds) w = x.get();
        if (!w) return mms::kObjectValueInvalid;
        reserveImplicitly();
        if (ref != r.datSet) {
            r.datSet = ref;
            r.watch = w;
            ++r.confRev;
            purge(r);
            r.pending = false;
        }
        return 0;
    }
    if (attr == "OptFlds") {
        reserveImplicitly();
        r.optFlds = bitsMask(buf);
        return 0;
    }
    if (attr == "TrgOps") {
        reserveImplicitly();
        r.trgOps = bitsMask(buf);
        if (r.buffered) purge(r);
        return 0;
    }
    if (attr == "BufTm") {
        reserveImplicitly();
        std::memcpy(&r.bufTm, buf, 4);
        return 0;
    }
    if (attr == "IntgPd") {
        reserveImplicitly();
        std::memcpy(&r.intgPd, buf, 4);
        return 0;
    }
    if (attr == "PurgeBuf") {
        if (buf[0]) {
            purge(r);
            r.pending = false;
            r.overflow = false;
            log_.line(r.ref + " buffer purged");
        }
        return 0;
    }
    if (attr == "EntryID") {
        const uint64_t want = entryIdValue(buf);
        if (want != 0) {
            bool found = false;
            for (const Entry& e : r.buffer) found = found || e.id == want;
            if (!found) return mms::kObjectValueInvalid;  // 7-2 17.2.2.11: only an entry of the buffer
            r.lastSent = want;
        } else {
            r.lastSent = r.buffer.empty() ? nextEntryId_ - 1 : r.buffer.front().id - 1;
        }
        return 0;
    }
    if (attr == "ResvTms") {
        int16_t v16;
        std::memcpy(&v16, buf, 2);
        r.resvTms = v16;
        return 0;
    }
    // SqNum, ConfRev, TimeofEntry, Owner: read only.
    return mms::kObjectAccessDenied;
}

void ReportEngine::noteEntry(const char* what, const Rcb& r, uint64_t id, const std::string& more) {
    if (entryLog_) entryLog_(std::to_string(now()) + " " + what + " " + r.ref + " " + idHex(id) + more);
}

void ReportEngine::purge(Rcb& r) {
    for (const Entry& e : r.buffer) noteEntry("purge", r, e.id);
    r.buffer.clear();
}

const char* const ReportEngine::kMalformKinds[] = {"wrong-type",    "header-type", "truncated",    "oversized",
                                                   "unknown-rptid", "inclusion",   "entryid-back", nullptr};

// A report built like the block's own from the members' current values,
// then spoilt one way; it is no entry of the buffer (a buffered block's
// report carries an EntryID never used for an entry, except entryid-back,
// which repeats the last one sent).
std::string ReportEngine::malform(AI_OBJ_ID id, const std::string& kind) {
    Rcb* found = nullptr;
    for (auto& r : rcbs_)
        if (r->id == id) found = r.get();
    if (!found) return "no report control block";
    Rcb& r = *found;
    if (!r.ena || r.owner < 0 || !sink_.connected(r.owner) || !r.watch) return "the block is not enabled by a client";
    Entry e;
    e.id = nextEntryId_++;
    e.timeMs = now();
    e.reasons.assign(r.watch->members.size(), uint8_t(1u << kTrgDchg));
    e.values.assign(r.watch->members.size(), Data());
    {
        std::shared_lock<std::shared_mutex> lock(m_.value_mutex());
        for (size_t k = 0; k < e.values.size(); ++k)
            if (r.watch->members[k].id >= 0) model::object_data(m_, r.watch->members[k].id, e.values[k]);
    }
    std::vector<size_t> included;
    for (size_t k = 0; k < e.reasons.size(); ++k) included.push_back(k);
    if (included.empty()) return "the block's data set is empty";
    const uint32_t opt = r.optFlds;
    auto has = [&](int bit) { return (opt & (1u << bit)) != 0; };
    const bool buf = r.buffered;
    if (kind == "entryid-back") {
        if (!buf || !has(kOptEntryId) || r.lastSent == 0)
            return "entryid-back needs a buffered block with EntryID that sent an entry";
        e.id = r.lastSent;
    }
    mms::InformationReport rep = reportPdu(r, e, included, 0, included.size(), false, 0, false, r.sqNum, false);
    // Where the values start: after the header fields the options carry,
    // the inclusion and the data references.
    const size_t header = 2 + has(kOptSeqNum) + has(kOptTimeStamp) + has(kOptDataSet) + (buf && has(kOptBufOvfl)) +
                          (buf && has(kOptEntryId)) + has(kOptConfRev);
    const size_t firstValue = header + 1 + (has(kOptDataRef) ? included.size() : 0);
    std::vector<uint8_t> bytes;
    if (kind == "wrong-type") {
        rep.results[firstValue] = mms::AccessResult::ok(Data::visibleString("not a value of this member"));
    } else if (kind == "header-type") {
        rep.results[1] = mms::AccessResult::ok(Data::unsignedInt(opt));  // OptFlds as a number
    } else if (kind == "truncated") {
        bytes = mms::encode(mms::Pdu(rep));
        bytes.resize(bytes.size() / 2);
    } else if (kind == "oversized") {
        // One more result, so large that the PDU exceeds the negotiated size.
        rep.results.push_back(
            mms::AccessResult::ok(Data::octetString(std::vector<uint8_t>(sink_.maxPdu(r.owner) + 16, 0x55))));
    } else if (kind == "unknown-rptid") {
        rep.results[0] = mms::AccessResult::ok(Data::visibleString(r.rptId + "-unknown"));
    } else if (kind == "inclusion") {
        // The inclusion names every member; the last value is missing.
        rep.results.erase(rep.results.begin() + long(firstValue + included.size() - 1));
    } else if (kind == "entryid-back") {
        // The last entry's EntryID again, with the values as they are now.
    } else {
        return "unknown kind '" + kind + "'";
    }
    if (bytes.empty()) bytes = mms::encode(mms::Pdu(std::move(rep)));
    sink_.sendReport(r.owner, bytes);
    log_.line("malformed report (" + kind + ") of " + r.ref + " sent to connection " + std::to_string(r.owner));
    return "";
}

}  // namespace zv::iedsim
