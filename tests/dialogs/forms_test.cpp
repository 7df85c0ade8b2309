// The five dialog forms: titles, sizes, captions; the control, log and
// setting group forms do nothing before they are given an object.
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
#include "zvt/wiring.h"
#include "dialog_filetran.h"
#include "dialog_lcb.h"
#include "dialog_rcb.h"
#include "dialog_sg.h"

namespace {

using Captions = std::map<QString, QString>;

struct Form {
    const char *name;
    std::function<QDialog *()> make;
    QString title;
    QSize size;
    Captions captions;  // object name -> caption (button or label text, group box title)
};

QString captionOf(QWidget *widget) {
    if (auto *b = qobject_cast<QAbstractButton *>(widget)) return b->text();
    if (auto *l = qobject_cast<QLabel *>(widget)) return l->text();
    if (auto *g = qobject_cast<QGroupBox *>(widget)) return g->title();
    return QStringLiteral("<no caption>");
}

class FormCaptions : public ::testing::TestWithParam<Form> {};

TEST_P(FormCaptions, CarriesTitleSizeAndEveryCaption) {
    std::unique_ptr<QDialog> dlg(GetParam().make());
    EXPECT_EQ(dlg->windowTitle(), GetParam().title);
    EXPECT_EQ(dlg->size(), GetParam().size);
    for (const auto &[name, caption] : GetParam().captions) {
        auto *widget = dlg->findChild<QWidget *>(name);
        ASSERT_NE(widget, nullptr) << name.toStdString();
        EXPECT_EQ(captionOf(widget), caption) << name.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Dialogs, FormCaptions,
                         ::testing::Values(Form{"Control",
                                                [] { return new dialog_ctrl(); },
                                                QStringLiteral("控制"),
                                                {400, 240},
                                                {{"groupBox", "控制属性"},
                                                 {"label", "选择操作值:"},
                                                 {"label_2", "<html>延时时间:"},
                                                 {"label_3", "s"},
                                                 {"label_4", "ms"},
                                                 {"lb_opt", ""},
                                                 {"lb_opinfo", ""},
                                                 {"pB_sel", "选择"},
                                                 {"pB_selv", "带值选择"},
                                                 {"pB_op", "操作"},
                                                 {"pB_revoke", "撤销"},
                                                 {"pB_quit", "退出"}}},
                                           Form{"LogControlBlock",
                                                [] { return new dialog_lcb(); },
                                                QStringLiteral("LCB服务"),
                                                {550, 500},
                                                {{"pushButton", "LogEna"},
                                                 {"pushButton_2", "IntgPd"},
                                                 {"pushButton_3", "DataSetRef"},
                                                 {"pushButton_4", "TrgOpts"},
                                                 {"pushButton_5", "OptFlds"},
                                                 {"pushButton_6", "LogRef"},
                                                 {"pushButton_7", "GetLCBValues"},
                                                 {"pushButton_8", "SetLCBValues"},
                                                 {"pushButton_9", "GetLogStatusValues"},
                                                 {"pushButton_10", "QueryLogByTime"},
                                                 {"pushButton_11", "QueryLogAfter"},
                                                 {"label", "OldEntrTm"},
                                                 {"label_2", "OldEntr"},
                                                 {"label_3", "NewEntr"},
                                                 {"label_4", "NewEntrTm"},
                                                 {"label_5", "时间格式示例:1984-01-01T00:00:00.000000000"},
                                                 {"label_6", "StarTm"},
                                                 {"label_7", "StopTm"},
                                                 {"label_8", "StartEntry"}}},
                                           Form{"SettingGroup",
                                                [] { return new dialog_sg(); },
                                                QStringLiteral("定值服务"),
                                                {620, 380},
                                                {{"groupBox", "定值控制块"},
                                                 {"groupBox_2", "定值操作"},
                                                 {"label", "定值组数目"},
                                                 {"label_2", "激活定值组"},
                                                 {"label_3", "编辑定值组"},
                                                 {"label_4", "操作定值组"},
                                                 {"pB_ReadSGBlock", "读定值控制块"},
                                                 {"pB_CHGACTSGNo", "切换激活区"},
                                                 {"pB_CHGEDITSGNo", "切换编辑区"},
                                                 {"pB_ReadSG", "读定值"},
                                                 {"pB_WriteSG", "写定值"}}},
                                           Form{"ReportControlBlock",
                                                [] { return new dialog_rcb(); },
                                                QStringLiteral("URCB/BRCB服务"),
                                                {600, 470},
                                                {{"groupBox", "控制块选择"},
                                                 {"rB_BR", "BRCB"},
                                                 {"rB_RP", "URCB"},
                                                 {"pB_RptID", "RptID"},
                                                 {"pB_RptEna", "RptEna"},
                                                 {"pB_Resv", "Resv"},
                                                 {"pB_DataSetRef", "DataSetRef"},
                                                 {"pB_ConfRev", "ConfRev"},
                                                 {"pB_BufTm", "BufTm"},
                                                 {"pB_OptFlds", "OptFlds"},
                                                 {"pB_SqNum", "SqNum"},
                                                 {"pB_IntgPd", "IntgPd"},
                                                 {"pB_TrgOps", "TrgOps"},
                                                 {"pB_GI", "GI"},
                                                 {"pB_PurgeBuf", "PurgeBuf"},
                                                 {"pB_EntryID", "EntryID"},
                                                 {"pB_EntryTm", "EntryTm"},
                                                 {"pB_GetRcbValues", "GetRcbValues"},
                                                 {"pB_SetRcbValues", "SetRcbValues"},
                                                 {"pB_EnableRpt", "EnableRpt"}}},
                                           Form{"FileTransfer",
                                                [] { return new dialog_filetran(); },
                                                QStringLiteral("文件传输服务"),
                                                {500, 350},
                                                {{"label", "选择服务器"},
                                                 {"label_2", "输入路径"},
                                                 {"label_3", "下装文件名称:"},
                                                 {"label_4", "文件存放名称:"},
                                                 {"pB_getfilelist", "获得文件列表"},
                                                 {"pB_fileupload", "文件上载"},
                                                 {"pB_filedel", "删除文件"},
                                                 {"pB_filebrowser", "..."},
                                                 {"pB_filedown", "文件下装"}}}),
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
