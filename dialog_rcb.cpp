#include "dialog_rcb.h"

dialog_rcb::dialog_rcb(QWidget *parent) : QDialog(parent) {}

dialog_rcb::~dialog_rcb() = default;

void dialog_rcb::SetIds(int srv, int obj) {
    srv_id = srv;
    obj_id = obj;
}
