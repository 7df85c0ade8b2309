// Recorder files: the archiving worker's collection of COMTRADE data files
// and their companion files from the IEDs into the working directory, the
// data files' rows in comtradrd, and the upload of both to the central FTP
// server.
//
// Three threads meet here: the worker asks for listings and hands fetched
// files to the FTP transfer; the stack's completion thread selects the files
// of a listing, asks for them and learns how each fetch ended; the GUI thread
// runs the uploads and tells how each ended. Every list and file state is
// guarded by filelst_mutex, which is never held while the stack, the database
// or the FTP client is called.
#include <QDebug>
#include <QFile>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "ConnectionPool.h"
#include "DataDeal.h"
#include "devicefilename.h"
#include "gui_srv.h"
#include "zv_ops.h"

namespace {

constexpr int kNameBuffer = AC_FILE_NAME_LEN;  // 256 bytes with the terminator
// Files handed to the FTP transfer in one pass (with the pause after each):
// a long queue does not hold the values' archiving back for long.
constexpr int kMaxUploadsPerPass = 10;
// Companion files handed over in one pass, without the pause: they are small
// and follow their data file.
constexpr int kMaxCompanionUploadsPerPass = 30;
// Recordings remembered as waiting for their configuration file: one device
// that never writes one does not grow the list for ever.
constexpr int kMaxWanted = 10000;
// Lines of the upload queue and companion files taken at start.
constexpr int kMaxQueueEntries = 100000;
const char kTimeFormat[] = "yyyy-MM-dd HH:mm:ss";

const char kInsertFile[] =
    "insert into comtradrd(filename,srvid,filepreno,filetime,isupload) values(?,?,?,?,?)on duplicate key update "
    "srvid=values(srvid),filepreno=values(filepreno),filetime=values(filetime),isupload=values(isupload)";

void debugLine(const char *text) { qDebug().noquote() << QString::fromUtf8(text); }

// Listing done (stack completion thread).
void _getf_handle(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr) return;
    if (req_ctrl->result != 0) {
        debugLine("获取文件列表失败!!!");
        return;
    }
    debugLine("获取文件列表成功!!!");
    if (datedeal != nullptr) datedeal->FileListParse(req_ctrl->srv_id, &req_ctrl->u.getfavCtrl);
}

// Fetch done (stack completion thread). The request control carries the
// name the device was asked for, which tells the file.
void _get_handle(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr) return;
    const bool ok = req_ctrl->result == 0;
    debugLine(ok ? "文件上载成功!!!" : "文件上载失败!!!");
    const char *src = req_ctrl->u.getfCtrl.src_fname;
    const QByteArray listed(src, static_cast<int>(qstrnlen(src, AC_FILE_NAME_LEN)));
    if (datedeal != nullptr) datedeal->fileFetched(req_ctrl->srv_id, listed, ok);
}

// A listed name as a file of the listed directory `dir`: the name without
// the directory (with or without a leading "/"), or the name itself when it
// carries no folder. Empty for files of deeper or other folders.
QByteArray nameInDirectory(const QByteArray &listed, QByteArray dir) {
    while (dir.startsWith('/')) dir.remove(0, 1);
    while (dir.endsWith('/')) dir.chop(1);
    QByteArray name = listed;
    while (name.startsWith('/')) name.remove(0, 1);
    if (!dir.isEmpty() && name.startsWith(dir + '/')) name.remove(0, dir.size() + 1);
    if (name.contains('/')) return {};
    return name;
}

bool isDataFile(const QByteArray &name) { return name.endsWith(".dat") || name.endsWith(".DAT"); }

// A recording's companion files beside its data file: the configuration
// (.cfg), header (.hdr) and information (.inf) files, the extension in
// whatever case the device writes it.
bool isCompanionFile(const QByteArray &name) {
    if (name.size() < 5) return false;
    const QByteArray ext = name.right(4).toLower();
    return ext == ".cfg" || ext == ".hdr" || ext == ".inf";
}
bool isConfigFile(const QByteArray &name) { return name.size() >= 5 && name.right(4).toLower() == ".cfg"; }

// The name without its extension of four bytes (".dat", ".cfg", ...). The
// bytes compare as they are: "." is no byte of a multi-byte character in
// UTF-8 or GB18030, so an extension never splits one.
QByteArray recordingBase(const QByteArray &bare) { return bare.left(bare.size() - 4); }

// Series of a local name: up to its last "_" (all of it without one).
QString seriesOf(const QString &local) {
    const int cut = local.lastIndexOf(QLatin1Char('_'));
    return cut < 0 ? local : local.left(cut);
}

QString fileKey(int srv, const QByteArray &listed) {
    return QString::number(srv) + QLatin1Char(',') + QString::fromLatin1(listed);
}

// A listed name kept in kCompanionFile as hex: the device's bytes exactly.
bool fromHexName(const QByteArray &hex, QByteArray *name) {
    if (hex.isEmpty() || hex.size() % 2 != 0 || hex.size() >= 2 * kNameBuffer) return false;
    for (const char c : hex)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    *name = QByteArray::fromHex(hex);
    return !name->contains('\0');
}

// A companion file of one listing.
struct ListedCompanion {
    QByteArray listed;
    QByteArray base;
    qint64 time;
    QString key;
};

bool asciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Name order of recordings: runs of ASCII digits by their value ("rec_9"
// before "rec_10"), everything else by character.
bool nameOrderLess(const QString &a, const QString &b) {
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (asciiDigit(a[i]) && asciiDigit(b[j])) {
            int ei = i, ej = j;
            while (ei < a.size() && asciiDigit(a[ei])) ++ei;
            while (ej < b.size() && asciiDigit(b[ej])) ++ej;
            // Leading zeros do not count; then the longer run is the larger.
            int si = i, sj = j;
            while (si + 1 < ei && a[si] == QLatin1Char('0')) ++si;
            while (sj + 1 < ej && b[sj] == QLatin1Char('0')) ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj;
            const int c = QStringView(a).mid(si, ei - si).compare(QStringView(b).mid(sj, ej - sj));
            if (c != 0) return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
    return a < b;  // equal in name order: a fixed order all the same
}

}  // namespace

QString DataDeal::seriesKey(int srv, const QString &prefix) { return QString::number(srv) + QLatin1Char(',') + prefix; }

qint64 DataDeal::rememberedLocked(int srv, const QString &prefix) const {
    return m_remembered.value(seriesKey(srv, prefix), -1);
}

void DataDeal::rememberLocked(int srv, const QString &prefix, qint64 secs) {
    const QString key = seriesKey(srv, prefix);
    m_remembered.insert(key, secs);
    // filelst mirrors the remembered times as "server,prefix,local time";
    // an entry is matched on its whole server and prefix.
    const QString entry = key + QLatin1Char(',') + QDateTime::fromSecsSinceEpoch(secs).toString(kTimeFormat);
    for (QString &e : filelst) {
        if (e.left(e.lastIndexOf(QLatin1Char(','))) == key) {
            e = entry;
            return;
        }
    }
    filelst.append(entry);
}

void DataDeal::setServerStateLocked(int srv, bool fetched) {
    const QString number = QString::number(srv);
    const QString entry = number + (fetched ? QStringLiteral("_true") : QStringLiteral("_false"));
    bool found = false;
    for (QString &e : srvdownstatelst) {
        if (e.section(QLatin1Char('_'), 0, 0) == number) {
            e = entry;
            found = true;
        }
    }
    if (!found) srvdownstatelst.append(entry);
}

void DataDeal::GetFileLstFromDB() {
    QSqlDatabase db = ConnectionPool::openConnection();
    if (db.isValid() && !db.isOpen()) db.open();
    if (!db.isValid() || !db.isOpen()) {
        qDebug().noquote() << "comtradrd not read (database not reachable): every recorder file is fetched again";
        if (db.isValid()) ConnectionPool::closeConnection(db);
        return;
    }
    QSqlQuery query(db);
    if (query.exec(
            QStringLiteral("select max(filetime) filetime ,srvid,filepreno from comtradrd GROUP BY srvid,filepreno"))) {
        QMutexLocker lock(&filelst_mutex);
        while (query.next()) {
            const QDateTime time = query.value(0).toDateTime();
            // Rows of files listed without a time carry 1970-01-01 (time 0):
            // such a series has no remembered time.
            if (!time.isValid() || time.toSecsSinceEpoch() <= 0) continue;
            const int srv = query.value(1).toInt();
            const QString prefix = query.value(2).toString();
            const qint64 secs = time.toSecsSinceEpoch();
            if (secs > rememberedLocked(srv, prefix)) rememberLocked(srv, prefix, secs);
        }
    } else {
        qDebug().noquote() << "comtradrd not read:" << query.lastError().text();
    }
    ConnectionPool::closeConnection(db);
}

bool DataDeal::sleepMs(int ms) {
    QMutexLocker lock(&m_sleep_mutex);
    if (!isloop) return false;
    if (ms > 0) m_sleep_wake.wait(&m_sleep_mutex, static_cast<unsigned long>(ms));
    return isloop;
}

void DataDeal::GetSrvFile() {
    if (ac_get_srvm_num_ad == nullptr || ac_get_srvm_ied_ad == nullptr) return;
    const int servers = ac_get_srvm_num_ad();
    for (int srv = 0; srv < servers && isloop; ++srv) {
        if (ac_get_srvm_ied_ad(srv) == nullptr) continue;
        getfilelist(srv, localfilepath, remotefilepath);
        if (!sleepMs(m_listing_pause_ms)) break;
    }
}

void DataDeal::getfilelist(int srv_id, QString /*localfilepath*/, QString remotefilepath) {
    const QByteArray dir = remotefilepath.toLatin1();
    char name[kNameBuffer] = {};
    AC_REQ_CTRL *reqctl = nullptr;
    bool sent = false;
    if (dir.size() < kNameBuffer && ac_get_file_attr_ad != nullptr) {
        memcpy(name, dir.constData(), static_cast<size_t>(dir.size()));
        AC_GETFAV_REQ_INFO req;
        req.file_name = name;
        req.u_getf_done = _getf_handle;
        sent = ac_get_file_attr_ad(srv_id, &req, 30, &reqctl) == 0;
    }
    if (!sent) debugLine("获取文件列表失败!!!");
}

DataDeal::Choice DataDeal::chooseLocked(int srv, const ListedFile &file, const QSet<QString> *found, bool asked_ok) {
    auto it = m_files.find(file.key);
    if (it != m_files.end()) {
        const RecorderFile &known = it->second;
        // Asked for, or here and unchanged: nothing to do. A failed fetch, or
        // a file the device has written anew, is fetched.
        if (known.state == RecorderFile::Fetching || known.state == RecorderFile::Uploading) return Choice::Skip;
        if (known.state != RecorderFile::FetchFailed && known.time == file.time) return Choice::Skip;
        return Choice::Fetch;
    }
    if (file.time != 0) {
        const qint64 remembered = rememberedLocked(srv, file.prefix);
        if (remembered == -1 || file.time > remembered) return Choice::Fetch;
        if (file.time < remembered) return Choice::Skip;
        // At the series' time: a second may hold several recordings, and
        // the remembered one need not be this one.
    }
    if (m_done.value(srv).contains(file.listed)) return Choice::Skip;
    if (found == nullptr) return Choice::AskDatabase;
    if (found->contains(file.local)) {
        m_done[srv].insert(file.listed);
        return Choice::Skip;
    }
    return asked_ok ? Choice::Fetch : Choice::Skip;
}

bool DataDeal::fetchedAlready(int srv, const QStringList &names, QSet<QString> *found) {
    QSqlDatabase db = ConnectionPool::openConnection();
    if (db.isValid() && !db.isOpen()) db.open();
    bool ok = db.isValid() && db.isOpen();
    if (ok) {
        QSqlQuery query(db);
        ok = query.prepare(QStringLiteral("select filename from comtradrd where srvid=? and filename=?"));
        for (int i = 0; ok && i < names.size(); ++i) {
            query.addBindValue(srv);
            query.addBindValue(names[i]);
            ok = query.exec();
            if (ok && query.next()) found->insert(names[i]);
        }
        if (!ok)
            qDebug().noquote() << "comtradrd not asked which recorder files of server" << srv
                               << "are fetched already:" << query.lastError().text();
    } else {
        qDebug().noquote() << "comtradrd not asked which recorder files of server" << srv
                           << "are fetched already: database not reachable";
    }
    if (db.isValid()) ConnectionPool::closeConnection(db);
    return ok;
}

void DataDeal::FileListParse(int srv_id, AC_GETFAV_REQ_CTRL *getfav) {
    if (getfav == nullptr) return;
    const int count = getfav->file_attrs != nullptr ? std::max(0, static_cast<int>(getfav->file_num)) : 0;
    const bool with_companions = comtradcompanions;
    std::vector<ListedFile> listing;
    std::vector<ListedCompanion> companions;
    QSet<QByteArray> listed_now;  // data files
    QStringList ask;
    std::vector<RowToWrite> rows;
    {
        QMutexLocker lock(&filelst_mutex);
        setServerStateLocked(srv_id, false);
        for (auto &[key, file] : m_files)
            if (file.srv == srv_id) file.seen = false;

        const QByteArray dir = remotefilepath.toLatin1();
        QSet<QByteArray> &refused = m_refused[srv_id];
        QSet<QByteArray> refused_now;
        for (int i = 0; i < count; ++i) {
            const AC_FILE_ATTR &attr = getfav->file_attrs[i];
            const QByteArray listed(attr.file_name, static_cast<int>(qstrnlen(attr.file_name, sizeof attr.file_name)));
            const QByteArray bare = nameInDirectory(listed, dir);
            if (bare.isEmpty()) continue;
            const bool companion = with_companions && isCompanionFile(bare);
            if (!companion && !isDataFile(bare)) continue;
            if (!companion) listed_now.insert(listed);
            QString why;
            const QString local = devfile::localName(bare, &why);
            if (local.isEmpty()) {
                if (!refused.contains(listed))
                    qDebug().noquote() << "recorder file" << devfile::shown(listed) << "of server" << srv_id
                                       << "left on the device: no local name (" + why + ")";
                refused_now.insert(listed);
                continue;
            }
            const QString key = fileKey(srv_id, listed);
            const qint64 time = attr.last_modified.secs;
            if (companion)
                companions.push_back(ListedCompanion{listed, recordingBase(bare), time, key});
            else
                listing.push_back(ListedFile{listed, local, seriesOf(local), time, key, recordingBase(bare)});
        }
        refused = refused_now;
        // What the device no longer lists will not be listed again.
        QSet<QByteArray> &done = m_done[srv_id];
        done.intersect(listed_now);

        // Recordings in the order they were made, as far as names tell.
        std::stable_sort(listing.begin(), listing.end(),
                         [](const ListedFile &a, const ListedFile &b) { return nameOrderLess(a.local, b.local); });
        for (const ListedFile &file : listing) {
            auto it = m_files.find(file.key);
            if (it != m_files.end()) it->second.seen = true;
            if (chooseLocked(srv_id, file, nullptr, false) == Choice::AskDatabase) ask << file.local;
        }
        for (const ListedCompanion &c : companions) {
            auto it = m_files.find(c.key);
            if (it != m_files.end()) it->second.seen = true;
        }
    }

    // Fetched already? comtradrd knows, across restarts.
    QSet<QString> found;
    const bool asked_ok = ask.isEmpty() || fetchedAlready(srv_id, ask, &found);
    if (!asked_ok)
        qDebug().noquote() << ask.size() << "recorder files of server" << srv_id
                           << "without a time of their own wait for the next collection";

    std::vector<QByteArray> to_fetch;
    bool companions_changed = false;
    {
        QMutexLocker lock(&filelst_mutex);
        // A data file's companions are the listed ones of its base name.
        QHash<QByteArray, std::vector<std::pair<QByteArray, qint64>>> companions_of;
        for (const ListedCompanion &c : companions) companions_of[c.base].push_back({c.listed, c.time});
        QHash<QByteArray, QString> data_key;  // by base name
        for (const ListedFile &file : listing) data_key.insert(file.base, file.key);

        for (const ListedFile &file : listing) {
            if (chooseLocked(srv_id, file, &found, asked_ok) != Choice::Fetch) continue;
            // Two servers with one file name would share the local file:
            // the later one waits until the earlier one is on the FTP server.
            const bool clash = std::any_of(m_files.begin(), m_files.end(), [&](const auto &kv) {
                return kv.first != file.key && kv.second.local == file.local &&
                       kv.second.state != RecorderFile::Uploaded;
            });
            if (clash) continue;

            m_files[file.key] = RecorderFile{srv_id,     file.listed,
                                             file.local, file.prefix,
                                             file.time,  RecorderFile::Fetching,
                                             false,      true,
                                             false,      companions_of.value(file.base)};
            const QString queued = QString::number(srv_id) + QLatin1Char(',') + file.local;
            if (!downfilelst.contains(queued)) downfilelst.append(queued);
            to_fetch.push_back(file.listed);
        }

        // Companions asked again: those whose fetch failed, and those of a
        // recording that was collected while its configuration file was
        // not listed (the ones not asked for with it).
        for (const ListedCompanion &c : companions) {
            auto it = m_files.find(c.key);
            bool due = it != m_files.end() && it->second.companion && it->second.state == RecorderFile::FetchFailed;
            if (it == m_files.end()) {
                auto wanted = m_wanted.find(data_key.value(c.base));
                if (wanted != m_wanted.end() && !wanted->asked.contains(c.listed)) {
                    wanted->asked.insert(c.listed);
                    companions_changed = true;
                    due = true;
                }
            }
            if (due && queueCompanionLocked(srv_id, c.listed, c.time)) to_fetch.push_back(c.listed);
        }
        for (auto it = m_wanted.begin(); it != m_wanted.end();) {
            if (it->srv != srv_id) {
                ++it;
                continue;
            }
            const bool config = std::any_of(it->asked.begin(), it->asked.end(), isConfigFile);
            if (!config && !listed_now.contains(it->listed))
                qDebug().noquote() << "configuration file of recorder file" << it->local
                                   << "never listed, given up: the device no longer lists the data file";
            if (config || !listed_now.contains(it->listed) || !with_companions) {
                it = m_wanted.erase(it);
                companions_changed = true;
            } else {
                ++it;
            }
        }

        // A file whose fetch failed and that the device no longer lists
        // cannot be fetched any more: it stops holding its series back.
        QSet<QString> series;
        for (auto it = m_files.begin(); it != m_files.end();) {
            RecorderFile &file = it->second;
            if (file.srv == srv_id && !file.seen && file.state == RecorderFile::FetchFailed) {
                if (file.companion) {
                    qDebug().noquote() << "recorder companion file no longer on the device, given up:" << file.local;
                    companions_changed = true;
                } else {
                    qDebug().noquote() << "recorder file no longer on the device, given up:" << file.local;
                    series.insert(file.prefix);
                }
                downfilelst.removeAll(QString::number(srv_id) + QLatin1Char(',') + file.local);
                it = m_files.erase(it);
            } else {
                ++it;
            }
        }
        for (const QString &prefix : series) advanceSeriesLocked(srv_id, prefix, &rows);
        if (companions_changed) saveUploadQueueLocked();
    }
    writeRows(rows);

    for (QByteArray &listed : to_fetch) {
        if (!fileupload(srv_id, localfilepath, listed.data())) fileFetched(srv_id, listed, false);
    }
    ++m_listings;
}

bool DataDeal::fileupload(int srv_id, QString /*localfilepath*/, char *filename) {
    if (filename == nullptr) return false;
    const size_t len = qstrnlen(filename, kNameBuffer);
    const QByteArray listed(filename, static_cast<int>(len));
    // The device gets its bytes back; the local copy its decoded name.
    const QByteArray local = devfile::localName(listed, nullptr).toUtf8();
    char src[kNameBuffer] = {};
    char dest[kNameBuffer] = {};
    AC_REQ_CTRL *reqctl = nullptr;
    bool sent = false;
    if (len < static_cast<size_t>(kNameBuffer) && !local.isEmpty() && ac_get_file_ad != nullptr) {
        memcpy(src, listed.constData(), static_cast<size_t>(listed.size()));
        memcpy(dest, local.constData(), static_cast<size_t>(local.size()));
        AC_GETF_REQ_INFO req;
        req.src_fname = src;
        req.dest_fname = dest;
        req.u_getf_done = _get_handle;
        sent = ac_get_file_ad(srv_id, &req, 300, &reqctl) == 0;
    }
    if (!sent) debugLine("文件上载失败!!!");
    return sent;
}

void DataDeal::fileFetched(int srv_id, const QByteArray &listed_name, bool ok) {
    std::vector<RowToWrite> rows;
    std::vector<QByteArray> companions_now;
    {
        QMutexLocker lock(&filelst_mutex);
        setServerStateLocked(srv_id, ok);
        const QString key = fileKey(srv_id, listed_name);
        auto it = m_files.find(key);
        if (it == m_files.end() || it->second.state != RecorderFile::Fetching) return;
        RecorderFile &file = it->second;
        file.state = ok ? RecorderFile::Fetched : RecorderFile::FetchFailed;
        if (file.companion) {
            if (!ok)
                qDebug().noquote() << "recorder companion file not fetched, asked again at the next collection:"
                                   << file.local;
            saveUploadQueueLocked();
            return;
        }
        if (!ok) qDebug().noquote() << "recorder file not fetched, asked again at the next collection:" << file.local;
        // The recording is here: its companions follow.
        if (ok && comtradcompanions) {
            bool config = false;
            for (const auto &[listed, time] : file.companions) {
                config = config || isConfigFile(listed);
                auto known = m_files.find(fileKey(srv_id, listed));
                if (known != m_files.end() && known->second.state != RecorderFile::FetchFailed) continue;
                if (queueCompanionLocked(srv_id, listed, time)) companions_now.push_back(listed);
            }
            m_wanted.remove(key);
            if (!config && !file.listed.isEmpty()) {
                if (m_wanted.size() < kMaxWanted) {
                    Wanted wanted{srv_id, file.listed, file.local, file.time, {}};
                    for (const auto &[listed, time] : file.companions) wanted.asked.insert(listed);
                    m_wanted.insert(key, wanted);
                    qDebug().noquote() << "configuration file of recorder file" << file.local
                                       << "not listed, fetched once the device lists it";
                } else {
                    qDebug().noquote() << "configuration file of recorder file" << file.local << "not listed and not"
                                       << "waited for (" << kMaxWanted << "recordings wait already)";
                }
            }
        }
        file.companions.clear();
        advanceSeriesLocked(srv_id, file.prefix, &rows);
        if (ok) saveUploadQueueLocked();
    }
    writeRows(rows);
    for (QByteArray &listed : companions_now)
        if (!fileupload(srv_id, localfilepath, listed.data())) fileFetched(srv_id, listed, false);
}

bool DataDeal::queueCompanionLocked(int srv, const QByteArray &listed, qint64 time) {
    const QString local = devfile::localName(listed, nullptr);
    if (local.isEmpty()) return false;
    const QString key = fileKey(srv, listed);
    // The same file waiting for the FTP server already (from the queue file
    // of the last run) is not asked again; another server's file of that
    // name makes this one wait for a later collection.
    bool later = false;
    for (const auto &[k, f] : m_files) {
        if (k == key || f.local != local || f.state == RecorderFile::Uploaded) continue;
        if (f.srv == srv) return false;
        later = true;
    }
    m_files[key] = RecorderFile{srv,   listed,
                                local, seriesOf(local),
                                time,  later ? RecorderFile::FetchFailed : RecorderFile::Fetching,
                                true,  true,
                                true,  {}};
    const QString queued = QString::number(srv) + QLatin1Char(',') + local;
    if (!downfilelst.contains(queued)) downfilelst.append(queued);
    return !later;
}

void DataDeal::advanceSeriesLocked(int srv, QString prefix, std::vector<RowToWrite> *rows) {
    auto inSeries = [&](const RecorderFile &f) { return f.srv == srv && f.prefix == prefix && !f.companion; };
    auto missing = [](const RecorderFile &f) {
        return f.state == RecorderFile::Fetching || f.state == RecorderFile::FetchFailed;
    };
    // Only files with a time move the series' time; a file without one is
    // remembered by its own row as soon as it is fetched.
    qint64 oldest_missing = std::numeric_limits<qint64>::max();
    for (const auto &[key, f] : m_files)
        if (inSeries(f) && f.time != 0 && missing(f)) oldest_missing = std::min(oldest_missing, f.time);

    const qint64 remembered = rememberedLocked(srv, prefix);
    qint64 newest = remembered;
    for (auto &[key, f] : m_files) {
        if (!inSeries(f) || missing(f)) continue;
        if (f.time != 0) {
            if (f.time >= oldest_missing) continue;
            newest = std::max(newest, f.time);
        }
        if (!f.recorded) {
            f.recorded = true;
            rows->push_back({f.local, srv, prefix, QDateTime::fromSecsSinceEpoch(f.time)});
            ++m_rows_pending;
        }
    }
    if (newest > remembered) rememberLocked(srv, prefix, newest);

    // Files behind the series' time, or without one, are forgotten once they
    // are on the FTP server; a name the time cannot tell stays known as done.
    for (auto it = m_files.begin(); it != m_files.end();) {
        const RecorderFile &f = it->second;
        if (inSeries(f) && f.state == RecorderFile::Uploaded && f.recorded && (f.time == 0 || f.time <= newest)) {
            if ((f.time == 0 || f.time == newest) && !f.listed.isEmpty()) m_done[srv].insert(f.listed);
            it = m_files.erase(it);
        } else {
            ++it;
        }
    }
}

void DataDeal::writeRows(std::vector<RowToWrite> rows) {
    const int fresh = static_cast<int>(rows.size());
    {
        QMutexLocker lock(&filelst_mutex);
        rows.insert(rows.end(), m_unwritten.begin(), m_unwritten.end());
        m_unwritten.clear();
    }
    // After a failure the rest waits for the next call rather than each
    // failing in turn against a database that is away.
    std::vector<RowToWrite> failed;
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        const RowToWrite &row = rows[static_cast<size_t>(i)];
        const int isup = w != nullptr ? w->ftpcli.FtpPutState() : 1;
        if (!failed.empty() || !UpdateInsertFile(row.name, row.srv, row.prefix, row.time, isup)) {
            if (i < fresh) qDebug().noquote() << "comtradrd: row of" << row.name << "not written";
            failed.push_back(row);
        }
        if (i < fresh) --m_rows_pending;
    }
    if (failed.empty()) return;
    if (static_cast<int>(rows.size()) > fresh)
        qDebug().noquote() << "comtradrd:" << failed.size() << "rows wait to be written again";
    // Bounded: a database gone for good does not grow the list for ever.
    constexpr size_t kMaxUnwritten = 10000;
    QMutexLocker lock(&filelst_mutex);
    for (RowToWrite &row : failed) {
        if (m_unwritten.size() < kMaxUnwritten)
            m_unwritten.push_back(std::move(row));
        else
            qDebug().noquote() << "comtradrd: row of" << row.name << "given up (" << kMaxUnwritten
                               << "rows wait already)";
    }
}

bool DataDeal::UpdateInsertFile(QString filename, int srvid, QString filepreno, QDateTime filetime, int isup) {
    QSqlDatabase db = ConnectionPool::openConnection();
    if (db.isValid() && !db.isOpen()) db.open();
    bool ok = false;
    if (db.isValid() && db.isOpen()) {
        QSqlQuery query(db);
        query.prepare(QString::fromLatin1(kInsertFile));
        query.addBindValue(filename);
        query.addBindValue(srvid);
        query.addBindValue(filepreno);
        query.addBindValue(filetime);
        query.addBindValue(isup);
        ok = query.exec();
        if (!ok) qDebug().noquote() << "comtradrd:" << query.lastError().text();
    }
    if (db.isValid()) ConnectionPool::closeConnection(db);
    return ok;
}

void DataDeal::PutFileToFtp() {
    if (w == nullptr) return;
    // After a failed upload one file probes the server; the others follow
    // once it is back, instead of each failing in turn with its pause.
    const bool probe = m_upload_failed.exchange(false);
    int data_left = probe ? 1 : kMaxUploadsPerPass;
    int companions_left = probe ? 1 : kMaxCompanionUploadsPerPass;
    while (data_left > 0) {
        QString local;
        bool companion = false;
        {
            QMutexLocker lock(&filelst_mutex);
            // The oldest queued file that is fetched and not under way.
            for (const QString &entry : downfilelst) {
                const int comma = entry.indexOf(QLatin1Char(','));
                const int srv = entry.left(comma).toInt();
                const QString name = entry.mid(comma + 1);
                auto it = std::find_if(m_files.begin(), m_files.end(),
                                       [&](const auto &kv) { return kv.second.srv == srv && kv.second.local == name; });
                if (it == m_files.end() || it->second.state != RecorderFile::Fetched) continue;
                if (it->second.companion && companions_left == 0) continue;
                it->second.state = RecorderFile::Uploading;
                local = name;
                companion = it->second.companion;
                break;
            }
        }
        if (local.isEmpty()) return;
        w->ftp_filetran(local, comtradfilepath + local, 1);
        if (!probe && companion) {
            --companions_left;
            continue;
        }
        --data_left;
        if (!sleepMs(m_upload_pause_ms) || probe) return;
    }
}

void DataDeal::fileUploaded(const QString &local, const QString &remote, bool ok) {
    std::vector<RowToWrite> rows;
    {
        QMutexLocker lock(&filelst_mutex);
        if (remote != comtradfilepath + local) return;  // not one of ours
        auto it = std::find_if(m_files.begin(), m_files.end(), [&](const auto &kv) {
            return kv.second.local == local && kv.second.state == RecorderFile::Uploading;
        });
        if (it == m_files.end()) return;
        RecorderFile &file = it->second;
        if (!ok) {
            // Stays queued; the next pass hands it over again.
            file.state = RecorderFile::Fetched;
            m_upload_failed = true;
            qDebug().noquote() << "recorder file not stored on the FTP server, sent again later:" << local;
            return;
        }
        file.state = RecorderFile::Uploaded;
        downfilelst.removeAll(QString::number(file.srv) + QLatin1Char(',') + local);
        if (file.companion)
            m_files.erase(it);  // nothing waits for it
        else
            advanceSeriesLocked(file.srv, file.prefix, &rows);  // forgets the file once its series' time is past it
        saveUploadQueueLocked();
    }
    writeRows(rows);
}

void DataDeal::saveUploadQueueLocked() {
    // One line a file: server, seconds, name (the name last, as it may hold
    // ",").
    QSaveFile out(QString::fromLatin1(kUploadQueueFile));
    if (out.open(QIODevice::WriteOnly)) {
        for (const auto &[key, f] : m_files) {
            if (f.state != RecorderFile::Fetched && f.state != RecorderFile::Uploading) continue;
            out.write((QString::number(f.srv) + QLatin1Char(',') + QString::number(f.time) + QLatin1Char(',') +
                       f.local + QLatin1Char('\n'))
                          .toUtf8());
        }
        if (!out.commit()) qDebug().noquote() << "upload queue not saved:" << out.errorString();
    }

    // Companion fetches still due: "fetch,server,seconds,name" for a
    // companion asked for or to be asked again, "want,server,seconds,name
    // [,name...]" for a data file whose configuration file was not listed,
    // with the companions asked for already. Names are the listed bytes in
    // hex.
    QByteArray due;
    for (const auto &[key, f] : m_files) {
        if (!f.companion || (f.state != RecorderFile::Fetching && f.state != RecorderFile::FetchFailed)) continue;
        due += "fetch," + QByteArray::number(f.srv) + ',' + QByteArray::number(f.time) + ',' + f.listed.toHex() + '\n';
    }
    for (const Wanted &wanted : m_wanted) {
        due += "want," + QByteArray::number(wanted.srv) + ',' + QByteArray::number(wanted.time) + ',' +
               wanted.listed.toHex();
        for (const QByteArray &asked : wanted.asked) due += ',' + asked.toHex();
        due += '\n';
    }
    const QString name = QString::fromLatin1(kCompanionFile);
    if (due.isEmpty() && !QFile::exists(name)) return;
    QSaveFile companions(name);
    if (!companions.open(QIODevice::WriteOnly)) {
        qDebug().noquote() << "companion fetches not saved:" << companions.errorString();
        return;
    }
    companions.write(due);
    if (!companions.commit()) qDebug().noquote() << "companion fetches not saved:" << companions.errorString();
}

void DataDeal::loadUploadQueue() {
    loadCompanions();
    QFile in(QString::fromLatin1(kUploadQueueFile));
    if (!in.open(QIODevice::ReadOnly)) return;
    constexpr int kMaxLine = 1024;
    int taken = 0;
    QMutexLocker lock(&filelst_mutex);
    while (!in.atEnd() && taken < kMaxQueueEntries) {
        const QString line = QString::fromUtf8(in.readLine(kMaxLine)).trimmed();
        const QStringList f = line.split(QLatin1Char(','));
        if (f.size() < 3) continue;
        bool srv_ok = false;
        bool time_ok = false;
        const int srv = f[0].toInt(&srv_ok);
        const qint64 time = f[1].toLongLong(&time_ok);
        const QString local = f.mid(2).join(QLatin1Char(','));
        const QString prefix = seriesOf(local);
        const bool companion = isCompanionFile(local.toUtf8());
        // Only a plain data or companion file name of the working directory.
        if (!srv_ok || srv < 0 || !time_ok || local.contains(QLatin1Char('/')) || local.startsWith(QLatin1Char('.')) ||
            !(companion || isDataFile(local.toUtf8())) || !QFile::exists(local))
            continue;
        const QString key = QString::number(srv) + QLatin1String(",\n") + local;  // not a listed name
        m_files[key] = RecorderFile{srv,  QByteArray(), local,     prefix, time, RecorderFile::Fetched,
                                    true, true,         companion, {}};
        const QString queued = QString::number(srv) + QLatin1Char(',') + local;
        if (!downfilelst.contains(queued)) downfilelst.append(queued);
        ++taken;
    }
    if (taken > 0) qDebug().noquote() << taken << "recorder files from the last run wait for the FTP server";
}

void DataDeal::loadCompanions() {
    if (!comtradcompanions) return;
    QFile in(QString::fromLatin1(kCompanionFile));
    if (!in.open(QIODevice::ReadOnly)) return;
    // A want line holds a few names of at most 255 bytes, twice as many hex digits.
    constexpr int kMaxLine = 16 * 1024;
    int taken = 0;
    QMutexLocker lock(&filelst_mutex);
    while (!in.atEnd() && taken < kMaxQueueEntries) {
        const QList<QByteArray> f = in.readLine(kMaxLine).trimmed().split(',');
        if (f.size() < 4) continue;
        bool srv_ok = false;
        bool time_ok = false;
        const int srv = f[1].toInt(&srv_ok);
        const qint64 time = f[2].toLongLong(&time_ok);
        QByteArray listed;
        if (!srv_ok || srv < 0 || !time_ok || !fromHexName(f[3], &listed)) continue;
        const QString local = devfile::localName(listed, nullptr);
        if (local.isEmpty()) continue;
        const QString key = fileKey(srv, listed);
        if (f[0] == "fetch" && f.size() == 4 && isCompanionFile(local.toUtf8())) {
            // Asked again when the device lists it; given up when it does not.
            m_files[key] = RecorderFile{srv,   listed, local, seriesOf(local), time, RecorderFile::FetchFailed, true,
                                        false, true,   {}};
            const QString queued = QString::number(srv) + QLatin1Char(',') + local;
            if (!downfilelst.contains(queued)) downfilelst.append(queued);
            ++taken;
        } else if (f[0] == "want" && isDataFile(local.toUtf8())) {
            Wanted wanted{srv, listed, local, time, {}};
            QByteArray asked;
            for (int i = 4; i < f.size(); ++i)
                if (fromHexName(f[i], &asked)) wanted.asked.insert(asked);
            m_wanted.insert(key, wanted);
            ++taken;
        }
    }
    if (taken > 0) qDebug().noquote() << taken << "recorder companion files from the last run are still to be fetched";
}

bool DataDeal::recorderSettled() {
    QMutexLocker lock(&filelst_mutex);
    if (m_rows_pending > 0) return false;
    return std::none_of(m_files.begin(), m_files.end(),
                        [](const auto &kv) { return kv.second.state == RecorderFile::Fetching; });
}

QStringList DataDeal::recorderFiles() {
    static const char *const names[] = {"fetching", "fetch-failed", "fetched", "uploading", "uploaded"};
    QMutexLocker lock(&filelst_mutex);
    QStringList out;
    for (const auto &[key, f] : m_files)
        out << QStringLiteral("%1,%2,%3,%4").arg(f.srv).arg(f.local, QLatin1String(names[f.state])).arg(f.time);
    return out;
}
