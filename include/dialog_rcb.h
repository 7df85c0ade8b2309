// The report control block dialog: lists the buffered or unbuffered report
// control blocks of a node, reads and writes their attributes, enables reporting.
#pragma once

#include <QDialog>

class dialog_rcb : public QDialog {
    Q_OBJECT

public:
    explicit dialog_rcb(QWidget *parent = nullptr);
    ~dialog_rcb() override;

    // The server and object (an RP or BR functional constraint) to work on.
    void SetIds(int srv_id, int obj_id);

    int srv_id = 0;
    int obj_id = 0;
};
