// Every form and the main window in English: no caption left in Chinese, and
// every caption fits the room its widget gives it; the message pane keeps
// its lines as in Chinese.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTableView>
#include <QTextDocument>
#include <QToolBar>
#include <QTreeView>
#include <functional>
#include <memory>

#include "dialog_ctrl.h"
#include "zvt/app_env.h"
#include "dialog_filetran.h"
#include "dialog_lcb.h"
#include "dialog_livetrend.h"
#include "dialog_rcb.h"
#include "dialog_recordings.h"
#include "dialog_sg.h"
#include "dialog_trend.h"
#include "dialog_wave.h"
#include "ied_objects.h"
#include "uilanguage.h"

namespace {

struct Caption {
    QString where;  // object name, or "header 2 of tableView"
    QString text;
    int need = 0;   // pixels the text takes (wide, or high when it wraps)
    int room = -1;  // pixels the widget gives it; -1: sized to the text
};

bool chinese(const QString &text) {
    for (const QChar c : text)
        if (c.script() == QChar::Script_Han || (c.unicode() >= 0x3000 && c.unicode() <= 0x303f) ||
            (c.unicode() >= 0xff00 && c.unicode() <= 0xffef))
            return true;
    return false;
}

QString plain(const QString &text) {
    if (!Qt::mightBeRichText(text)) return text;
    QTextDocument doc;
    doc.setHtml(text);
    return doc.toPlainText();
}

int advance(const QWidget *w, const QString &text) { return w->fontMetrics().horizontalAdvance(plain(text)); }

void addActions(const QString &where, const QList<QAction *> &actions, QList<Caption> *out) {
    for (QAction *a : actions) {
        if (a->isSeparator()) continue;
        out->append({where + " action", a->text()});
        if (a->menu() != nullptr) addActions(a->text(), a->menu()->actions(), out);
    }
}

// The captions of a window and of every widget in it that the user sees.
QList<Caption> captionsOf(QWidget *top) {
    QList<Caption> out;
    out.append({QStringLiteral("window title"), top->windowTitle()});
    for (QWidget *w : top->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(top)) continue;
        const QString name = w->objectName();
        if (auto *b = qobject_cast<QPushButton *>(w)) {
            out.append({name, b->text(), advance(b, b->text()), b->width() - 8});  // the frame and its padding
        } else if (qobject_cast<QRadioButton *>(w) || qobject_cast<QCheckBox *>(w)) {
            auto *b = static_cast<QAbstractButton *>(w);
            const int indicator = b->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, b) +
                                  b->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, b);
            out.append({name, b->text(), advance(b, b->text()), b->width() - indicator});
        } else if (auto *b = qobject_cast<QAbstractButton *>(w)) {
            out.append({name, b->text()});  // tool buttons size themselves
        } else if (auto *l = qobject_cast<QLabel *>(w)) {
            // A word-wrapped label must hold its lines in its height.
            if (l->wordWrap())
                out.append({name, l->text(), l->heightForWidth(l->contentsRect().width()), l->contentsRect().height()});
            else
                out.append({name, l->text(), advance(l, l->text()), l->contentsRect().width()});
        } else if (auto *g = qobject_cast<QGroupBox *>(w)) {
            out.append({name, g->title(), advance(g, g->title()), g->width() - 16});
        } else if (auto *c = qobject_cast<QComboBox *>(w)) {
            if (c->isEditable()) continue;
            QStyleOptionComboBox opt;
            opt.initFrom(c);
            const int room = c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c).width();
            for (int i = 0; i < c->count(); ++i)
                out.append({name + " item", c->itemText(i), advance(c, c->itemText(i)), room});
        } else if (auto *t = qobject_cast<QTabWidget *>(w)) {
            for (int i = 0; i < t->count(); ++i) out.append({name + " tab", t->tabText(i)});
        } else if (auto *h = qobject_cast<QHeaderView *>(w)) {
            const auto *view = qobject_cast<QAbstractItemView *>(h->parentWidget());
            if (view == nullptr || h->model() == nullptr || h->orientation() != Qt::Horizontal) continue;
            const int margin = 2 * h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
            for (int i = 0; i < h->count(); ++i) {
                if (h->isSectionHidden(i)) continue;
                const QString text = h->model()->headerData(i, Qt::Horizontal).toString();
                out.append({QStringLiteral("header %1 of %2").arg(i).arg(view->objectName()), text,
                            h->fontMetrics().horizontalAdvance(text) + margin, h->sectionSize(i)});
            }
        } else if (auto *m = qobject_cast<QMenuBar *>(w)) {
            addActions(name, m->actions(), &out);
        } else if (auto *bar = qobject_cast<QToolBar *>(w)) {
            out.append({name + " title", bar->windowTitle()});
            for (QAction *a : bar->actions()) {
                if (a->isSeparator()) continue;
                // An action that does not fit the window goes into the tool bar's extension menu.
                QWidget *button = bar->widgetForAction(a);
                out.append({name + " action", a->text(), 0, button != nullptr && button->isVisible() ? -1 : -2});
            }
        }
    }
    return out;
}

// For the failure messages: one caption a line.
std::string listed(const QStringList &lines) { return lines.join(QLatin1Char('\n')).toStdString(); }

QStringList chineseCaptions(const QList<Caption> &captions) {
    QStringList left;
    for (const Caption &c : captions)
        if (chinese(c.text)) left << c.where + ": " + c.text;
    return left;
}

QStringList clippedCaptions(const QList<Caption> &captions) {
    QStringList clipped;
    for (const Caption &c : captions) {
        if (c.room == -2) clipped << c.where + " \"" + c.text + "\" hidden: the tool bar is too narrow";
        else if (c.room >= 0 && !c.text.isEmpty() && c.need > c.room)
            clipped << QStringLiteral("%1 \"%2\" needs %3 has %4").arg(c.where, c.text).arg(c.need).arg(c.room);
    }
    return clipped;
}

struct Form {
    const char *name;
    // Makes the form (the sample station's model is loaded, the main window
    // exists) and puts it into the state worth looking at.
    std::function<QWidget *()> make;
};

void PrintTo(const Form &form, std::ostream *os) { *os << form.name; }

class EnglishForm : public ::testing::TestWithParam<Form> {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(uilang::apply(QStringLiteral("en"))) << "no English catalogue compiled in"; }
    static void TearDownTestSuite() { uilang::apply(QStringLiteral("zh")); }
    void SetUp() override {
        ASSERT_TRUE(uilang::apply(QStringLiteral("en")));
        pane = std::make_unique<dlgtest::MainWindowPane>();
        ASSERT_TRUE(dlgtest::loadSampleStation());
    }
    void TearDown() override {
        form.reset();
        dlgtest::settle();
        pane.reset();
    }
    std::unique_ptr<dlgtest::MainWindowPane> pane;
    std::unique_ptr<QWidget> form;
};

TEST_P(EnglishForm, ShowsNoChineseCaptionAndEveryCaptionFits) {
    form.reset(GetParam().make());
    ASSERT_NE(form, nullptr);
    form->show();
    dlgtest::settle();
    const QList<Caption> captions = captionsOf(form.get());
    EXPECT_TRUE(chineseCaptions(captions).isEmpty()) << listed(chineseCaptions(captions));
    EXPECT_TRUE(clippedCaptions(captions).isEmpty()) << listed(clippedCaptions(captions));
}

AI_OBJ_ID idOf(int srv, const char *ref) { return iedobj::id(iedobj::model(srv), QByteArray(ref)); }

INSTANTIATE_TEST_SUITE_P(
    Forms, EnglishForm,
    ::testing::Values(
        // The control form on BAYIED's SBO object with enhanced security:
        // its longest control model name and the select with value button.
        Form{"Control",
             [] {
                 auto *d = new dialog_ctrl();
                 d->SetIds(1, idOf(1, "BAYIEDCTRL/CSWI1$ST$Pos"));
                 d->InitCtrlInfo();
                 return d;
             }},
        Form{"LogControlBlock", [] { return new dialog_lcb(); }},
        Form{"SettingGroup", [] { return new dialog_sg(); }},
        Form{"ReportControlBlock",
             [] {
                 auto *d = new dialog_rcb();
                 d->SetIds(0, idOf(0, "CMIEDMON/LLN0$BR"));
                 return d;
             }},
        Form{"FileTransfer", [] { return new dialog_filetran(); }},
        Form{"ArchivedTrend", [] { return new dialog_trend(); }},
        Form{"LiveTrend", [] { return new dialog_livetrend(); }},
        // Without a database: its status line says so.
        Form{"Recordings", [] { return new dialog_recordings(); }},
        Form{"RecordingWindow", [] { return new dialog_wave(); }}),
    [](const ::testing::TestParamInfo<Form> &info) { return std::string(info.param.name); });

// The main window at its form size: menus, tool bars, the object tree's
// context menu (both network actions in their longer, connected form) and
// the value table's headers in English; every tool bar action on screen.
// The message pane's start-up lines are the same bytes as in Chinese.
TEST(EnglishMainWindow, ShowsEnglishCaptionsThatFitAndKeepsThePaneLines) {
    const auto paneText = [] { return w->ui.textEdit->toPlainText(); };
    ASSERT_TRUE(uilang::apply(QStringLiteral("zh")));
    QString chinese_pane;
    {
        dlgtest::MainWindowPane zh;
        chinese_pane = paneText();
    }
    ASSERT_TRUE(uilang::apply(QStringLiteral("en")));
    dlgtest::MainWindowPane en;
    gui_srv *win = w;
    win->show();
    win->tb_recreatecolumn_data();
    win->setconnA(true);
    win->setconnB(true);
    dlgtest::settle();
    QList<Caption> captions = captionsOf(win);
    addActions(QStringLiteral("context menu"), win->tmenu->actions(), &captions);
    EXPECT_TRUE(chineseCaptions(captions).isEmpty()) << listed(chineseCaptions(captions));
    EXPECT_TRUE(clippedCaptions(captions).isEmpty()) << listed(clippedCaptions(captions));
    EXPECT_TRUE(chinese(chinese_pane)) << chinese_pane.toStdString();
    EXPECT_EQ(paneText(), chinese_pane);
    uilang::apply(QStringLiteral("zh"));
}

struct Outcome {
    const char *name;
    dialog_ctrl::Kind kind;
    bool ok;
    int cause;
    const char *pane;  // the line the message pane gets, in any language
};

void PrintTo(const Outcome &outcome, std::ostream *os) { *os << outcome.name; }

class EnglishControlOutcome : public ::testing::TestWithParam<Outcome> {
protected:
    void SetUp() override { ASSERT_TRUE(uilang::apply(QStringLiteral("en"))); }
    void TearDown() override { uilang::apply(QStringLiteral("zh")); }
};

// The control form says how a command ended in English; the message pane
// gets the line operators and scripts know, unchanged.
TEST_P(EnglishControlOutcome, FormSaysItInEnglishPaneKeepsTheSourceLine) {
    dlgtest::MainWindowPane pane;
    ASSERT_TRUE(dlgtest::loadSampleStation());
    dialog_ctrl dlg;
    dlg.SetIds(1, idOf(1, "BAYIEDCTRL/CSWI1$ST$Pos"));
    dlg.InitCtrlInfo();
    dlg.show();  // laid out: the buttons get their widths
    pane.mark();
    const AI_OBJ_ID co = idOf(1, "BAYIEDCTRL/CSWI1$CO$Pos");
    dlg.ShowOutcome(co, GetParam().kind, GetParam().ok, GetParam().cause);
    dlgtest::settle();
    EXPECT_EQ(pane.lines(), QStringList({QString::fromUtf8(GetParam().pane)}));
    EXPECT_FALSE(chinese(dlg.widget.lb_opt->text() + dlg.widget.lb_opinfo->text()))
        << (dlg.widget.lb_opt->text() + dlg.widget.lb_opinfo->text()).toStdString();
    const QStringList clipped = clippedCaptions(captionsOf(&dlg));
    EXPECT_TRUE(clipped.isEmpty()) << listed(clipped);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EnglishControlOutcome,
    ::testing::Values(
        Outcome{"OperateRefusedWithCause", dialog_ctrl::Kind::Operate, false, 18,
                "BAYIEDCTRL/CSWI1$CO$Pos 操作 失败:对象未选择"},
        Outcome{"OperateRefusedWithoutCause", dialog_ctrl::Kind::Operate, false, -1,
                "BAYIEDCTRL/CSWI1$CO$Pos 操作 失败:装置未给出原因"},
        Outcome{"SelectWithValueEndedByCommunicationLoss", dialog_ctrl::Kind::SelectWithValue, false, 23,
                "BAYIEDCTRL/CSWI1$CO$Pos 带值选择 失败:通信中断中止"},
        Outcome{"CancelRefused", dialog_ctrl::Kind::Cancel, false, -1, "BAYIEDCTRL/CSWI1$CO$Pos 撤销 失败:装置拒绝"},
        Outcome{"OperateSucceeded", dialog_ctrl::Kind::Operate, true, 0, "BAYIEDCTRL/CSWI1$CO$Pos 操作 成功"}),
    [](const ::testing::TestParamInfo<Outcome> &info) { return std::string(info.param.name); });

}  // namespace
