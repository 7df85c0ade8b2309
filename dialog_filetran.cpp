#include "dialog_filetran.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFileDialog>
#include <QMessageBox>
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

}  // namespace

dialog_filetran::dialog_filetran(QWidget *parent) : QDialog(parent) {
    widget.setupUi(this);
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
}

dialog_filetran::~dialog_filetran() {
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

QByteArray dialog_filetran::LocalFileName(const QByteArray &listed) { return devfile::localName(listed, nullptr).toUtf8(); }

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
        tbmodel->setItem(i, 2, new QStandardItem(attr.last_modified.secs == 0
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
    if (toNameBuffer(widget.lE_downfilename->text().toLatin1(), src) &&
        toNameBuffer(widget.lE_filename->text().toLatin1(), dest) && ac_set_file_ad != nullptr) {
        AC_SETF_REQ_INFO req;
        req.src_fname = src;
        req.dest_fname = dest;
        req.u_setf_done = _set_handle;
        queued = ac_set_file_ad(srv, &req, 300, &reqctl) == 0;
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
    pane(req_ctrl->result == 0 ? "文件上载成功!!!" : "文件上载失败!!!");
}

void _set_handle(AC_REQ_CTRL *req_ctrl) {
    if (req_ctrl == nullptr) return;
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
