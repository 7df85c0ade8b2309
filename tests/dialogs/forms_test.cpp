// The five dialog forms: a title, captions on every button and group box
// that fit; the control, log and setting group forms do nothing before they
// are given an object.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <functional>
#include <map>
#include <memory>

#include "dialog_ctrl.h"
#include "zvt/app_env.h"
#include "zvt/captions.h"
#include "zvt/wiring.h"
#include "dialog_filetran.h"
#include "dialog_lcb.h"
#include "dialog_rcb.h"
#include "dialog_sg.h"

namespace {

using namespace zvt::captions;

struct Form {
    const char *name;
    std::function<QDialog *()> make;
};

void PrintTo(const Form &form, std::ostream *os) { *os << form.name; }

class FormCaptions : public ::testing::TestWithParam<Form> {};

// The form has a title, every button and group box a user sees has a
// caption, and every caption fits the room its widget gives it. In the
// source language; tests/i18n checks the translated captions the same way.
TEST_P(FormCaptions, EveryButtonAndGroupHasACaptionThatFits) {
    std::unique_ptr<QDialog> dlg(GetParam().make());
    dlg->show();
    dlgtest::settle();
    EXPECT_FALSE(dlg->windowTitle().isEmpty());
    // The form's own widgets, not the parts Qt builds inside its views.
    const auto ours = [&dlg](QWidget *w) {
        return w->isVisibleTo(dlg.get()) && !w->objectName().isEmpty() && !w->objectName().startsWith("qt_");
    };
    QStringList missing;
    for (auto *b : dlg->findChildren<QAbstractButton *>())
        if (ours(b) && b->text().isEmpty() && b->icon().isNull()) missing << b->objectName();
    for (auto *g : dlg->findChildren<QGroupBox *>())
        if (ours(g) && g->title().isEmpty()) missing << g->objectName();
    EXPECT_TRUE(missing.isEmpty()) << "without a caption:\n" << listed(missing);
    const QStringList clipped = clippedCaptions(captionsOf(dlg.get()));
    EXPECT_TRUE(clipped.isEmpty()) << listed(clipped);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, FormCaptions,
                         ::testing::Values(Form{"Control", [] { return new dialog_ctrl(); }},
                                           Form{"LogControlBlock", [] { return new dialog_lcb(); }},
                                           Form{"SettingGroup", [] { return new dialog_sg(); }},
                                           Form{"ReportControlBlock", [] { return new dialog_rcb(); }},
                                           Form{"FileTransfer", [] { return new dialog_filetran(); }}),
                         [](const ::testing::TestParamInfo<Form> &info) { return std::string(info.param.name); });

// Everything a user could see change in a form.
QStringList snapshot(QDialog *dlg) {
    QStringList s;
    s << QString::number(dlg->isVisible());
    for (auto *e : dlg->findChildren<QLineEdit *>()) s << e->objectName() + "=" + e->text();
    for (auto *c : dlg->findChildren<QComboBox *>())
        s << c->objectName() + "#" + QString::number(c->count()) + "@" + QString::number(c->currentIndex());
    for (auto *l : dlg->findChildren<QLabel *>()) s << l->objectName() + "=" + l->text();
    for (auto *b : dlg->findChildren<QAbstractButton *>())
        s << b->objectName() + (b->isEnabled() ? "+" : "-") + b->text();
    for (auto *t : dlg->findChildren<QTableView *>()) s << t->objectName() + (t->model() ? "model" : "none");
    return s;
}

struct Unused {
    const char *name;
    std::function<QDialog *()> make;
};

class FormWithoutObject : public ::testing::TestWithParam<Unused> {};

// Before the menu gives them an object, the three service forms send
// nothing and change nothing whatever is clicked (quit aside), and their
// tables hold no rows.
TEST_P(FormWithoutObject, ClickingEveryButtonChangesNothingAndTablesStayEmpty) {
    std::unique_ptr<QDialog> dlg(GetParam().make());
    dlg->show();
    dlgtest::settle();
    for (auto *t : dlg->findChildren<QTableView *>()) {
        if (t->model() != nullptr) {
            EXPECT_EQ(t->model()->rowCount(), 0) << t->objectName().toStdString();
        }
    }
    const QStringList before = snapshot(dlg.get());
    for (auto *b : dlg->findChildren<QAbstractButton *>())
        if (b->objectName() != QLatin1String("pB_quit")) b->click();
    dlgtest::settle();
    EXPECT_EQ(snapshot(dlg.get()), before);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, FormWithoutObject,
                         ::testing::Values(Unused{"Control", [] { return new dialog_ctrl(); }},
                                           Unused{"LogControlBlock", [] { return new dialog_lcb(); }},
                                           Unused{"SettingGroup", [] { return new dialog_sg(); }}),
                         [](const ::testing::TestParamInfo<Unused> &info) { return std::string(info.param.name); });

class FormWiring : public ::testing::TestWithParam<Unused> {};

// Each button runs its handler once per click: connected by type, not
// also by name.
TEST_P(FormWiring, EveryButtonHandlerIsConnectedOnceByType) {
    std::unique_ptr<QDialog> dlg(GetParam().make());
    EXPECT_EQ(zvt::miswiredHandlers(dlg.get()), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Dialogs, FormWiring,
                         ::testing::Values(Unused{"Control", [] { return new dialog_ctrl(); }},
                                           Unused{"LogControlBlock", [] { return new dialog_lcb(); }},
                                           Unused{"SettingGroup", [] { return new dialog_sg(); }},
                                           Unused{"ReportControlBlock", [] { return new dialog_rcb(); }},
                                           Unused{"FileTransfer", [] { return new dialog_filetran(); }}),
                         [](const ::testing::TestParamInfo<Unused> &info) { return std::string(info.param.name); });

TEST(ControlForm, OnlyQuitIsEnabledAndSetIdsChangesNoWidget) {
    dialog_ctrl dlg;
    std::map<QString, bool> enabled;
    for (auto *b : dlg.findChildren<QAbstractButton *>()) enabled[b->objectName()] = b->isEnabled();
    EXPECT_EQ(enabled,
              (std::map<QString, bool>{
                  {"pB_sel", false}, {"pB_selv", false}, {"pB_op", false}, {"pB_revoke", false}, {"pB_quit", true}}));
    const QStringList before = snapshot(&dlg);
    dlg.SetIds(1, 42);
    EXPECT_EQ(dlg.srv_id, 1);
    EXPECT_EQ(dlg.obj_id, 42);
    EXPECT_EQ(snapshot(&dlg), before);
}

TEST(ControlForm, QuitClosesTheDialog) {
    dialog_ctrl dlg;
    dlg.show();
    dlgtest::settle();
    ASSERT_TRUE(dlg.isVisible());
    dlg.widget.pB_quit->click();
    dlgtest::settle();
    EXPECT_FALSE(dlg.isVisible());
}

}  // namespace
