#include "DataDeal.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <cstdint>

#include "ConnectionPool.h"
#include "gui_srv.h"
#include "trace.h"
#include "zv_ops.h"

namespace {

const char kMappingQuery[] =
    "select paramindex,eqmid,tablename,colname from rptparamindex where eqmid<>0 and eqmid<>'' and eqmid is "
    "not NULL and tablename<>'' and tablename is not NULL and colname<>'' and colname is not NULL";

// Slot of a table no setting names, and of a setting of 0 or less.
constexpr qint64 kDefaultSlotSeconds = 1800;

AI_OBJ_IDCTRL *idCtrl(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    if (ai_get_obj_id_ctrl_ad == nullptr || ied == nullptr) return nullptr;
    return ai_get_obj_id_ctrl_ad(ied, id);
}

AI_DS_CTRL *dataSet(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    AI_OBJ_IDCTRL *ctrl = idCtrl(ied, id);
    if (ctrl == nullptr || ctrl->obj_type != OBJECT_TYPE_DS) return nullptr;
    AI_DS_CTRL *ds = ctrl->u.ds_idctrl.ds;
    if (ds == nullptr || (ds->mb_num > 0 && ds->mb_ids == nullptr)) return nullptr;
    return ds;
}

// Reference text of an object; empty when the stack has none.
QByteArray reference(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    if (ai_obj_id_to_ref_ad == nullptr) return {};
    char ref[AI_OBJ_REF_LEN] = {};
    if (ai_obj_id_to_ref_ad(ied, id, ref) != 0) return {};
    ref[AI_OBJ_REF_LEN - 1] = '\0';
    return QByteArray(ref);
}

bool nameReadable(AI_IED_CTRL *ied, AI_OBJ_ID id) {
    if (ai_obj_id_to_name_ad == nullptr) return false;
    char name[AI_OBJ_NAME_LEN] = {};
    return ai_obj_id_to_name_ad(ied, id, name) == 0;
}

// Copy of a directory list (selector 0: children, 1: data sets of a device).
bool directory(AI_IED_CTRL *ied, AI_OBJ_ID id, unsigned char selector, std::vector<AI_OBJ_ID> *out) {
    out->clear();
    if (ai_get_obj_dir_ad == nullptr) return false;
    AI_OBJ_ID *ids = nullptr;
    ST_INT num = 0;
    if (ai_get_obj_dir_ad(ied, id, selector, &ids, &num) != 0) return false;
    if (ids != nullptr && num > 0) out->assign(ids, ids + num);
    return true;
}

QString primText(const AI_PRIM_VAL &prim) {
    if (ai_prim_value_to_str_ad == nullptr) return {};
    char text[AI_VALUE_TEXT_LEN] = {};
    if (ai_prim_value_to_str_ad(prim.type, prim.data, text) != 0) return {};
    text[AI_VALUE_TEXT_LEN - 1] = '\0';
    return QString::fromUtf8(text);
}

// Values of one object, released when the holder goes.
struct ObjValues {
    AI_OBJ_VAL val{};
    bool ok = false;
    ObjValues(AI_IED_CTRL *ied, AI_OBJ_ID id) {
        if (ai_read_obj_primVals_ad == nullptr) return;
        ok = ai_read_obj_primVals_ad(id, ied, &val) == 0;
    }
    ~ObjValues() {
        if (ai_cleanup_objVals_ad) ai_cleanup_objVals_ad(&val);
    }
    ObjValues(const ObjValues &) = delete;
    ObjValues &operator=(const ObjValues &) = delete;
};

// Value text of `wanted` within one resolved data set member: the member
// itself when it is a single primitive, else its first primitive of that
// reference. Empty when the member does not hold the reference.
QString memberValue(AI_IED_CTRL *ied, [[maybe_unused]] int srv_id, AI_OBJ_ID obj, const QByteArray &wanted) {
    const QByteArray ref = reference(ied, obj);
    ObjValues values(ied, obj);
    if (!values.ok) return {};
    const AI_OBJ_VAL &v = values.val;
    if (v.prim_num == 1) {
        if (v.prim_vals == nullptr) return {};
        const QString text = primText(v.prim_vals[0]);
        TM_TRACE_PRINTF("srv_id=%d  paramindex=%s, %s\n", srv_id, wanted.constData(), ref.constData());
        return ref == wanted ? text : QString();
    }
    if (v.prim_ids == nullptr || v.prim_vals == nullptr) return {};
    for (int k = 0; k < v.prim_num; ++k) {
        if (reference(ied, v.prim_ids[k]) != wanted) continue;
        const QString text = primText(v.prim_vals[k]);
        TM_TRACE_PRINTF("--> %s = [%s]\n", wanted.constData(), text.toUtf8().constData());
        return text;
    }
    return {};
}

QString truthToNumber(QString text) {
    if (text.contains(QLatin1String("true")) || text.contains(QLatin1String("TRUE"))) text = QStringLiteral("1");
    if (text.contains(QLatin1String("false")) || text.contains(QLatin1String("FALSE"))) text = QStringLiteral("0");
    return text;
}

QString quoted(const QString &identifier) { return QLatin1Char('`') + identifier + QLatin1Char('`'); }

}  // namespace

bool dd_resolve_member(AI_IED_CTRL *ied, AI_OBJ_ID member, AI_OBJ_ID *obj) {
    AI_OBJ_IDCTRL *ctrl = idCtrl(ied, member);
    if (ctrl == nullptr) return false;
    const AI_FCO_IDCTRL &fco = ctrl->u.fco_idctrl;
    if (fco.ln == nullptr || fco.rt == nullptr || mvl_type_ctrl_find_ad == nullptr) return false;
    MVL_TYPE_CTRL *type = mvl_type_ctrl_find_ad(fco.ln->type_id);
    if (type == nullptr || type->rt == nullptr) return false;
    const ptrdiff_t pos = fco.rt - type->rt;
    if (pos < 0 || pos >= type->num_rt || pos >= fco.ln->sub_obj_num || fco.ln->sub_ids == nullptr) return false;
    *obj = fco.ln->sub_ids[pos];
    return true;
}

bool dd_plain_identifier(const QString &name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_]{1,64}$"));
    return plain.match(name).hasMatch();
}

DataDeal::DataDeal() = default;

DataDeal::~DataDeal() = default;

void DataDeal::stop() {
    QMutexLocker lock(&m_sleep_mutex);
    isloop = false;
    m_sleep_wake.wakeAll();
}

void DataDeal::sleepCycle(int seconds) {
    QMutexLocker lock(&m_sleep_mutex);
    if (!isloop) return;
    m_sleep_wake.wait(&m_sleep_mutex, static_cast<unsigned long>(seconds) * 1000UL);
}

void DataDeal::report(const QString &text) {
    qDebug() << text;
    if (w != nullptr) w->out_put(text);
}

void DataDeal::loadSettings() {
    localfilepath = ConnectionPool::getlfp();
    remotefilepath = ConnectionPool::getrfp();
    tempmeasureinterval = ConnectionPool::gettempmeasureinterval();
    sf6interval = ConnectionPool::getsf6interval();
    pdinterval = ConnectionPool::getpdinterval();
    microweatherinterval = ConnectionPool::getmicroweatherinterval();
    ironcoreinterval = ConnectionPool::getironcoreinterval();
    moainterval = ConnectionPool::getmoainterval();
    yspinterval = ConnectionPool::getyspinterval();
    yspinterval1 = ConnectionPool::getyspinterval1();
    yspinterval2 = ConnectionPool::getyspinterval2();
    TM_TRACE_DEBUG() << "getconfig:yspinterval2" << yspinterval2;
    jyinterval = ConnectionPool::getjyinterval();
    scurinterval = ConnectionPool::getscurinterval();
    dlginterval = ConnectionPool::getdlginterval();
    jdwinterval = ConnectionPool::getjdwinterval();
    comtradfilepath = ConnectionPool::getcomtradfilepath();
    comtradcompanions = ConnectionPool::getcomtradcompanions() != 0;
}

bool DataDeal::collectionDue(const QDateTime &now) const {
    // Unsigned on purpose: a clock set back wraps to a huge difference and
    // collects at once.
    const quint32 elapsed = static_cast<quint32>(lstRptEnaCKTime.secsTo(now));
    return elapsed > static_cast<quint32>(m_collect_seconds.load());
}

void DataDeal::run() {
    qDebug() << "DataDealisRun";
    QSqlDatabase db = ConnectionPool::openConnection();
    loadSettings();
    bool ok = false;
    const int cycle = qEnvironmentVariableIntValue("TARNMON_ARCHIVE_CYCLE_S", &ok);
    if (ok && cycle > 0) m_cycle_seconds = cycle;
    const int collect = qEnvironmentVariableIntValue("TARNMON_COLLECT_EVERY_S", &ok);
    if (ok && collect > 0) m_collect_seconds = collect;

    GetFileLstFromDB();
    loadUploadQueue();
    lstRptEnaCKTime = QDateTime::currentDateTime();
    while (isloop) {
        qDebug() << "DataDealisRunning";
        const QDateTime now = QDateTime::currentDateTime();
        if (collectionDue(now)) {
            lstRptEnaCKTime = now;
            GetSrvFile();
        }
        PutFileToFtp();

        // A pool without a connection at start is asked again each cycle.
        if (!db.isValid())
            db = ConnectionPool::openConnection();
        else if (!db.isOpen())
            db.open();
        if (db.isValid() && db.isOpen()) archivePass(db);

        sleepCycle(m_cycle_seconds);
    }
    if (db.isValid()) ConnectionPool::closeConnection(db);
}

int DataDeal::archivePass(QSqlDatabase db) {
    QSqlQuery query(db);
    const bool ok = query.exec(QString::fromLatin1(kMappingQuery));
    TM_TRACE_PRINTF("-->%s\n", query.executedQuery().toUtf8().constData());
    int c = 0;
    while (ok && isloop && query.next()) {
        const QString paramindex = query.value(0).toString();
        const int eqmid = query.value(1).toInt();
        const QString tbname = query.value(2).toString();
        const QString colname = query.value(3).toString();
        TM_TRACE_DEBUG() << "rptparamindex,tbname,colname,eid";
        TM_TRACE_DEBUG() << "--->run:" << paramindex << tbname << colname << eqmid;
        ++c;
        if (!dd_plain_identifier(tbname) || !dd_plain_identifier(colname)) {
            // Names are pasted into SQL; anything else is refused, once per row.
            const QString key = paramindex + QLatin1Char('\n') + tbname + QLatin1Char('\n') + colname;
            if (!m_refused_rows.contains(key)) {
                m_refused_rows.insert(key);
                report(
                    QStringLiteral("参引%1的表名或列名不是合法标识符(%2.%3)，不归档").arg(paramindex, tbname, colname));
            }
            continue;
        }
        GetLD(paramindex, tbname, colname, eqmid, db);
    }
    TM_TRACE_PRINTF("get paramindex...c = %d\n", c);
    return c;
}

int DataDeal::findServer(const QString &ld, QString *matched) {
    if (ac_get_srvm_num_ad == nullptr || ac_get_srvm_name_ad == nullptr) return -1;
    // The longest name contained in the device name wins, so that a server
    // whose name is the start of another one's does not take its devices.
    int best = -1;
    const int n = ac_get_srvm_num_ad();
    for (int i = 0; i < n; ++i) {
        const char *name = ac_get_srvm_name_ad(i);
        if (name == nullptr || *name == '\0') continue;
        const QString text = QString::fromUtf8(name);
        if (ld.contains(text) && (best < 0 || text.size() > matched->size())) {
            best = i;
            *matched = text;
        }
    }
    if (best >= 0 || ac_get_srvm_ied_ad == nullptr || ai_obj_ref_to_id_ad == nullptr) return best;
    // A functional LD name (Edition 2 ldName) holds no server's name: the
    // server whose model has that logical device owns it.
    const QByteArray name = ld.toUtf8();
    for (int i = 0; i < n; ++i) {
        AI_IED_CTRL *ied = ac_get_srvm_ied_ad(i);
        if (ied != nullptr && ai_obj_ref_to_id_ad(ied, name.constData()) > 0) {
            *matched = QString::fromUtf8(ac_get_srvm_name_ad(i));
            return i;
        }
    }
    return -1;
}

void DataDeal::GetLD(QString rptparamindex, QString tbname, QString colname, int eqmid, QSqlDatabase db) {
    TM_TRACE_DEBUG() << "--->GetLD:" << rptparamindex << tbname << colname << eqmid;
    const qsizetype slash = rptparamindex.indexOf(QLatin1Char('/'));
    if (slash < 0) return;
    const QString ld = rptparamindex.left(slash);
    const QString rest = rptparamindex.mid(slash + 1);
    const QStringList parts = rest.split(QLatin1Char('$'));
    if (parts.size() < 3) return;
    // The time stamp t of the same data object: LD/LN$FC$DO$t.
    const QString timeref = ld + QLatin1Char('/') + parts[0] + QLatin1Char('$') + parts[1] + QLatin1Char('$') +
                            parts[2] + QStringLiteral("$t");
    [[maybe_unused]] const int srvm_num = ac_get_srvm_num_ad ? ac_get_srvm_num_ad() : 0;
    TM_TRACE_PRINTF("GetLD: %s/%s  srvm_num=%d\n", ld.toUtf8().constData(), rest.toUtf8().constData(), srvm_num);

    QString matched;
    const int srv_id = findServer(ld, &matched);
    if (srv_id < 0) return;
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(srv_id) : nullptr;
    if (ied == nullptr) {
        TM_TRACE_DEBUG() << "--->GetLD_ERR:" << matched << ld << srv_id;
        TM_TRACE_PRINTF("GetLD: ERROR,return\n");
        return;
    }
    std::vector<AI_OBJ_ID> devices;
    if (!directory(ied, ied->cobj.id, 0, &devices)) {
        TM_TRACE_PRINTF("GetLD: ERROR,return1 \n");
        return;
    }
    ST_UINT32 secs = 0, fraction = 0, qflags = 0;
    const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0);
    for (AI_OBJ_ID device : devices) {
        if (!nameReadable(ied, device)) continue;
        const QString value = GetDS(ied, device, srv_id, rptparamindex);
        const QString time = GetDS(ied, device, srv_id, timeref);
        if (value.isEmpty() || time.isEmpty()) continue;
        if (UtcStringToVals_ad) UtcStringToVals_ad(time.toLatin1().constData(), &secs, &fraction, &qflags);
        const QDateTime dtime = QDateTime::fromSecsSinceEpoch(secs);
        TM_TRACE_PRINTF("DTime=%s %s\n", dtime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8().constData(),
                        epoch.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8().constData());
        if (dtime <= epoch) continue;
        bool number = false;
        double dvalue = truthToNumber(value).toDouble(&number);
        if (!number) dvalue = 0;
        UpdateInsertTable(tbname, colname, dtime, dvalue, eqmid, db);
    }
    TM_TRACE_PRINTF("GetLD: ERROR,return1 \n");
}

QString DataDeal::GetDS(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, int srv_id, QString paramindex) {
    if (m_indexed) return findIndexed(ied, dom_id, srv_id, paramindex);
    std::vector<AI_OBJ_ID> sets;
    if (!directory(ied, dom_id, 1, &sets)) return {};
    for (AI_OBJ_ID ds : sets) {
        if (!nameReadable(ied, ds)) continue;
        const QString text = LoadDS(srv_id, ds, paramindex);
        if (!text.isEmpty()) return text;
    }
    return {};
}

QString DataDeal::LoadDS(int srv_id, AI_OBJ_ID ob_id, QString paramindex) {
    if (ob_id == 0 || ac_get_srvm_ied_ad == nullptr) return {};
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad(srv_id);
    if (ied == nullptr) return {};
    AI_DS_CTRL *ds = dataSet(ied, ob_id);
    if (ds == nullptr) return {};
    const QByteArray wanted = paramindex.toUtf8();
    for (int i = 0; i < ds->mb_num; ++i) {
        AI_OBJ_ID obj = 0;
        if (!dd_resolve_member(ied, ds->mb_ids[i], &obj)) continue;
        const QString text = memberValue(ied, srv_id, obj, wanted);
        if (!text.isEmpty()) return text;
    }
    return {};
}

// ---- reference index -------------------------------------------------------
//
// The model's structure never changes once built, so where each reference sits
// in a device's data sets is learnt once; a lookup then reads only the members
// that hold the reference, in the order the walk would meet them. A device is
// indexed again when its data set list changes, and walked instead while it
// cannot be indexed completely.

void DataDeal::clearSearchIndex() { m_index.clear(); }

bool DataDeal::buildDeviceIndex(AI_IED_CTRL *ied, const std::vector<AI_OBJ_ID> &ds_ids, DeviceIndex *index) {
    index->ds_ids = ds_ids;
    index->refs.clear();
    for (AI_OBJ_ID ds_id : ds_ids) {
        if (ds_id == 0 || !nameReadable(ied, ds_id)) continue;
        AI_DS_CTRL *ds = dataSet(ied, ds_id);
        if (ds == nullptr) continue;
        for (int i = 0; i < ds->mb_num; ++i) {
            AI_OBJ_ID obj = 0;
            if (!dd_resolve_member(ied, ds->mb_ids[i], &obj)) continue;
            ObjValues values(ied, obj);
            if (!values.ok) return false;  // cannot tell what this member holds
            const AI_OBJ_VAL &v = values.val;
            if (v.prim_num == 1) {
                const QByteArray ref = reference(ied, obj);
                if (!ref.isEmpty()) index->refs[ref.toStdString()].push_back({ds_id, obj, -1, obj});
                continue;
            }
            if (v.prim_ids == nullptr) continue;
            for (int k = 0; k < v.prim_num; ++k) {
                const QByteArray ref = reference(ied, v.prim_ids[k]);
                if (ref.isEmpty()) continue;
                auto &list = index->refs[ref.toStdString()];
                // Only the first primitive of a reference within a member counts.
                if (!list.empty() && list.back().ds == ds_id && list.back().obj == obj) continue;
                list.push_back({ds_id, obj, k, v.prim_ids[k]});
            }
        }
    }
    return true;
}

DataDeal::DeviceIndex *DataDeal::deviceIndex(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, int srv_id,
                                             const std::vector<AI_OBJ_ID> &ds_ids) {
    ServerIndex &server = m_index[srv_id];
    if (server.ied != ied) {
        server.devices.clear();
        server.ied = ied;
    }
    std::unique_ptr<DeviceIndex> &slot = server.devices[dom_id];
    if (slot && slot->ds_ids == ds_ids) return slot.get();
    auto fresh = std::make_unique<DeviceIndex>();
    if (!buildDeviceIndex(ied, ds_ids, fresh.get())) {
        slot.reset();
        return nullptr;
    }
    slot = std::move(fresh);
    return slot.get();
}

QString DataDeal::findIndexed(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, int srv_id, const QString &paramindex) {
    std::vector<AI_OBJ_ID> sets;
    if (!directory(ied, dom_id, 1, &sets)) return {};
    // LoadDS works on the server's current model; so does the index.
    AI_IED_CTRL *current = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(srv_id) : nullptr;
    if (current == nullptr) return {};
    DeviceIndex *index = current == ied ? deviceIndex(ied, dom_id, srv_id, sets) : nullptr;
    if (index == nullptr) {
        for (AI_OBJ_ID ds : sets) {
            if (!nameReadable(ied, ds)) continue;
            const QString text = LoadDS(srv_id, ds, paramindex);
            if (!text.isEmpty()) return text;
        }
        return {};
    }
    const QByteArray wanted = paramindex.toUtf8();
    auto found = index->refs.find(wanted.toStdString());
    if (found == index->refs.end()) return {};
    for (const Candidate &c : found->second) {
        ObjValues values(ied, c.obj);
        if (!values.ok) continue;
        const AI_OBJ_VAL &v = values.val;
        QString text;
        if (c.prim < 0) {
            if (v.prim_num != 1 || v.prim_vals == nullptr) continue;
            text = primText(v.prim_vals[0]);
            TM_TRACE_PRINTF("srv_id=%d  paramindex=%s, %s\n", srv_id, wanted.constData(), wanted.constData());
        } else {
            if (c.prim >= v.prim_num || v.prim_ids == nullptr || v.prim_vals == nullptr ||
                v.prim_ids[c.prim] != c.prim_id)
                continue;
            text = primText(v.prim_vals[c.prim]);
            TM_TRACE_PRINTF("--> %s = [%s]\n", wanted.constData(), text.toUtf8().constData());
        }
        if (!text.isEmpty()) return text;
    }
    return {};
}

// ---- measurement tables ----------------------------------------------------

qint64 DataDeal::slotSeconds(const QString &tbname, const QString &colname) {
    const char *setting = nullptr;
    int minutes = 0;
    auto has = [&tbname](const char *name) { return tbname.contains(QLatin1String(name)); };
    if (has("data_etp_h")) {
        setting = "tempmeasureinterval";
        minutes = tempmeasureinterval;
    } else if (has("data_epa_h")) {
        if (colname.contains(QLatin1String("tmp"))) {
            setting = "yspinterval1";
            minutes = yspinterval1;
        } else if (colname.contains(QLatin1String("flatgas"))) {
            setting = "yspinterval";
            minutes = yspinterval;
        } else {
            setting = "yspinterval2";
            minutes = yspinterval2;
        }
    } else if (has("data_sf6_h")) {
        setting = "sf6interval";
        minutes = sf6interval;
    } else if (has("data_moa_h")) {
        setting = "moainterval";
        minutes = moainterval;
    } else if (has("data_pd_h")) {
        setting = "pdinterval";
        minutes = pdinterval;
    } else if (has("data_microclimate_h")) {
        setting = "microweatherinterval";
        minutes = microweatherinterval;
    } else if (has("data_eia_h")) {
        setting = "jyinterval";
        minutes = jyinterval;
    } else if (has("data_scur_h")) {
        setting = "scurinterval";
        minutes = scurinterval;
    } else if (has("data_dlg_h")) {
        setting = "dlginterval";
        minutes = dlginterval;
    } else if (has("data_jdw_h")) {
        setting = "jdwinterval";
        minutes = jdwinterval;
    } else {
        return kDefaultSlotSeconds;
    }
    if (minutes <= 0) {
        // A slot must have a length; an absent or broken setting gets the
        // default one, said once.
        const QString name = QString::fromLatin1(setting);
        if (!m_warned_intervals.contains(name)) {
            m_warned_intervals.insert(name);
            qWarning() << "archiving interval" << name << "is" << minutes << "minutes; using 30-minute slots";
            report(QStringLiteral("归档间隔%1=%2无效，按30分钟计").arg(name).arg(minutes));
        }
        return kDefaultSlotSeconds;
    }
    return qint64(minutes) * 60;
}

bool DataDeal::UpdateInsertTable(QString tbname, QString colname, QDateTime dtime, float dvalue, int eqmid,
                                 QSqlDatabase db) {
    return insertRow(tbname, colname, dtime, double(dvalue), eqmid, db);
}

bool DataDeal::UpdateInsertTable(QString tbname, QString colname, QDateTime dtime, double dvalue, int eqmid,
                                 QSqlDatabase db) {
    return insertRow(tbname, colname, dtime, dvalue, eqmid, db);
}

bool DataDeal::insertRow(const QString &tbname, const QString &colname, const QDateTime &dtime, double dvalue,
                         int eqmid, QSqlDatabase &db) {
    if (!dd_plain_identifier(tbname) || !dd_plain_identifier(colname)) {
        report(QStringLiteral("表名或列名不是合法标识符(%1.%2)，不归档").arg(tbname, colname));
        return false;
    }
    const float fvalue = static_cast<float>(dvalue);
    const quint32 s = static_cast<quint32>(dtime.toSecsSinceEpoch());
    std::printf("UpdateInsertTable ...\n");
    qDebug() << "--->UpdateInsertTable: " << tbname << colname << dtime << fvalue << eqmid;
    qDebug() << "--->UpdateInsertTable.yspinterval2 " << yspinterval2 << s << tbname << colname << fvalue << eqmid;

    const quint64 slot = static_cast<quint64>(slotSeconds(tbname, colname));
    if (tbname.contains(QLatin1String("data_etp_h")))
        std::printf("UpdateInsertTable: tempinternal=%d\n", tempmeasureinterval);
    // Slots are multiples of their length counted from the epoch (UTC).
    const quint32 t = static_cast<quint32>((quint64(s) / slot) * slot);
    QDateTime d = QDateTime::fromSecsSinceEpoch(t);

    const bool pd = tbname.contains(QLatin1String("data_pd_h"));
    const bool alarm = pd && colname.contains(QLatin1String("padschalm")) && fvalue > 0;
    const QString table = quoted(tbname);
    const QString column = quoted(colname);
    QSqlQuery query(db);
    if (pd && !alarm) {
        // A newer row of the equipment inside the slot (an alarm row) takes the value.
        query.prepare(QStringLiteral(" select max(d_time) d_time from  ") + table +
                      QStringLiteral(" where eqmid=? and d_time>?"));
        query.addBindValue(eqmid);
        query.addBindValue(d);
        if (query.exec() && query.next()) {
            const QDateTime newest = query.value(0).toDateTime();
            if (newest.isValid() && newest > d) d = newest;
        }
        query.finish();
    }
    QString sql;
    if (alarm) {
        d = QDateTime::fromSecsSinceEpoch(s);
        sql = QStringLiteral("insert into ") + table + QLatin1Char('(') + column +
              QStringLiteral(",d_time,eqmid,isupload) values(?,?,?,0)on duplicate key update ") + column +
              QStringLiteral("=values(") + column + QLatin1Char(')');
    } else {
        sql = QStringLiteral("insert into ") + table + QLatin1Char('(') + column +
              QStringLiteral(",d_time,eqmid) values(?,?,?)on duplicate key update ") + column +
              QStringLiteral("=values(") + column + QLatin1Char(')');
    }
    qDebug() << tbname << colname << fvalue << eqmid;
    query.prepare(sql);
    if (tbname.contains(QLatin1String("data_moa_h")) && colname.contains(QLatin1String("lastligtm"))) {
        // A Unix time: whole seconds, the fraction dropped.
        const double whole_seconds = std::trunc(dvalue);
        const qint64 whole = std::isfinite(whole_seconds) && std::fabs(whole_seconds) < 4e18
                                 ? static_cast<qint64>(whole_seconds)
                                 : 0;
        query.addBindValue(QDateTime::fromSecsSinceEpoch(static_cast<quint32>(whole)));
    } else {
        query.addBindValue(double(fvalue));
    }
    query.addBindValue(d);
    query.addBindValue(eqmid);
    qDebug() << sql << colname << fvalue << eqmid;
    if (!query.exec()) {
        report(query.lastError().text());
        return false;
    }
    return true;
}

// ---- recorder files ---------------------------------------------------------
// Collection and upload of recorder files are built separately; these are the
// points in the cycle where they run.
