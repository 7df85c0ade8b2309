// The recordings the archiving worker collected (rows of comtradrd, newest
// first); a chosen one opens in the recording window from the folder it was
// fetched to (the working directory).
#pragma once

#include <QDialog>

#include "ui_dialog_recordings.h"

class dialog_wave;

class dialog_recordings : public QDialog {
    Q_OBJECT

public:
    explicit dialog_recordings(QWidget *parent = nullptr);
    ~dialog_recordings() override;

    static constexpr int kMaxRows = 2000;  // newest rows listed

    // Reads the rows again.
    void refresh();
    // Opens the selected recording; the window it opened (null on failure,
    // the reason in label_status).
    dialog_wave *openSelected();

    Ui_dialog_recordings ui;
};
