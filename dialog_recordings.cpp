#include "dialog_recordings.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <utility>

#include "ConnectionPool.h"
#include "dialog_wave.h"
#include "zv_ops.h"

dialog_recordings::dialog_recordings(QWidget *parent) : QDialog(parent) {
    ui.setupUi(this);
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    ui.table_files->setColumnWidth(0, 170);
    ui.table_files->setColumnWidth(1, 100);
    ui.table_files->setColumnWidth(2, 360);
    connect(ui.btn_refresh, &QPushButton::clicked, this, &dialog_recordings::refresh);
    connect(ui.btn_open, &QPushButton::clicked, this, [this] { openSelected(); });
    connect(ui.table_files, &QTableWidget::cellDoubleClicked, this, [this] { openSelected(); });
    refresh();
}

dialog_recordings::~dialog_recordings() = default;

void dialog_recordings::refresh() {
    ui.table_files->setRowCount(0);
    QSqlDatabase db = ConnectionPool::openConnection();
    if (db.isValid() && !db.isOpen()) db.open();
    if (!db.isValid() || !db.isOpen()) {
        ui.label_status->setText(tr("数据库不可用"));
        if (db.isValid()) ConnectionPool::closeConnection(std::exchange(db, QSqlDatabase()));
        return;
    }
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("select filename, srvid, filetime, isupload from comtradrd order by filetime desc, "
                                   "id desc limit %1")
                        .arg(kMaxRows))) {
            ui.label_status->setText(tr("读取录波记录失败：%1").arg(q.lastError().text()));
        } else {
            int row = 0;
            while (q.next()) {
                ui.table_files->insertRow(row);
                const int srv = q.value(1).toInt();
                const char *name = ac_get_srvm_name_ad && srv >= 0 && ac_get_srvm_num_ad && srv < ac_get_srvm_num_ad()
                                       ? ac_get_srvm_name_ad(srv)
                                       : nullptr;
                ui.table_files->setItem(row, 0,
                                        new QTableWidgetItem(
                                            q.value(2).toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
                ui.table_files->setItem(row, 1,
                                        new QTableWidgetItem(name ? QString::fromUtf8(name) : QString::number(srv)));
                ui.table_files->setItem(row, 2, new QTableWidgetItem(q.value(0).toString()));
                ui.table_files->setItem(row, 3, new QTableWidgetItem(q.value(3).toInt() == 1 ? tr("是") : tr("否")));
                ++row;
            }
            ui.label_status->setText(tr("%1 条录波记录").arg(row));
            if (row > 0) ui.table_files->selectRow(0);
        }
    }
    ConnectionPool::closeConnection(std::exchange(db, QSqlDatabase()));
}

dialog_wave *dialog_recordings::openSelected() {
    const int row = ui.table_files->currentRow();
    if (row < 0 || ui.table_files->item(row, 2) == nullptr) {
        ui.label_status->setText(tr("请选择一条录波记录"));
        return nullptr;
    }
    // The row names a file the worker fetched into the working directory:
    // a bare name, nothing that leads elsewhere.
    const QString name = ui.table_files->item(row, 2)->text();
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.startsWith(QLatin1Char('.'))) {
        ui.label_status->setText(tr("录波记录的文件名无效：%1").arg(name));
        return nullptr;
    }
    const QString path = QDir::current().filePath(name);
    if (!QFileInfo::exists(path)) {
        ui.label_status->setText(tr("本地没有文件 %1").arg(path));
        return nullptr;
    }
    auto *wave = new dialog_wave();
    wave->setAttribute(Qt::WA_DeleteOnClose);
    wave->show();
    if (!wave->openFile(path))
        ui.label_status->setText(wave->errorText());
    else
        ui.label_status->setText(tr("已打开 %1").arg(name));
    return wave;
}
