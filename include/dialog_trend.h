// Trends of archived values: rows of one measurement table (data_*_h) for
// one equipment (eqmid) over a time range, one line per chosen column.
// Table and column names come from the database itself and must be plain
// identifiers; the rows are read on a thread of its own (its own pooled
// connection) while the window shows that it is busy.
#pragma once

#include <QDialog>
#include <QDateTime>
#include <QStringList>

#include <vector>

#include "ui_dialog_trend.h"

class QChart;

class dialog_trend : public QDialog {
    Q_OBJECT

public:
    explicit dialog_trend(QWidget *parent = nullptr);
    ~dialog_trend() override;

    // Rows read at most per query (one a minute: about 139 days).
    static constexpr int kMaxRows = 200000;
    // Points drawn per line at most; more rows are reduced to each span's
    // minimum and maximum.
    static constexpr int kMaxPoints = 4000;

    // Reads the measurement tables of the database again.
    void reloadTables();
    // Starts reading the chosen columns; the chart follows when the rows are in.
    void query();
    bool busy() const { return m_busy; }

    Ui_dialog_trend ui;

signals:
    // The rows of a query have been drawn (or the query failed: see label_status).
    void queryFinished(bool ok);

private slots:
    void tableChosen(int index);

private:
    struct Result {
        bool ok = false;
        QString error;
        bool truncated = false;
        std::vector<qint64> times;                 // ms since the epoch
        std::vector<std::vector<double>> columns;  // NaN: NULL
    };
    static Result readRows(QString table, int eqmid, QStringList columns, QDateTime from, QDateTime to);
    void showResult(const QString &table, const QStringList &columns, const Result &r);
    void setStatus(const QString &text);

    QChart *m_chart = nullptr;
    bool m_busy = false;
};
