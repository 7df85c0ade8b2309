// The control dialog: the form of the control service of one controllable
// object (select, select with value, operate, cancel). Nothing in the program
// opens it yet; its buttons do nothing and only "退出" is enabled.
#pragma once

#include <QDialog>

#include "ui_dialog_ctrl.h"
#include "zorvan/zorvan_api.h"

class dialog_ctrl : public QDialog {
    Q_OBJECT

public:
    explicit dialog_ctrl(QWidget *parent = nullptr);
    ~dialog_ctrl() override;

    // The server and controlled object to work on; no widget changes.
    void SetIds(int srv_id, int obj_id);

    AI_VAL_TYPE ctlval_type = VAL_TYPE_UNKNOWN;  // type of the control value
    int ctlModel_val = 0;                        // the object's control model
    Ui_dialog_ctrl widget;
    int srv_id = -1;
    AI_OBJ_ID obj_id = -1;

private slots:
    void on_pB_sel_clicked();
    void on_pB_selv_clicked();
    void on_pB_op_clicked();
    void on_pB_revoke_clicked();
    void on_pB_quit_clicked();
};
