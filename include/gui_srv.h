// The main window: object tree, value table, message pane, and the owner of
// the station's start-up and shutdown.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QMutex>
#include <QStandardItemModel>
#include <QStringList>

#include <atomic>

#include "FtpCLient.h"
#include "ui_gui_srv.h"
#include "zorvan/zorvan_api.h"

class QMenu;
class QAction;
class DataDeal;
class dialog_rcb;
class dialog_filetran;
class dialog_ctrl;
class dialog_lcb;
class dialog_sg;
class dialog_livetrend;
class dialog_recordings;

// Item data roles of the object tree: the server index and the object id.
constexpr int ROLE_SRV_ID = 100;
constexpr int ROLE_OBJ_ID = 101;

class gui_srv : public QMainWindow {
    Q_OBJECT

public:
    explicit gui_srv(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~gui_srv() override;

    // Writes one line to the message pane; callable from any thread.
    void out_put(const QString &text);
    void out_put(const char *text) { out_put(QString::fromUtf8(text)); }
    // Asks the GUI thread to run an FTP transfer (non-zero trantype: put).
    void ftp_filetran(const QString &sor, const QString &dev, int trantype);

    // Stack callback entry points; called on stack threads.
    void _on_connectedToChnl(ST_INT srv_id, AC_CHANNEL chnl);
    void _on_disconnectedToChnl(ST_INT srv_id, AC_CHANNEL chnl);
    void _on_recv_report(ST_UCHAR *RptID, ST_INT obj_num, AI_OBJ_VAL *obj_val, ST_BOOLEAN *val_chgs,
                         AC_REPORT_REASON *reasons, ST_INT srv_id);
    void _on_srvRefreshed(ST_INT srv_id);
    void _on_read_req(AC_REQ_CTRL *req_ctrl);
    void _on_dir_req(AC_REQ_CTRL *req_ctrl);

    void init_fun();

    // Object tree.
    void InsertLD(int srv_id, QStandardItem *item_srv);
    void InsertLN(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, QStandardItem *item_ld_name, int srv_id);
    void InsertFC(AI_IED_CTRL *ied, AI_OBJ_ID ln_id, QStandardItem *item_ln_name, int srv_id);
    void InsertVA(AI_IED_CTRL *ied, AI_OBJ_ID fc_id, QStandardItem *item_fc_name, int srv_id);
    void InsertDS(AI_IED_CTRL *ied, AI_OBJ_ID dom_id, QStandardItem *item_ld_name, int srv_id);
    // The branch of a server filled again from its current model, its report
    // control blocks registered anew (a device's own model has arrived).
    void RefillServer(int srv_id);
    // Writes the server's model (from SCL or from the device) as an SCL (ICD)
    // file; false with the reason.
    bool ExportServerScl(int srv_id, const QString &path, QString *why);

    // Value table.
    void tb_recreatecolumn();
    void tb_recreatecolumn_data();
    void LoadLD(int srv_id, AI_OBJ_ID obj_id);
    void LoadLN(int srv_id, AI_OBJ_ID obj_id);
    void LoadFC(int srv_id, AI_OBJ_ID obj_id);
    void LoadVA(int srv_id, AI_OBJ_ID obj_id);
    void LoadSubVA(int srv_id, AI_OBJ_ID obj_id);
    void LoadDS(int srv_id, AI_OBJ_ID obj_id);

    // Context menu.
    void SetControlState(const QStringList &controllst);
    void setconnA(bool connected);
    void setconnB(bool connected);

    QStandardItemModel *model = nullptr;
    QStandardItemModel *tbmodel = nullptr;
    QString dbfilepath;
    FtpCLient ftpcli;
    Ui_gui_srvClass ui;
    QMenu *tmenu = nullptr;
    int srv_id_s = 0;
    AI_OBJ_ID obj_id_s = 0;
    QAction *act_read = nullptr;
    QAction *act_write = nullptr;
    QAction *act_directory = nullptr;
    QAction *act_report = nullptr;
    QAction *act_log = nullptr;
    QAction *act_control = nullptr;
    QAction *act_fixedValue = nullptr;
    QAction *act_connA = nullptr;
    QAction *act_connB = nullptr;
    QAction *act_exportScl = nullptr;
    int tb_srv_id = 0;  // server of the objects in the value table
    // The live trend window (made on first use; the main window owns it).
    dialog_livetrend *livetrend();

signals:
    void out_put_signal(QString text);
    void s_connectedToChnl(ST_INT srv_id, AC_CHANNEL chnl);
    void s_disconnectedToChnl(ST_INT srv_id, AC_CHANNEL chnl);
    void s_ftp_filetran(QString sor, QString dev, int trantype);
    void s_srvRefreshed(ST_INT srv_id);

public slots:
    void print_log(QString text);

private slots:
    void on_action_clear_triggered();
    void on_action_exit_triggered();
    void on_action_sg_triggered();
    void on_action_ctrl_triggered();
    void on_action_refresh_triggered();
    void on_action_filetran_triggered();
    void on_action_paramtodb_triggered();
    void on_action_clearparam_triggered();
    void t_connectedToChnl(ST_INT srv_id, AC_CHANNEL chnl);
    void t_disconnectedToChnl(ST_INT srv_id, AC_CHANNEL chnl);
    void ShowContextMenu(const QPoint &pos);
    void treeViewclicked(QModelIndex qmindex);
    void act_read_clicked();
    void act_write_clicked();
    void act_directory_clicked();
    void act_report_clicked();
    void act_log_clicked();
    void act_control_clicked();
    void act_fixedValue_clicked();
    void act_connA_clicked();
    void act_connB_clicked();
    void act_exportScl_clicked();
    void t_srvRefreshed(ST_INT srv_id);
    void t_ftp_filetran(QString sor, QString dev, int trantype);
    void on_action_wave_triggered();
    void on_action_recordings_triggered();
    void on_action_trend_triggered();
    void on_action_livetrend_triggered();
    void ShowTableMenu(const QPoint &pos);

private:
    void createActions();
    void createMenus();
    void shutdown();

    QHash<int, AI_IED_CTRL *> m_tree_ied;  // the model each server's branch shows (GUI thread)
    dialog_livetrend *m_livetrend = nullptr;
    dialog_recordings *m_recordings = nullptr;
    bool m_library_ready = false;  // library loaded and its environment initialised
    bool m_shut_down = false;
};

// ---- process-wide objects ------------------------------------------------
extern gui_srv *w;
extern DataDeal *datedeal;
extern std::atomic<bool> doIt;  // receive checker runs while set
extern QStringList rptlst;      // report control blocks of this client
extern QMutex rptlst_mutex;     // guards rptlst (GUI, checker, completions)
extern dialog_rcb *dlg_rcb;
extern dialog_filetran *dlg_filetran;
// The control, log and setting group dialogs the context menu opened last
// (GUI thread only; null until then and after they are closed).
extern dialog_ctrl *dlg_ctrl;
extern dialog_lcb *dlg_lcb;
extern dialog_sg *dlg_sg;
extern ST_THREAD_HANDLE gs_client_thread_handle;
extern ST_THREAD_ID gs_client_thread_id;
extern int log_num;
extern char log_str[2049];

// Receive checker and report enabling.
void *check_receive(void *arg);
void rpt_enable(int rptindex, int srv_id, int objid, int flag);
void getRcbValues(int srv_id, int objid, int flag);
// Asks the device to enable every registered block of the server now.
void enableBlocksOf(int srv_id);
// Drops the registered blocks of a server (its model is replaced).
void forgetBlocksOf(int srv_id);
void GetRcbEnaValue(int srv_id, int id);
void _demo_parse_enaRpt_done(AC_REQ_CTRL *ac_reqCtrl);
void getbrcb_req_done(AC_REQ_CTRL *req_ctrl);
void geturcb_req_done(AC_REQ_CTRL *req_ctrl);
// Passes of the receive checker per cycle step; 20 ms by default. Tests shorten it.
extern int check_receive_pass_us;

// Stack callback adapters and their registration.
void gui_on_connectedToChnl(ST_INT srv_id, AC_CHANNEL chnl);
void gui_on_disconnectedToChnl(ST_INT srv_id, AC_CHANNEL chnl);
void gui_on_srvRefreshed(ST_INT srv_id);
void gui_on_recv_report(ST_UCHAR *RptID, ST_INT obj_num, AI_OBJ_VAL *obj_val, ST_BOOLEAN *val_chgs,
                        AC_REPORT_REASON *reasons, ST_INT srv_id);
void set_callback_function();
