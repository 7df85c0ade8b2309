// The live trend: numeric attributes chosen in the main window's value
// table, read from the model once a second through the stack's operations
// (ai_read_obj_primVals), one line each over a sliding time window.
#pragma once

#include <QDialog>
#include <QTimer>

#include <vector>

#include "ui_dialog_livetrend.h"
#include "zorvan/zorvan_api.h"

class QChart;
class QLineSeries;
class QDateTimeAxis;
class QValueAxis;

// The number an attribute holds when it is a single integer or floating
// point value; false for anything else (text, bit strings, structures).
bool zv_numeric_value(const AI_OBJ_VAL &val, double *out);

class dialog_livetrend : public QDialog {
    Q_OBJECT

public:
    explicit dialog_livetrend(QWidget *parent = nullptr);
    ~dialog_livetrend() override;

    // Adds an attribute of server srv_id; false (and why) when the model
    // does not give a number for it. An attribute already shown is kept once.
    bool addAttribute(int srv_id, AI_OBJ_ID obj_id, QString *why = nullptr);
    int attributes() const { return int(m_items.size()); }
    // Reads every attribute once and adds a point (the timer's work).
    void sample();

    Ui_dialog_livetrend ui;
    static constexpr int kMaxAttributes = 16;

private:
    struct Item {
        int srv_id;
        AI_OBJ_ID obj_id;
        QString ref;
        QLineSeries *series;
    };
    void removeSelected();
    void clearAll();
    qint64 spanMs() const;

    std::vector<Item> m_items;
    QChart *m_chart = nullptr;
    QDateTimeAxis *m_x = nullptr;
    QValueAxis *m_y = nullptr;
    QTimer m_timer;
};
