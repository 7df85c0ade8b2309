// The setting group dialog: the form of the setting group service (control
// block, active and edit group, reading and writing settings). Nothing in the
// program opens it yet and its buttons do nothing.
#pragma once

#include <QDialog>

#include "ui_dialog_sg.h"

class dialog_sg : public QDialog {
    Q_OBJECT

public:
    dialog_sg();
    ~dialog_sg() override;

    Ui_dialog_sg widget;
};
