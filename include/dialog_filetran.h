// The file transfer dialog: lists a server's files, fetches, sends and deletes them.
//
// A new dialog is made each time the menu action fires; dlg_filetran points to
// the newest. The completion functions below run on a stack thread: they copy
// what they need and let the GUI thread work on the dialog dlg_filetran points
// to when the work arrives there (the end of a fetch or send goes to the
// dialog that started it).
//
// Fetches and sends show their progress below the table. The stack tells
// nothing while a transfer runs, so the dialog watches the files: a fetch by
// the size of the ".part" file the stack writes against the size the listing
// gave, a send by the position in the local file the stack has read for the
// device (the process's open files, /proc/self/fdinfo) against its size.
// Where neither can be seen the bar only shows that the transfer runs.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QStandardItemModel>
#include <QTimer>

#include <vector>

#include "ui_dialog_filetran.h"
#include "zorvan/zorvan_api.h"

class dialog_filetran : public QDialog {
    Q_OBJECT

public:
    explicit dialog_filetran(QWidget *parent = nullptr);
    ~dialog_filetran() override;

    // Fills the table from a directory result (GUI thread).
    void OnGetFileListParse(AC_GETFAV_REQ_CTRL *result);
    // A fetch (`fetch`) or send of the request names `src` and `dest` ended
    // (GUI thread): its progress ends, at the end when `ok`. False when this
    // dialog did not start it.
    bool transferEnded(bool fetch, const QByteArray &src, const QByteArray &dest, bool ok);
    // Lists the directory again, as the get-file-list button does.
    void OnFreshfiledirectory();

    // File names are handed to the stack in buffers of this many bytes, NUL included.
    static constexpr int NAME_BUF = AC_FILE_NAME_LEN;
    // Item role of column 0 holding the name's bytes exactly as the server listed them.
    static constexpr int ROLE_LISTED_NAME = Qt::UserRole + 1;
    // The local name of a fetched file, as UTF-8: the part after the last "/"
    // (all of it without one), decoded; empty when that is no safe file name
    // (devfile::localName says why).
    static QByteArray LocalFileName(const QByteArray &listed);

    // Every message box of the dialog goes through box(): a warning box with
    // no parent and one OK button. While box_hook is set the box is handed to
    // it instead of being shown (headless tests observe the boxes this way).
    static void (*box_hook)(const QString &title, const QString &text);
    static void box(const QString &title, const QString &text);

    QStandardItemModel *tbmodel = nullptr;  // the file table; lives as long as the dialog
    Ui_dialog_filetran widget;

private slots:
    void on_pB_filedel_clicked();
    void on_pB_fileupload_clicked();
    void on_pB_getfilelist_clicked();
    void on_pB_filebrowser_clicked();
    void on_pB_filedown_clicked();

private:
    // One fetch or send under way.
    struct Transfer {
        bool fetch = true;
        QByteArray src, dest;  // as handed to the stack
        // Fetch: the ".part" file the stack writes. Send: the local file's
        // canonical path, as /proc/self/fd names it.
        QByteArray watched;
        qint64 size = -1;  // bytes expected; -1 unknown
        qint64 done = 0;   // bytes seen moved
        QElapsedTimer clock;
    };
    void startTransfer(Transfer transfer);
    // Looks at the watched files and shows the oldest transfer.
    void onProgressTick();
    void showProgress();

    std::vector<Transfer> m_transfers;  // under way, oldest first
    QTimer m_progressTimer;             // runs while m_transfers has any

    // The listed name of the current row; false after the box when there is none.
    bool selectedName(const QString &title, const char *no_row, const QString &empty_title, const char *empty,
                      QByteArray *name);
};

// Completion functions handed to the stack (run on a stack thread).
void _getf_handle(AC_REQ_CTRL *req_ctrl);
void _get_handle(AC_REQ_CTRL *req_ctrl);
void _set_handle(AC_REQ_CTRL *req_ctrl);
void _delete_handle(AC_REQ_CTRL *req_ctrl);
