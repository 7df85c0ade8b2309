#include "dialog_ctrl.h"

dialog_ctrl::dialog_ctrl(QWidget *parent) : QDialog(parent) { widget.setupUi(this); }

dialog_ctrl::~dialog_ctrl() = default;

void dialog_ctrl::SetIds(int srv, int obj) {
    srv_id = srv;
    obj_id = obj;
}

// The control services are not offered yet: the buttons do nothing, and
// "退出" leaves closing to the window's own close button.
void dialog_ctrl::on_pB_sel_clicked() {}
void dialog_ctrl::on_pB_selv_clicked() {}
void dialog_ctrl::on_pB_op_clicked() {}
void dialog_ctrl::on_pB_revoke_clicked() {}
void dialog_ctrl::on_pB_quit_clicked() {}
