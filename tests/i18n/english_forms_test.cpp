// Every form and the main window in English: no caption left in Chinese, and
// every caption fits the room its widget gives it; the message pane keeps
// its lines as in Chinese.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <functional>
#include <memory>

#include "dialog_ctrl.h"
#include "zvt/app_env.h"
#include "zvt/captions.h"
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

using namespace zvt::captions;

struct Form {
    const char *name;
    // Makes the form (the sample station's model is loaded, the main window
    // exists) and puts it into the state worth looking at.
    std::function<QWidget *()> make;
};

void PrintTo(const Form &form, std::ostream *os) { *os << form.name; }

class EnglishForm : public ::testing::TestWithParam<Form> {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(uilang::apply(QStringLiteral("en"))) << "no English catalogue compiled in";
    }
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

INSTANTIATE_TEST_SUITE_P(Forms, EnglishForm,
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

INSTANTIATE_TEST_SUITE_P(Rows, EnglishControlOutcome,
                         ::testing::Values(Outcome{"OperateRefusedWithCause", dialog_ctrl::Kind::Operate, false, 18,
                                                   "BAYIEDCTRL/CSWI1$CO$Pos 操作 失败:对象未选择"},
                                           Outcome{"OperateRefusedWithoutCause", dialog_ctrl::Kind::Operate, false, -1,
                                                   "BAYIEDCTRL/CSWI1$CO$Pos 操作 失败:装置未给出原因"},
                                           Outcome{"SelectWithValueEndedByCommunicationLoss",
                                                   dialog_ctrl::Kind::SelectWithValue, false, 23,
                                                   "BAYIEDCTRL/CSWI1$CO$Pos 带值选择 失败:通信中断中止"},
                                           Outcome{"CancelRefused", dialog_ctrl::Kind::Cancel, false, -1,
                                                   "BAYIEDCTRL/CSWI1$CO$Pos 撤销 失败:装置拒绝"},
                                           Outcome{"OperateSucceeded", dialog_ctrl::Kind::Operate, true, 0,
                                                   "BAYIEDCTRL/CSWI1$CO$Pos 操作 成功"}),
                         [](const ::testing::TestParamInfo<Outcome> &info) { return std::string(info.param.name); });

}  // namespace
