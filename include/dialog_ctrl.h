// The control dialog: select, select with value, operate and cancel of one
// controllable data object (IEC 61850-7-2 control model).
//
// The context menu's "控制服务" opens it (dlg_ctrl) on a data object that has
// a CO Oper, under any functional constraint. InitCtrlInfo() takes the
// object's control model from CF$ctlModel (the model's value at once, the
// device's when its read answers), offers the values of the ctlVal type in
// cB_ctrl, opens the delay fields where the Oper has operTm, and enables the
// buttons the model has: "选择" (sbo-with-normal-security: a read of SBO),
// "带值选择" (sbo-with-enhanced-security: SBOw), "操作" (Oper, after a
// confirmation box naming the IED, the object and the value), "撤销" (a write
// of Cancel, where the object has one). lb_opt names the operation and
// lb_opinfo shows its outcome, for a failure with the device's AddCause in
// words ("失败:对象未选择").
//
// Completion functions run on a stack thread; they copy what they need and
// hand it to the GUI thread, which applies it to the dialog dlg_ctrl points
// to when it is still about the same object.
#pragma once

#include <QDialog>

#include "ui_dialog_ctrl.h"
#include "zorvan/ai_values.h"
#include "zorvan/zorvan_api.h"

class dialog_ctrl : public QDialog {
    Q_OBJECT

public:
    explicit dialog_ctrl(QWidget *parent = nullptr);
    ~dialog_ctrl() override;

    // The server and controlled object to work on; no widget changes.
    void SetIds(int srv_id, int obj_id);
    // Sets the widgets up for the object of SetIds and reads its control
    // model from the device.
    void InitCtrlInfo();

    // The confirmation before an Operate: true to go on. While confirm_hook
    // is set the question goes to it instead of a box (headless tests).
    static bool (*confirm_hook)(const QString &title, const QString &text);
    static bool confirm(const QString &title, const QString &text);

    // Completion functions handed to the stack (run on a stack thread).
    static void ctrl_done(AC_REQ_CTRL *req_ctrl);
    static void sbo_done(AC_REQ_CTRL *req_ctrl);
    static void cancel_done(AC_REQ_CTRL *req_ctrl);
    static void model_done(AC_REQ_CTRL *req_ctrl);

    AI_VAL_TYPE ctlval_type = VAL_TYPE_UNKNOWN;  // type of the control value (STRUCT: AnalogueValue)
    int ctlModel_val = 0;                        // the object's control model
    Ui_dialog_ctrl widget;
    int srv_id = -1;
    AI_OBJ_ID obj_id = -1;

    // GUI thread: the outcome of a request on object `co` (kind: the button).
    enum class Kind { Select, SelectWithValue, Operate, Cancel };
    void ShowOutcome(AI_OBJ_ID co, Kind kind, bool ok, int cause);
    // GUI thread: the control model the device holds for object `co`.
    void ShowModel(AI_OBJ_ID co, int model);

private slots:
    void on_pB_sel_clicked();
    void on_pB_selv_clicked();
    void on_pB_op_clicked();
    void on_pB_revoke_clicked();
    void on_pB_quit_clicked();

private:
    // lb_opt names the operation ("操作:"), lb_opinfo its outcome.
    void showState(const QString &op, const QString &outcome);
    void enableButtons();
    bool controlValue(AC_CTRL_VALUE *value, QString *why);
    void control(bool select);
    QString valueText() const;

    AI_OBJ_ID co_id = -1;  // LD/LN$CO$DO
    QByteArray co_ref;
    AI_OBJ_ID status_id = -1;     // ST stVal or MX mxVal, for the value offered first
    AI_OBJ_ID ctl_model_id = -1;  // CF ctlModel
    AI_OBJ_ID sbo_id = -1, sbow_id = -1, cancel_id = -1;
    bool has_oper_tm = false;
    uint8_t ctl_num = 0;       // of the next select/operate pair
    uint8_t sent_ctl_num = 0;  // of the last select or operate sent (a Cancel repeats it)
};
