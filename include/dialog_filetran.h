// The file transfer dialog: lists a server's files, fetches, sends and deletes them.
#pragma once

#include <QDialog>

class dialog_filetran : public QDialog {
    Q_OBJECT

public:
    explicit dialog_filetran(QWidget *parent = nullptr);
    ~dialog_filetran() override;
};
