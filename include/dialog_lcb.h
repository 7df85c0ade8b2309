// The log control block dialog: one log control block (IEC 61850-7-2 LCB)
// of a device, its log's status and queries of the log.
//
// The context menu's "日志服务" opens it (dlg_lcb) on a log control block, on
// an LG functional constraint or on a logical device that has one (its first
// block). "GetLCBValues" reads the block into the widgets (LogEna, IntgPd,
// DatSet, LogRef, TrgOps; OptFlds where the block has it, else that pair is
// disabled); each attribute button writes its attribute, "SetLCBValues" the
// whole block (one attribute at a time, only what changed);
// "GetLogStatusValues" reads OldEntrTm, OldEntr, NewEntrTm, NewEntr.
// "QueryLogByTime" queries the entries from StarTm to StopTm (empty: no
// bound), "QueryLogAfter" those after the entry StartEntry (16 hex digits, with
// its time in StarTm); times are UTC as "1984-01-01T00:00:00.000000000". The
// entries fill tableView: EntryID, time of entry, reference (without the
// block's own LD), value (the value proper; every primitive in the tool tip),
// reason; a click on a row puts its entry and time into StartEntry and StarTm.
//
// Completion functions run on a stack thread; they copy what they need and
// hand it to the GUI thread, which applies it to the dialog dlg_lcb points to.
#pragma once

#include <QDialog>
#include <QStandardItemModel>
#include <QStringList>
#include <QVector>

#include "ui_dialog_lcb.h"
#include "zorvan/ai_values.h"
#include "zorvan/zorvan_api.h"

class dialog_lcb : public QDialog {
    Q_OBJECT

public:
    dialog_lcb();
    ~dialog_lcb() override;

    // The server and object to work on (a block, an LG node or a logical
    // device); reads the block from the device.
    void SetIds(int srv_id, int obj_id);

    // Every message box of the dialog goes through box(); while box_hook is
    // set the box is handed to it instead of being shown (headless tests).
    static void (*box_hook)(const QString &title, const QString &text);
    static void box(const QString &title, const QString &text);

    // One logged value of a query answer, as the table shows it.
    struct Entry {
        QString entry_id, time, ref, value, reason;
        QString full_value;  // every primitive of the value
    };
    enum class Step { ReadBlock, ReadStatus, WriteAttr, WriteBlock };
    // GUI thread: the outcome of a request of this dialog's block.
    void Done(AI_OBJ_ID lcb, Step step, bool ok);
    void ShowEntries(AI_OBJ_ID lcb, bool ok, const QVector<Entry> &entries);

    // Columns of tableView.
    enum Column { ColEntry = 0, ColTime, ColRef, ColValue, ColReason };

    Ui_dialog_lcb widget;
    QStandardItemModel *tbmodel = nullptr;  // the query's entries; lives as long as the dialog
    int srv_id = -1;
    AI_OBJ_ID obj_id = -1;
    AI_OBJ_ID lcb_id = -1;

    // Completion functions handed to the stack (run on a stack thread).
    static void read_done(AC_REQ_CTRL *req_ctrl);
    static void status_done(AC_REQ_CTRL *req_ctrl);
    static void attr_done(AC_REQ_CTRL *req_ctrl);
    static void block_done(AC_REQ_CTRL *req_ctrl);
    static void query_done(AC_REQ_CTRL *req_ctrl);

private slots:
    void on_pushButton_clicked();     // LogEna
    void on_pushButton_2_clicked();   // IntgPd
    void on_pushButton_3_clicked();   // DataSetRef
    void on_pushButton_4_clicked();   // TrgOpts
    void on_pushButton_5_clicked();   // OptFlds
    void on_pushButton_6_clicked();   // LogRef
    void on_pushButton_7_clicked();   // GetLCBValues
    void on_pushButton_8_clicked();   // SetLCBValues
    void on_pushButton_9_clicked();   // GetLogStatusValues
    void on_pushButton_10_clicked();  // QueryLogByTime
    void on_pushButton_11_clicked();  // QueryLogAfter
    void entryClicked(const QModelIndex &index);

private:
    AI_OBJ_ID attrId(const char *name) const;
    QString attrText(const char *name) const;
    void showBlock();
    void showStatus();
    void writeAttr(const char *name, const QString &text);
    void query(bool after);
    bool entryTime(const QString &text, EntryTime_TDEF *out) const;
};
