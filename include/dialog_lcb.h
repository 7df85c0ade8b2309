// The log control block dialog: the form of the log service (log control block
// attributes, log status, log queries). Nothing in the program opens it yet and
// its buttons do nothing.
#pragma once

#include <QDialog>

#include "ui_dialog_lcb.h"

class dialog_lcb : public QDialog {
    Q_OBJECT

public:
    dialog_lcb();
    ~dialog_lcb() override;

    Ui_dialog_lcb widget;
};
