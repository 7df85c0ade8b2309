// The report control block dialog: lists the buffered or unbuffered report
// control blocks of a node, reads and writes their attributes, enables reporting.
//
// One instance lives for the whole run (dlg_rcb). Every exchange with the
// device is an asynchronous stack request; the completion functions below run
// on a stack thread, write only to the message pane and hand read results to
// the GUI thread through the queued s_ShowBRcbValues.
#pragma once

#include <QDialog>
#include <QStandardItemModel>

#include "ui_dialog_rcb.h"
#include "zorvan/zorvan_api.h"

class QComboBox;

class dialog_rcb : public QDialog {
    Q_OBJECT

public:
    explicit dialog_rcb(QWidget *parent = nullptr);
    ~dialog_rcb() override;

    // The server and object (an RP or BR functional constraint) to work on.
    void SetIds(int srv_id, int obj_id);

    // Rebuilds the block list from the children of the dialog's object.
    void InitBRCBShowInfo(bool buffered);
    // Starts the read of one block; its values show when the device answered.
    void getRcbValues(const QByteArray &rcbref);
    // Callable from any thread: passes the heap cell (owned from now on by
    // t_ShowBRcbValues) and the kind of block to the GUI thread.
    void ShowBRcbValues(ST_INT *id, ST_BOOLEAN flag);
    // Shows the elements of a block value in the widgets by element position
    // (flag 1: BRCB, 0: URCB); elements the value does not have are left alone.
    void ShowRcbElements(const AI_OBJ_VAL &value, ST_BOOLEAN flag);
    // Writes the whole selected block from the widgets.
    void OnSetrcbvaluebut();
    // Puts the widgets' texts into the elements of a block value.
    void GetBRcbValuesFormEdit(AI_OBJ_VAL *value, bool buffered);
    // Resolves "<selected block><suffix>" and writes the text to it; 1 = failure.
    int fullObjWriteInfo(const char *suffix, const QByteArray &valtext);
    // Converts the text to the attribute's type and writes it; 1 = failure.
    int OnWriteObjVal(AI_OBJ_ID id, const QByteArray &valtext);
    // Enables or disables reporting of the selected block.
    void OnEnablerpt();
    // The enable request the widgets describe for block `rcb_id`.
    AC_ENAREPORT_INFO EnableRequestFromEdit(AI_OBJ_ID rcb_id);
    // "true"/"TRUE" selects index 1, "false"/"FALSE" index 0, anything else nothing.
    void setcbv(QComboBox *cb, const QString &text);
    // The reference ends in "BR" / in "RP".
    bool _is_fco_fc_brrpt(const char *ref);
    bool _is_fco_fc_ubrrpt(const char *ref);

    // Completion functions handed to the stack (run on a stack thread).
    static void demo_c_setRptAttri_req_done(AC_REQ_CTRL *req_ctrl);
    static void demo_c_getbrcbv_req_done(AC_REQ_CTRL *req_ctrl);
    static void demo_c_geturcbv_req_done(AC_REQ_CTRL *req_ctrl);
    static void demo_c_setbrcbv_req_done(AC_REQ_CTRL *req_ctrl);
    static void demo_c_seturcbv_req_done(AC_REQ_CTRL *req_ctrl);
    static void _demo_parse_enaRpt_done(AC_REQ_CTRL *req_ctrl);

    // Longest attribute reference the dialog builds (its buffer holds 65 bytes).
    static constexpr int ATTR_REF_MAX = 64;

    // Every message box of the dialog goes through box(): a warning box with
    // no parent and one OK button. While box_hook is set the box is handed to
    // it instead of being shown (headless tests observe the boxes this way).
    static void (*box_hook)(const QString &title, const QString &text);
    static void box(const QString &title, const QString &text);

    QStandardItemModel *tbmodel = nullptr;  // the block list; lives as long as the dialog
    Ui_dialog_rcb widget;
    int srv_id = -1;
    AI_OBJ_ID obj_id = -1;

signals:
    void s_ShowBRcbValues(ST_INT *id, ST_BOOLEAN flag);

private slots:
    void on_rB_BR_clicked();
    void on_rB_RP_clicked();
    void on_pB_RptID_clicked();
    void on_pB_DataSetRef_clicked();
    void on_pB_OptFlds_clicked();
    void on_pB_TrgOps_clicked();
    void on_pB_EntryID_clicked();
    void on_pB_EntryTm_clicked();
    void on_pB_RptEna_clicked();
    void on_pB_ConfRev_clicked();
    void on_pB_SqNum_clicked();
    void on_pB_GI_clicked();
    void on_pB_BufTm_clicked();
    void on_pB_IntgPd_clicked();
    void on_pB_PurgeBuf_clicked();
    void on_pB_Resv_clicked();
    void on_pB_GetRcbValues_clicked();
    void on_pB_SetRcbValues_clicked();
    void on_pB_EnableRpt_clicked();
    void t_ShowBRcbValues(ST_INT *id, ST_BOOLEAN flag);

private:
    // Reference of the selected block (Latin-1), or false after the warning box.
    bool selectedBlock(QByteArray *ref);
    // One attribute button: writes the text and shows the outcome box.
    void writeAttribute(const char *suffix, const QString &text, const char *failed, const char *ok);
};
