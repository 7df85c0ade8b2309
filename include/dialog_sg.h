// The setting group dialog: the SGCB of a logical device (IEC 61850-7-2
// setting group control block) and its settings.
//
// The context menu's "定值服务" opens it (dlg_sg) on a logical device with an
// SGCB. "读定值控制块" reads the SGCB (NumOfSG, ActSG, EditSG; cB_OPSGNo then
// offers 1..NumOfSG); "切换激活区" writes ActSG, "切换编辑区" writes EditSG
// with the group of cB_OPSGNo; "读定值" reads the settings of that group into
// tV_SG (reference, value, description): the edit group's SE values, which
// can be edited in the table, or the active group's SG values, read only;
// "写定值" writes the SE values changed in the table and confirms them
// (CnfEdit). Outcomes go to the message pane and, for failures and the
// confirmation, to a box.
//
// Completion functions run on a stack thread and hand their outcome to the
// GUI thread, which applies it to the dialog dlg_sg points to.
#pragma once

#include <QDialog>
#include <QStandardItemModel>

#include "ui_dialog_sg.h"
#include "zorvan/zorvan_api.h"

class dialog_sg : public QDialog {
    Q_OBJECT

public:
    dialog_sg();
    ~dialog_sg() override;

    // The server and logical device (or an object in it) to work on, and
    // its SGCB; reads the SGCB from the device.
    void SetIds(int srv_id, int obj_id);

    // Every message box of the dialog goes through box(); while box_hook is
    // set the box is handed to it instead of being shown (headless tests).
    static void (*box_hook)(const QString &title, const QString &text);
    static void box(const QString &title, const QString &text);

    // What a completion tells the GUI thread.
    enum class Step { ReadBlock, ReadSettings, Active, Edit, Write, Confirm };
    void Done(int srv, Step step, bool ok);

    // Columns of tV_SG.
    enum Column { ColRef = 0, ColValue = 1, ColDesc = 2 };

    Ui_dialog_sg widget;
    QStandardItemModel *tbmodel = nullptr;  // tV_SG's rows; lives as long as the dialog
    int srv_id = -1;
    AI_OBJ_ID obj_id = -1;
    AI_OBJ_ID sgcb_id = -1;
    bool editing_shown = false;  // the table holds the edit group's SE values
    bool reading_edit = false;   // the settings read in flight are SE values

private slots:
    void on_pB_ReadSGBlock_clicked();
    void on_pB_CHGACTSGNo_clicked();
    void on_pB_CHGEDITSGNo_clicked();
    void on_pB_ReadSG_clicked();
    void on_pB_WriteSG_clicked();

    // Completion functions handed to the stack (run on a stack thread).
    static void block_done(AC_REQ_CTRL *req_ctrl);
    static void settings_done(AC_REQ_CTRL *req_ctrl);
    static void active_done(AC_REQ_CTRL *req_ctrl);
    static void edit_done(AC_REQ_CTRL *req_ctrl);
    static void write_done(AC_REQ_CTRL *req_ctrl);
    static void confirm_done(AC_REQ_CTRL *req_ctrl);

private:
    int attr(const char *name) const;  // an SGCB attribute as a number (-1: unknown)
    AI_OBJ_ID attrId(const char *name) const;
    void showBlock();
    void readSettings(bool edit);
    void showSettings();
    bool writeAttr(const char *name, const QByteArray &text, Step step);
    QVector<AI_OBJ_ID> settingNodes(bool edit) const;
};
