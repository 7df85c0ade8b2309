// The main window: form, models, start-up of the station and shutdown.
#include "gui_srv.h"

#include <QHeaderView>
#include <QMenu>
#include <QSettings>

#include "ConnectionPool.h"
#include "DataDeal.h"
#include "dialog_filetran.h"
#include "dialog_rcb.h"
#include "dlunix.h"
#include "zv_ops.h"

gui_srv::gui_srv(QWidget *parent, Qt::WindowFlags flags) : QMainWindow(parent, flags) {
    qRegisterMetaType<ST_INT>("ST_INT");
    qRegisterMetaType<AC_CHANNEL>("AC_CHANNEL");
    ui.setupUi(this);
    // The form connects nothing by name (connectslotsbyname="false"): each
    // action's handler is connected here, checked by the compiler.
    connect(ui.action_clear, &QAction::triggered, this, &gui_srv::on_action_clear_triggered);
    connect(ui.action_exit, &QAction::triggered, this, &gui_srv::on_action_exit_triggered);
    connect(ui.action_sg, &QAction::triggered, this, &gui_srv::on_action_sg_triggered);
    connect(ui.action_ctrl, &QAction::triggered, this, &gui_srv::on_action_ctrl_triggered);
    connect(ui.action_refresh, &QAction::triggered, this, &gui_srv::on_action_refresh_triggered);
    connect(ui.action_filetran, &QAction::triggered, this, &gui_srv::on_action_filetran_triggered);
    connect(ui.action_paramtodb, &QAction::triggered, this, &gui_srv::on_action_paramtodb_triggered);
    connect(ui.action_clearparam, &QAction::triggered, this, &gui_srv::on_action_clearparam_triggered);
    connect(ui.action_wave, &QAction::triggered, this, &gui_srv::on_action_wave_triggered);
    connect(ui.action_recordings, &QAction::triggered, this, &gui_srv::on_action_recordings_triggered);
    connect(ui.action_trend, &QAction::triggered, this, &gui_srv::on_action_trend_triggered);
    connect(ui.action_livetrend, &QAction::triggered, this, &gui_srv::on_action_livetrend_triggered);

    tmenu = new QMenu(this);
    createActions();
    createMenus();

    dlg_rcb = new dialog_rcb();

    ui.splitter->setStretchFactor(0, 4);
    ui.splitter->setStretchFactor(1, 1);
    ui.splitter1->setStretchFactor(0, 0);
    ui.splitter1->setStretchFactor(1, 1);

    model = new QStandardItemModel(this);
    tbmodel = new QStandardItemModel(this);
    ui.treeView->setModel(model);
    ui.tableView->setModel(tbmodel);
    ui.treeView->setContextMenuPolicy(Qt::CustomContextMenu);
    ui.treeView->header()->hide();

    model->setHorizontalHeaderItem(0, new QStandardItem(tr("目录")));
    ui.treeView->setColumnWidth(0, 150);
    const char *headers[] = {QT_TR_NOOP("ID"),   QT_TR_NOOP("路径"), QT_TR_NOOP("名称"),
                             QT_TR_NOOP("类型"), QT_TR_NOOP("数值"), QT_TR_NOOP("描述")};
    const int widths[] = {50, 400, 150, 80, 80, 250};
    for (int c = 0; c < 6; ++c) {
        tbmodel->setHorizontalHeaderItem(c, new QStandardItem(tr(headers[c])));
        ui.tableView->setColumnWidth(c, widths[c]);
    }
    ui.action_sg->setEnabled(false);
    ui.tableView->verticalHeader()->hide();
    ui.tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);

    connect(ui.treeView, &QAbstractItemView::clicked, this, &gui_srv::treeViewclicked);
    connect(ui.treeView, &QWidget::customContextMenuRequested, this, &gui_srv::ShowContextMenu);
    ui.tableView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui.tableView, &QWidget::customContextMenuRequested, this, &gui_srv::ShowTableMenu);
    // Emitted on the stack's and the archiving worker's threads; queued even
    // when emitted on the GUI thread, as before (the slots run after the
    // emitter has returned).
    connect(this, &gui_srv::out_put_signal, this, &gui_srv::print_log, Qt::QueuedConnection);
    connect(this, &gui_srv::s_connectedToChnl, this, &gui_srv::t_connectedToChnl, Qt::QueuedConnection);
    connect(this, &gui_srv::s_ftp_filetran, this, &gui_srv::t_ftp_filetran, Qt::QueuedConnection);
    connect(this, &gui_srv::s_srvRefreshed, this, &gui_srv::t_srvRefreshed, Qt::QueuedConnection);
    connect(this, &gui_srv::s_disconnectedToChnl, this, &gui_srv::t_disconnectedToChnl, Qt::QueuedConnection);
    // The archiving worker keeps a recorder file queued until the FTP server
    // has confirmed its upload.
    connect(&ftpcli, &FtpCLient::putFinished, this, [](const QString &local, const QString &remote, bool ok) {
        if (datedeal != nullptr) datedeal->fileUploaded(local, remote, ok);
    });

    out_put("开始启动61850集成平台！");

    // The station part of the start-up: each failure ends it with a message;
    // the window, the archiving worker and the FTP settings come up regardless.
    do {
        if (open_zorvan_dl() == nullptr) {
            out_put("加载61850库文件失败！");
            break;
        }
        init_fun();
        if (ai_init_envir_ad == nullptr) break;
        if (ai_init_envir_ad(nullptr) != 0) {
            out_put("通讯环境初始化失败！");
            break;
        }
        out_put("通讯环境初始化成功！");
        m_library_ready = true;

        QSettings settings(QStringLiteral("syscfg.ini"), QSettings::IniFormat);
        dbfilepath = settings.value(QStringLiteral("databasecfg/datafilepath")).toString();

        if (ac_init_srvm_ad == nullptr) break;
        if (ac_init_srvm_ad() != 0) {
            out_put("初始化站点失败！");
            break;
        }
        out_put("初始化站点成功！");

        if (gs_start_thread_ad == nullptr) break;
        if (gs_start_thread_ad(check_receive, nullptr, &gs_client_thread_handle, &gs_client_thread_id) != 0) {
            out_put("goolse信息处理线程加载失败");
            break;
        }

        if (ac_get_srvm_num_ad == nullptr) break;
        const int n = ac_get_srvm_num_ad();
        tb_recreatecolumn();
        if (ac_get_srvm_name_ad == nullptr) break;
        for (int i = 0; i < n; ++i) {
            const char *name = ac_get_srvm_name_ad(i);
            if (name != nullptr) {
                auto *item = new QStandardItem(QString::fromUtf8(name));
                item->setEditable(false);
                item->setIcon(QIcon(QStringLiteral(":/gui_srv/ResourceFiles/srv.bmp")));
                model->invisibleRootItem()->setChild(i, 0, item);
                item->setData(i, ROLE_SRV_ID);
                if (ac_get_srvm_ied_ad) m_tree_ied[i] = ac_get_srvm_ied_ad(i);
                InsertLD(i, item);
            }
            if (ac_set_srvm_chnlKeepCon_ad) {
                ac_set_srvm_chnlKeepCon_ad(i, 1, AC_CHANNEL_A);
                ac_set_srvm_chnlKeepCon_ad(i, 1, AC_CHANNEL_B);
            }
        }
    } while (false);

    datedeal->start();

    ftpcli.FtpSetHostPort(ConnectionPool::getcomtradftpip(), ConnectionPool::getcomtradftpport());
    ftpcli.FtpSetUserInfor(ConnectionPool::getcomtradftpuid(), ConnectionPool::getcomtradftppsw());
}

gui_srv::~gui_srv() { shutdown(); }

void gui_srv::shutdown() {
    if (m_shut_down) return;
    m_shut_down = true;
    doIt = false;
    if (m_library_ready) {
        if (gs_close_thread_ad && gs_client_thread_handle != 0) gs_close_thread_ad(gs_client_thread_handle);
        if (ai_uninit_envir_ad) ai_uninit_envir_ad();
    }
    // The worker wakes from its sleep and ends its cycle; only one that does
    // not end within the bound is terminated.
    datedeal->stop();
    if (!datedeal->wait(15000)) {
        qWarning() << "archiving worker did not stop within 15 s; terminating it";
        datedeal->terminate();
        datedeal->wait();
    }
    // The report dialog is a window of its own; with the stack stopped no
    // completion can reach it any more.
    delete dlg_rcb;
    dlg_rcb = nullptr;
}

void gui_srv::init_fun() {
    if (dp == nullptr) return;
    zv_lookup_operations(dp);
}

// The pane's lines stay as they are written, in every interface language:
// operators and scripts read them (the texts are the source texts, not tr()).
void gui_srv::out_put(const QString &text) { emit out_put_signal(text); }

void gui_srv::print_log(QString text) {
    // The pane keeps at most 1000 lines: the 1001st clears it and stands alone.
    if (log_num > 999) {
        log_num = 0;
        ui.textEdit->clear();
    } else {
        ++log_num;
    }
    ui.textEdit->append(text);
}

void gui_srv::ftp_filetran(const QString &sor, const QString &dev, int trantype) {
    emit s_ftp_filetran(sor, dev, trantype);
}

void gui_srv::t_ftp_filetran(QString sor, QString dev, int trantype) {
    if (trantype != 0)
        ftpcli.FtpPut(sor, dev);
    else
        ftpcli.FtpGet(sor, dev);
}

void gui_srv::createActions() {
    struct Entry {
        QAction **action;
        const char *caption;
        void (gui_srv::*slot)();
    };
    const Entry entries[] = {
        {&act_read, QT_TR_NOOP("读服务"), &gui_srv::act_read_clicked},
        {&act_write, QT_TR_NOOP("写服务"), &gui_srv::act_write_clicked},
        {&act_directory, QT_TR_NOOP("目录服务"), &gui_srv::act_directory_clicked},
        {&act_report, QT_TR_NOOP("报告服务"), &gui_srv::act_report_clicked},
        {&act_log, QT_TR_NOOP("日志服务"), &gui_srv::act_log_clicked},
        {&act_control, QT_TR_NOOP("控制服务"), &gui_srv::act_control_clicked},
        {&act_fixedValue, QT_TR_NOOP("定值服务"), &gui_srv::act_fixedValue_clicked},
        {&act_connA, QT_TR_NOOP("连接A网"), &gui_srv::act_connA_clicked},
        {&act_connB, QT_TR_NOOP("连接B网"), &gui_srv::act_connB_clicked},
        {&act_exportScl, QT_TR_NOOP("导出SCL模型"), &gui_srv::act_exportScl_clicked},
    };
    for (const Entry &e : entries) {
        *e.action = new QAction(tr(e.caption), this);
        connect(*e.action, &QAction::triggered, this, e.slot);
    }
}

void gui_srv::createMenus() {
    tmenu->addAction(act_read);
    tmenu->addAction(act_write);
    tmenu->addSeparator();
    tmenu->addAction(act_directory);
    tmenu->addAction(act_report);
    tmenu->addAction(act_log);
    tmenu->addAction(act_control);
    tmenu->addAction(act_fixedValue);
    tmenu->addSeparator();
    tmenu->addAction(act_connA);
    tmenu->addAction(act_connB);
    tmenu->addSeparator();
    tmenu->addAction(act_exportScl);
}

void gui_srv::on_action_clear_triggered() { ui.textEdit->clear(); }

void gui_srv::on_action_exit_triggered() {
    // Closing with delete-on-close destroys the window once, like the close button.
    if (testAttribute(Qt::WA_DeleteOnClose))
        close();
    else
        deleteLater();
}

void gui_srv::on_action_sg_triggered() {}

void gui_srv::on_action_refresh_triggered() {}

void gui_srv::on_action_ctrl_triggered() {
    ftpcli.FtpGet(QStringLiteral("111_021_L62YPYGGXGTNR7ZC8_.xml"), QStringLiteral("111_021_L62YPYGGXGTNR7ZC8_.xml"));
    ftpcli.FtpPut(QStringLiteral("logcfg.xml"), QStringLiteral("comtrad/logcfg.xml"));
}

void gui_srv::on_action_filetran_triggered() {
    // A fresh dialog each time, owned by the window (freed with it).
    dlg_filetran = new dialog_filetran(this);
    dlg_filetran->setWindowModality(Qt::ApplicationModal);
    dlg_filetran->show();
}
