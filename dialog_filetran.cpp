#include "dialog_filetran.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMessageBox>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "devicefilename.h"
#include "gui_srv.h"
#include "zv_ops.h"

void (*dialog_filetran::box_hook)(const QString &title, const QString &text) = nullptr;

namespace {

void pane(const char *text) {
    if (w != nullptr) w->out_put(text);
}

// Copies a name into a zeroed stack buffer; false when it does not fit.
bool toNameBuffer(const QByteArray &name, char (&buf)[dialog_filetran::NAME_BUF]) {
    std::memset(buf, 0, sizeof buf);
    if (name.size() >= dialog_filetran::NAME_BUF) return false;
    std::memcpy(buf, name.constData(), static_cast<size_t>(name.size()));
    return true;
}

// Runs `f` on the GUI thread, after the events already queued there.
template <typename F>
void onGuiThread(F f) {
    QCoreApplication *app = QCoreApplication::instance();
    if (app != nullptr) QMetaObject::invokeMethod(app, std::move(f), Qt::QueuedConnection);
}

// A directory result copied out of the request control, which is the stack's
// and valid only while the completion function runs.
struct Listing {
    AC_GETFAV_REQ_CTRL head;
    std::vector<AC_FILE_ATTR> entries;
};

void refreshOpenDialog() {
    onGuiThread([] {
        if (dlg_filetran != nullptr) dlg_filetran->OnFreshfiledirectory();
    });
}

// Every dialog alive (GUI thread): the end of a transfer goes to the one
// that started it, which need not be the newest.
std::vector<dialog_filetran *> &liveDialogs() {
    static std::vector<dialog_filetran *> dialogs;
    return dialogs;
}

QByteArray nameOf(const char *buf) { return QByteArray(buf, static_cast<int>(qstrnlen(buf, AC_FILE_NAME_LEN))); }

// Tells the dialogs on the GUI thread that a transfer ended.
void endTransfer(bool fetch, const char *src, const char *dest, bool ok) {
    onGuiThread([fetch, src = nameOf(src), dest = nameOf(dest), ok] {
        for (dialog_filetran *d : liveDialogs())
            if (d->transferEnded(fetch, src, dest, ok)) break;
    });
}

// Steps of the progress bar: its value is an int, files are not.
constexpr int kProgressSteps = 1000;
constexpr int kProgressTickMs = 100;

// The read position of each open file of this process whose path is one of
// `paths` (Linux: /proc/self/fd and /proc/self/fdinfo). Files open more than
// once give their furthest position; without /proc nothing is found.
QHash<QByteArray, qint64> readPositions(const QSet<QByteArray> &paths) {
    QHash<QByteArray, qint64> out;
    if (paths.isEmpty()) return out;
    DIR *dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return out;
    while (dirent *e = ::readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        char target[PATH_MAX];
        const QByteArray link = QByteArray("/proc/self/fd/") + e->d_name;
        const ssize_t n = ::readlink(link.constData(), target, sizeof target);
        if (n <= 0 || n >= static_cast<ssize_t>(sizeof target)) continue;
        const QByteArray path(target, static_cast<int>(n));
        if (!paths.contains(path)) continue;
        // fdinfo begins "pos:\t<offset>\n".
        const QByteArray info = QByteArray("/proc/self/fdinfo/") + e->d_name;
        const int fd = ::open(info.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char text[128];
        ssize_t got;
        do got = ::read(fd, text, sizeof text - 1);
        while (got < 0 && errno == EINTR);
        ::close(fd);
        if (got <= 0) continue;
        const QByteArray head = QByteArray(text, static_cast<int>(got)).split('\n').value(0);
        bool ok = false;
        const qint64 pos = head.startsWith("pos:") ? head.mid(4).trimmed().toLongLong(&ok) : -1;
        if (ok && pos >= 0) out[path] = std::max(out.value(path, 0), pos);
    }
    ::closedir(dir);
    return out;
}

QString bytesText(qint64 bytes) { return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat); }

// Elapsed time as m:ss (h:mm:ss from an hour on).
QString clockText(qint64 ms) {
    const qint64 s = ms / 1000;
    if (s < 3600) return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

dialog_filetran::dialog_filetran(QWidget *parent) : QDialog(parent) {
    widget.setupUi(this);
    // The form connects nothing by name (connectslotsbyname="false"): each
    // button's handler is connected here, checked by the compiler.
    connect(widget.pB_getfilelist, &QAbstractButton::clicked, this, &dialog_filetran::on_pB_getfilelist_clicked);
    connect(widget.pB_fileupload, &QAbstractButton::clicked, this, &dialog_filetran::on_pB_fileupload_clicked);
    connect(widget.pB_filedown, &QAbstractButton::clicked, this, &dialog_filetran::on_pB_filedown_clicked);
    connect(widget.pB_filedel, &QAbstractButton::clicked, this, &dialog_filetran::on_pB_filedel_clicked);
    connect(widget.pB_filebrowser, &QAbstractButton::clicked, this, &dialog_filetran::on_pB_filebrowser_clicked);
    tbmodel = new QStandardItemModel(this);
    widget.tV_file->setModel(tbmodel);

    tbmodel->setColumnCount(3);
    tbmodel->setHorizontalHeaderItem(0, new QStandardItem(tr("文件名")));
    tbmodel->setHorizontalHeaderItem(1, new QStandardItem(tr("大小(K)")));
    tbmodel->setHorizontalHeaderItem(2, new QStandardItem(tr("修改日期")));
    widget.tV_file->setColumnWidth(0, 350);
    widget.tV_file->setColumnWidth(1, 100);
    widget.tV_file->setColumnWidth(2, 200);
    widget.tV_file->setEditTriggers(QAbstractItemView::NoEditTriggers);

    const int n = ac_get_srvm_num_ad != nullptr ? ac_get_srvm_num_ad() : 0;
    for (int i = 0; i < n; ++i) {
        const char *name = ac_get_srvm_name_ad != nullptr ? ac_get_srvm_name_ad(i) : nullptr;
        widget.cB_server->insertItem(i, QString::fromUtf8(name), i);
    }

    m_progressTimer.setInterval(kProgressTickMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &dialog_filetran::onProgressTick);
    liveDialogs().push_back(this);
}

dialog_filetran::~dialog_filetran() {
    auto &live = liveDialogs();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    if (dlg_filetran == this) dlg_filetran = nullptr;
    delete tbmodel;
}

void dialog_filetran::box(const QString &title, const QString &text) {
    if (box_hook != nullptr) {
        box_hook(title, text);
        return;
    }
    QMessageBox::warning(nullptr, title, text, QMessageBox::Ok);
}

QByteArray dialog_filetran::LocalFileName(const QByteArray &listed) {
    return devfile::localName(listed, nullptr).toUtf8();
}

bool dialog_filetran::selectedName(const QString &title, const char *no_row, const QString &empty_title,
                                   const char *empty, QByteArray *name) {
    const int row = widget.tV_file->currentIndex().row();
    if (row < 0) {
        box(title, tr(no_row));
        return false;
    }
    // The name goes back exactly as the server listed it.
    const QModelIndex index = tbmodel->index(row, 0);
    const QVariant listed = index.data(ROLE_LISTED_NAME);
    *name = listed.isValid() ? listed.toByteArray() : index.data().toString().toLatin1();
    if (name->isEmpty()) {
        box(empty_title, tr(empty));
        return false;
    }
    return true;
}

// ---- directory ---------------------------------------------------------------------

void dialog_filetran::on_pB_getfilelist_clicked() {
    const int srv = widget.cB_server->currentIndex();
    char dir[NAME_BUF];
    AC_REQ_CTRL *reqctl = nullptr;
    bool queued = false;
    if (toNameBuffer(widget.lE_path->text().toLatin1(), dir) && ac_get_file_attr_ad != nullptr) {
        AC_GETFAV_REQ_INFO req;
        req.file_name = dir;
        req.u_getf_done = _getf_handle;
        queued = ac_get_file_attr_ad(srv, &req, 30, &reqctl) == 0;
    }
    if (!queued) box(QStringLiteral("warning"), tr("获取文件列表失败!"));
}

void dialog_filetran::OnFreshfiledirectory() { on_pB_getfilelist_clicked(); }

void dialog_filetran::OnGetFileListParse(AC_GETFAV_REQ_CTRL *result) {
    tbmodel->removeRows(0, tbmodel->rowCount());
    if (result == nullptr || result->file_attrs == nullptr) return;
    for (int i = 0; i < result->file_num; ++i) {
        const AC_FILE_ATTR &attr = result->file_attrs[i];
        const QByteArray name(attr.file_name, static_cast<int>(qstrnlen(attr.file_name, sizeof attr.file_name)));
        // Shown decoded (UTF-8 or GB18030); the bytes go back to the device.
        auto *item = new QStandardItem(devfile::shown(name));
        item->setData(name, ROLE_LISTED_NAME);
        tbmodel->setItem(i, 0, item);
        tbmodel->setItem(i, 1, new QStandardItem(QString::number(attr.file_size)));
        // secs 0: the device gave no time.
        const QDateTime modified = QDateTime::fromSecsSinceEpoch(attr.last_modified.secs);
        tbmodel->setItem(i, 2,
                         new QStandardItem(attr.last_modified.secs == 0
                                               ? QString()
                                               : modified.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
    }
}

// ---- fetch, send, delete ------------------------------------------------------------

void dialog_filetran::on_pB_fileupload_clicked() {
    const int srv = widget.cB_server->currentIndex();
    const QString title = tr("上载文件");
    QByteArray name;
    if (!selectedName(title, QT_TR_NOOP("未选择要上载的文件,请选择要上载的文件!"), title,
                      QT_TR_NOOP("要上载的文件名称为空!"), &name))
        return;

    // The server gets its own name back; the local file is named after the
    // last part of it, decoded, when that is a safe name.
    char src[NAME_BUF];
    char dest[NAME_BUF];
    QString why;
    const QByteArray local = devfile::localName(name, &why).toUtf8();
    if (local.isEmpty())
        qDebug().noquote() << "file" << devfile::shown(name) << "of server" << widget.cB_server->currentText()
                           << "not fetched: no local name (" + why + ")";
    AC_REQ_CTRL *reqctl = nullptr;
    bool queued = false;
    if (!local.isEmpty() && toNameBuffer(name, src) && toNameBuffer(local, dest) && ac_get_file_ad != nullptr) {
        AC_GETF_REQ_INFO req;
        req.src_fname = src;
        req.dest_fname = dest;
        req.u_getf_done = _get_handle;
        queued = ac_get_file_ad(srv, &req, 300, &reqctl) == 0;
    }
    if (queued) {
        // The listing's size, when it gave one, is what the fetch should reach.
        Transfer t;
        t.fetch = true;
        t.src = name;
        t.dest = local;
        t.watched = local + ".part";
        bool sized = false;
        const qint64 listed =
            tbmodel->index(widget.tV_file->currentIndex().row(), 1).data().toString().toLongLong(&sized);
        t.size = sized && listed > 0 ? listed : -1;
        startTransfer(std::move(t));
    }
    box(title, queued ? tr("上载文件成功!") : tr("上载文件失败!"));
}

void dialog_filetran::on_pB_filebrowser_clicked() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Open File"), QString(), QString());
    if (path.isEmpty()) return;
    widget.lE_downfilename->setText(path);
    widget.lE_filename->setText(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
}

void dialog_filetran::on_pB_filedown_clicked() {
    const int srv = widget.cB_server->currentIndex();
    if (widget.lE_downfilename->text().isEmpty() || widget.lE_filename->text().isEmpty()) return;
    char src[NAME_BUF];
    char dest[NAME_BUF];
    AC_REQ_CTRL *reqctl = nullptr;
    bool queued = false;
    // The local path in the file system's encoding (a folder may have a
    // Chinese name); the device's name as typed.
    const QString path = widget.lE_downfilename->text();
    const QByteArray local = QFile::encodeName(path);
    const QByteArray remote = widget.lE_filename->text().toLatin1();
    if (toNameBuffer(local, src) && toNameBuffer(remote, dest) && ac_set_file_ad != nullptr) {
        AC_SETF_REQ_INFO req;
        req.src_fname = src;
        req.dest_fname = dest;
        req.u_setf_done = _set_handle;
        queued = ac_set_file_ad(srv, &req, 300, &reqctl) == 0;
    }
    if (queued) {
        const QFileInfo info(path);
        Transfer t;
        t.fetch = false;
        t.src = local;
        t.dest = remote;
        t.watched = QFile::encodeName(info.canonicalFilePath());
        t.size = info.size() > 0 ? info.size() : -1;
        startTransfer(std::move(t));
    }
    box(tr("下装文件"), queued ? tr("下装文件成功!") : tr("下装文件失败!"));
}

void dialog_filetran::on_pB_filedel_clicked() {
    const int srv = widget.cB_server->currentIndex();
    QByteArray name;
    if (!selectedName(QStringLiteral("warning"), QT_TR_NOOP("未选择要删除的文件,请选择要删除的文件!"), tr("错误"),
                      QT_TR_NOOP("要删除的文件名称为空!"), &name))
        return;
    char file[NAME_BUF];
    AC_REQ_CTRL *reqctl = nullptr;
    bool queued = false;
    if (toNameBuffer(name, file) && ac_delete_file_ad != nullptr) {
        AC_DELF_REQ_INFO req;
        req.file_name = file;
        req.u_getf_done = _delete_handle;
        queued = ac_delete_file_ad(srv, &req, 30, &reqctl) == 0;
    }
    if (!queued) box(QStringLiteral("warning"), tr("删除文件失败!"));
}

// ---- progress of fetches and sends --------------------------------------------------

void dialog_filetran::startTransfer(Transfer transfer) {
    transfer.clock.start();
    m_transfers.push_back(std::move(transfer));
    if (!m_progressTimer.isActive()) m_progressTimer.start();
    onProgressTick();
}

void dialog_filetran::onProgressTick() {
    QSet<QByteArray> sent;
    for (const Transfer &t : m_transfers)
        if (!t.fetch) sent.insert(t.watched);
    const QHash<QByteArray, qint64> positions = readPositions(sent);
    for (Transfer &t : m_transfers) {
        // Bytes only grow: a closed file, or a ".part" renamed, keeps its last count.
        const qint64 now = t.fetch ? QFileInfo(QFile::decodeName(t.watched)).size() : positions.value(t.watched, 0);
        t.done = std::max(t.done, now);
    }
    showProgress();
}

void dialog_filetran::showProgress() {
    if (m_transfers.empty()) return;
    const Transfer &t = m_transfers.front();
    QProgressBar *bar = widget.prB_transfer;
    bar->setTextVisible(true);
    if (t.size > 0 && t.done <= t.size) {
        bar->setRange(0, kProgressSteps);
        bar->setValue(static_cast<int>(t.done * kProgressSteps / t.size));
        bar->setFormat(tr("%p% (%1 / %2)").arg(bytesText(t.done), bytesText(t.size)));
    } else {
        // No size, or more than the listing said: it runs, how far is unknown.
        bar->setRange(0, 0);
        bar->setFormat(bytesText(t.done));
    }
    widget.lb_transfer->setText((t.fetch ? tr("上载 %1") : tr("下装 %1")).arg(clockText(t.clock.elapsed())));
    QStringList running;
    for (const Transfer &r : m_transfers)
        running << (r.fetch ? tr("上载 %1: %2") : tr("下装 %1: %2"))
                       .arg(devfile::shown(r.fetch ? r.src : r.dest), bytesText(r.done));
    bar->setToolTip(running.join(QLatin1Char('\n')));
}

bool dialog_filetran::transferEnded(bool fetch, const QByteArray &src, const QByteArray &dest, bool ok) {
    auto it = std::find_if(m_transfers.begin(), m_transfers.end(),
                           [&](const Transfer &t) { return t.fetch == fetch && t.src == src && t.dest == dest; });
    if (it == m_transfers.end()) return false;
    Transfer ended = std::move(*it);
    m_transfers.erase(it);
    if (!m_transfers.empty()) {
        onProgressTick();
        return true;
    }
    m_progressTimer.stop();
    QProgressBar *bar = widget.prB_transfer;
    if (ok) {
        // The whole file: a fetch as it now lies in the working directory.
        if (fetch)
            ended.done = QFileInfo(QFile::decodeName(ended.dest)).size();
        else if (ended.size > 0)
            ended.done = ended.size;
        bar->setRange(0, kProgressSteps);
        bar->setValue(kProgressSteps);
        bar->setFormat(tr("%p% (%1)").arg(bytesText(ended.done)));
        widget.lb_transfer->setText(fetch ? tr("上载完成") : tr("下装完成"));
    } else {
        // Left where it stopped; a bar that showed no end shows none.
        if (bar->maximum() == 0) bar->setRange(0, kProgressSteps);
        bar->setFormat(tr("%1 后失败").arg(bytesText(ended.done)));
        widget.lb_transfer->setText(fetch ? tr("上载失败") : tr("下装失败"));
    }
    bar->setToolTip(tr("用时 %1").arg(clockText(ended.clock.elapsed())));
    return true;
}

// ---- completion functions (stack threads) ----------------------------------------

void _getf_handle(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr) return;
    if (req_ctrl->result != 0) {
        pane("获取文件列表失败!!!");
        return;
    }
    auto listing = std::make_shared<Listing>();
    listing->head = req_ctrl->u.getfavCtrl;
    const AC_FILE_ATTR *attrs = listing->head.file_attrs;
    const int n = attrs != nullptr && listing->head.file_num > 0 ? listing->head.file_num : 0;
    listing->entries.assign(attrs, attrs + n);
    listing->head.file_num = n;
    onGuiThread([listing] {
        listing->head.file_attrs = listing->entries.data();
        if (dlg_filetran != nullptr) dlg_filetran->OnGetFileListParse(&listing->head);
    });
    pane("获取文件列表成功!!!");
}

void _get_handle(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr) return;
    endTransfer(true, req_ctrl->u.getfCtrl.src_fname, req_ctrl->u.getfCtrl.dest_fname, req_ctrl->result == 0);
    pane(req_ctrl->result == 0 ? "文件上载成功!!!" : "文件上载失败!!!");
}

void _set_handle(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr) return;
    endTransfer(false, req_ctrl->u.setfCtrl.src_fname, req_ctrl->u.setfCtrl.dest_fname, req_ctrl->result == 0);
    if (req_ctrl->result != 0) {
        pane("下装文件失败!!!");
        return;
    }
    refreshOpenDialog();
    pane("下装文件成功!!!");
}

void _delete_handle(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr) return;
    if (req_ctrl->result != 0) {
        pane("删除文件失败!!!");
        return;
    }
    refreshOpenDialog();
    pane("删除文件成功!!!");
}
