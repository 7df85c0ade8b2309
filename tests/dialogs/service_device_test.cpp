// The control, setting group and log dialogs against iedsim serving BAYIED,
// opened by the context menu's entries and worked through their widgets:
// each control model with the buttons it enables, the confirmation and the
// outcome with the device's reason; the SGCB switched, edited and confirmed
// as the table shows; the log's block, status and queries.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <set>

#include "device_env.h"
#include "dialog_ctrl.h"
#include "dialog_lcb.h"
#include "dialog_sg.h"

namespace {

using dlgtest::Box;
using dlgtest::boxes;
using dlgtest::waitFor;

struct Confirmations {
    static std::vector<QString> &texts() {
        static std::vector<QString> t;
        return t;
    }
    static bool &answer() {
        static bool a = true;
        return a;
    }
    static bool ask(const QString &, const QString &text) {
        texts().push_back(text);
        return answer();
    }
};

class ServiceDevice : public ::testing::Test {
protected:
    void SetUp() override {
        dialog_ctrl::confirm_hook = Confirmations::ask;
        dialog_lcb::box_hook = dlgtest::recordBox;
        dialog_sg::box_hook = dlgtest::recordBox;
        Confirmations::texts().clear();
        Confirmations::answer() = true;
        boxes().clear();
        device = std::make_unique<dlgtest::Device>(std::vector<std::string>{"--ctl-exec-ms", "20"}, "BAYIED");
        ASSERT_TRUE(device->start()) << device->error.toStdString();
        model = ac_get_srvm_ied_ad(1);
        ASSERT_NE(model, nullptr);
        pane.mark();
    }
    void TearDown() override {
        for (QDialog *d :
             {static_cast<QDialog *>(dlg_ctrl), static_cast<QDialog *>(dlg_lcb), static_cast<QDialog *>(dlg_sg)})
            if (d != nullptr) d->close();
        dlgtest::settle();
        device.reset();
        dialog_ctrl::confirm_hook = nullptr;
        dialog_lcb::box_hook = nullptr;
        dialog_sg::box_hook = nullptr;
    }
    AI_OBJ_ID id(const QString &ref) { return ai_obj_ref_to_id_ad(model, ref.toLatin1().constData()); }
    // Picks an entry of the context menu for `ref`, as a right click then a click would.
    void menu(const QString &ref, QAction *action, const char *keyword) {
        w->srv_id_s = 1;
        w->obj_id_s = id(ref);
        ASSERT_GE(w->obj_id_s, 0) << ref.toStdString();
        w->SetControlState({QString::fromLatin1(keyword)});
        action->trigger();
        dlgtest::settle();
    }
    bool paneHas(const QString &text) {
        for (const QString &l : pane.lines())
            if (l.contains(text)) return true;
        return false;
    }

    dlgtest::MainWindowPane pane;
    std::unique_ptr<dlgtest::Device> device;
    AI_IED_CTRL *model = nullptr;
};

// ---- control -----------------------------------------------------------------------------

class CtrlDialog : public ServiceDevice {
protected:
    dialog_ctrl *open(const QString &ref) {
        menu(ref, w->act_control, "control");
        EXPECT_NE(dlg_ctrl, nullptr);
        return dlg_ctrl;
    }
    static std::set<QString> enabled(dialog_ctrl *d) {
        std::set<QString> on;
        for (QPushButton *b :
             {d->widget.pB_sel, d->widget.pB_selv, d->widget.pB_op, d->widget.pB_revoke, d->widget.pB_quit})
            if (b->isEnabled()) on.insert(b->text());
        return on;
    }
    // Clicks a button and waits for the operation and its outcome ("操作:成功").
    bool outcome(dialog_ctrl *d, QPushButton *button, const QString &expected) {
        button->click();
        return waitFor([&] { return d->widget.lb_opt->text() + d->widget.lb_opinfo->text() == expected; });
    }
    std::string device_value(const char *ref) { return device->ask(std::string("get ") + ref); }
};

struct CtrlRow {
    const char *name;
    const char *item;           // the tree item the menu is opened on
    std::set<QString> buttons;  // enabled once the device's model is known
    const char *model_text;     // lb_opinfo before any request
    const char *value;          // chosen in cB_ctrl (an item's text or a number)
    const char *status;         // what the operation changes
    const char *after;
};
void PrintTo(const CtrlRow &r, std::ostream *os) { *os << r.name; }

class CtrlModels : public CtrlDialog, public ::testing::WithParamInterface<CtrlRow> {};

TEST_P(CtrlModels, ButtonsFollowTheModelAndOperateChangesTheDevice) {
    const CtrlRow &row = GetParam();
    dialog_ctrl *d = open(row.item);
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(waitFor([&] { return enabled(d) == row.buttons; })) << enabled(d).size();
    EXPECT_EQ(d->widget.lb_opt->text(), QStringLiteral("控制模型:"));
    EXPECT_EQ(d->widget.lb_opinfo->text(), QString::fromUtf8(row.model_text));
    const int at = d->widget.cB_ctrl->findText(QString::fromUtf8(row.value));
    if (at >= 0)
        d->widget.cB_ctrl->setCurrentIndex(at);
    else
        d->widget.cB_ctrl->setEditText(QString::fromUtf8(row.value));
    if (d->widget.pB_sel->isEnabled()) {
        ASSERT_TRUE(outcome(d, d->widget.pB_sel, QStringLiteral("选择:成功")))
            << d->widget.lb_opt->text().toStdString();
    }
    if (d->widget.pB_selv->isEnabled()) {
        ASSERT_TRUE(outcome(d, d->widget.pB_selv, QStringLiteral("带值选择:成功")))
            << d->widget.lb_opt->text().toStdString();
    }
    ASSERT_TRUE(outcome(d, d->widget.pB_op, QStringLiteral("操作:成功")))
        << d->widget.lb_opt->text().toStdString() << " " << d->widget.lb_opinfo->text().toStdString();
    ASSERT_EQ(Confirmations::texts().size(), 1u);
    const QString asked = Confirmations::texts()[0];
    EXPECT_TRUE(asked.contains(QLatin1String("BAYIED"))) << asked.toStdString();
    EXPECT_TRUE(asked.contains(QString::fromLatin1(row.item).replace(QRegularExpression("\\$[A-Z]{2}\\$"), "$CO$")))
        << asked.toStdString();
    EXPECT_TRUE(asked.contains(QString::fromUtf8(row.value))) << asked.toStdString();
    EXPECT_TRUE(waitFor([&] { return device_value(row.status) == row.after; })) << device_value(row.status);
}

INSTANTIATE_TEST_SUITE_P(Bay, CtrlModels,
                         ::testing::Values(CtrlRow{"DirectNormalSpc",
                                                   "BAYIEDCTRL/GGIO1$ST$SPCSO1",
                                                   {"操作", "退出"},
                                                   "常规直控",
                                                   "合 (true)",
                                                   "BAYIEDCTRL/GGIO1$ST$SPCSO1$stVal",
                                                   "true"},
                                           CtrlRow{"SboNormalIncWithItsCancel",
                                                   "BAYIEDCTRL/GGIO1$CF$ISCSO1",
                                                   {"选择", "操作", "撤销", "退出"},
                                                   "常规选控",
                                                   "5",
                                                   "BAYIEDCTRL/GGIO1$ST$ISCSO1$stVal",
                                                   "5"},
                                           CtrlRow{"DirectEnhancedApc",
                                                   "BAYIEDCTRL/GGIO1$MX$AnOut1",
                                                   {"操作", "退出"},
                                                   "增强直控",
                                                   "7.25",
                                                   "BAYIEDCTRL/GGIO1$MX$AnOut1$mxVal$f",
                                                   "7.25"},
                                           CtrlRow{"SboEnhancedDpc",
                                                   "BAYIEDCTRL/CSWI1$CO$Pos",
                                                   {"带值选择", "操作", "撤销", "退出"},
                                                   "增强选控",
                                                   "合 (true)",
                                                   "BAYIEDCTRL/CSWI1$ST$Pos$stVal",
                                                   "10"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CtrlDialog, StatusOnlyObjectOffersNothingButQuit) {
    dialog_ctrl *d = open("BAYIEDCTRL/XCBR1$ST$Pos");
    ASSERT_TRUE(waitFor([&] { return d->widget.lb_opinfo->text() == QStringLiteral("仅状态"); }));
    EXPECT_EQ(enabled(d), std::set<QString>{QStringLiteral("退出")});
    EXPECT_FALSE(d->widget.lE_ts->isEnabled());
}

TEST_F(CtrlDialog, RefusalShowsTheDevicesReasonInWords) {
    dialog_ctrl *d = open("BAYIEDCTRL/CSWI1$ST$Pos");
    ASSERT_TRUE(waitFor([&] { return d->widget.pB_selv->isEnabled(); }));
    ASSERT_TRUE(outcome(d, d->widget.pB_op, QStringLiteral("操作:失败:对象未选择")));
    EXPECT_TRUE(paneHas(QStringLiteral("BAYIEDCTRL/CSWI1$CO$Pos 操作 失败:对象未选择")));
    // A negative command termination, with the device's cause.
    ASSERT_EQ(device->ask("ctlnext BAYIEDCTRL/CSWI1$CO$Pos Blocked-by-interlocking"), "");
    ASSERT_TRUE(outcome(d, d->widget.pB_selv, QStringLiteral("带值选择:成功")));
    ASSERT_TRUE(outcome(d, d->widget.pB_op, QStringLiteral("操作:失败:联锁闭锁")));
    EXPECT_EQ(device_value("BAYIEDCTRL/CSWI1$ST$Pos$stVal"), "00");
}

TEST_F(CtrlDialog, DeclinedConfirmationSendsNothing) {
    dialog_ctrl *d = open("BAYIEDCTRL/GGIO1$CO$SPCSO1");
    ASSERT_TRUE(waitFor([&] { return d->widget.pB_op->isEnabled(); }));
    Confirmations::answer() = false;
    d->widget.pB_op->click();
    EXPECT_EQ(d->widget.lb_opt->text() + d->widget.lb_opinfo->text(), QStringLiteral("操作:已取消"));
    dlgtest::idle(200);
    EXPECT_NE(device->ask("ctl BAYIEDCTRL/GGIO1$CO$SPCSO1").find("operated=0 refused=0"), std::string::npos);
}

TEST_F(CtrlDialog, CancelEndsTheSelectionAndADelayedOperation) {
    dialog_ctrl *d = open("BAYIEDCTRL/GGIO1$ST$ISCSO1");
    ASSERT_TRUE(waitFor([&] { return d->widget.pB_sel->isEnabled(); }));
    EXPECT_TRUE(d->widget.lE_ts->isEnabled()) << "the Oper has operTm";
    ASSERT_TRUE(outcome(d, d->widget.pB_sel, QStringLiteral("选择:成功")));
    ASSERT_TRUE(outcome(d, d->widget.pB_revoke, QStringLiteral("撤销:成功")));
    EXPECT_NE(device->ask("ctl BAYIEDCTRL/GGIO1$CO$ISCSO1").find("selected=-1"), std::string::npos);
    // Operated to run in 60 s, then cancelled: it never runs.
    d->widget.cB_ctrl->setEditText(QStringLiteral("9"));
    d->widget.lE_ts->setText(QStringLiteral("60"));
    ASSERT_TRUE(outcome(d, d->widget.pB_sel, QStringLiteral("选择:成功")));
    ASSERT_TRUE(outcome(d, d->widget.pB_op, QStringLiteral("操作:成功")));
    EXPECT_NE(device->ask("ctl BAYIEDCTRL/GGIO1$CO$ISCSO1").find("pending=1"), std::string::npos);
    ASSERT_TRUE(outcome(d, d->widget.pB_revoke, QStringLiteral("撤销:成功")));
    EXPECT_NE(device->ask("ctl BAYIEDCTRL/GGIO1$CO$ISCSO1").find("pending=0"), std::string::npos);
    EXPECT_EQ(device_value("BAYIEDCTRL/GGIO1$ST$ISCSO1$stVal"), "3");
}

// ---- setting groups ----------------------------------------------------------------------

class SgDialog : public ServiceDevice {
protected:
    dialog_sg *open() {
        menu("BAYIEDCTRL", w->act_fixedValue, "fixedValue");
        EXPECT_NE(dlg_sg, nullptr);
        if (dlg_sg != nullptr) {
            EXPECT_TRUE(waitFor([&] { return dlg_sg->widget.lE_SGNum->text() == "4"; }));
        }
        return dlg_sg;
    }
    static QString cell(dialog_sg *d, const QString &ref, int column) {
        for (int r = 0; r < d->tbmodel->rowCount(); ++r)
            if (d->tbmodel->item(r, dialog_sg::ColRef)->text() == ref) return d->tbmodel->item(r, column)->text();
        return QStringLiteral("<no row>");
    }
    static void group(dialog_sg *d, int g) { d->widget.cB_OPSGNo->setCurrentIndex(g - 1); }
};

TEST_F(SgDialog, SwitchEditAndConfirmShowInTheTable) {
    dialog_sg *d = open();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->widget.lE_ACTSGNo->text(), "1");
    EXPECT_EQ(d->widget.lE_EDITSGNo->text(), "0");
    EXPECT_EQ(d->widget.cB_OPSGNo->count(), 4);

    // The active group's settings, read only, with their descriptions.
    group(d, 1);
    d->widget.pB_ReadSG->click();
    ASSERT_TRUE(waitFor([&] { return d->tbmodel->rowCount() == 3; }));
    EXPECT_EQ(cell(d, "BAYIEDCTRL/PTOC1$SG$OpDlTmms$setVal", dialog_sg::ColValue), "300");
    EXPECT_EQ(cell(d, "BAYIEDCTRL/PTOC1$SG$OpDlTmms$setVal", dialog_sg::ColDesc), QStringLiteral("动作延时"));
    EXPECT_EQ(cell(d, "BAYIEDCTRL/PTOC1$SG$StrVal$setMag$f", dialog_sg::ColDesc), QStringLiteral("过流定值"));
    EXPECT_FALSE(d->tbmodel->item(0, dialog_sg::ColValue)->isEditable());

    // Group 3 active: the shown values follow.
    group(d, 3);
    d->widget.pB_CHGACTSGNo->click();
    ASSERT_TRUE(waitFor([&] { return d->widget.lE_ACTSGNo->text() == "3"; }));
    ASSERT_TRUE(waitFor([&] { return cell(d, "BAYIEDCTRL/PTOC1$SG$OpDlTmms$setVal", dialog_sg::ColValue) == "900"; }));

    // Group 2 in edit: its SE values, edited in the table, written and confirmed.
    group(d, 2);
    d->widget.pB_CHGEDITSGNo->click();
    ASSERT_TRUE(waitFor([&] { return d->widget.lE_EDITSGNo->text() == "2"; }));
    ASSERT_TRUE(waitFor([&] { return cell(d, "BAYIEDCTRL/PTOC1$SE$OpDlTmms$setVal", dialog_sg::ColValue) == "600"; }));
    for (int r = 0; r < d->tbmodel->rowCount(); ++r)
        if (d->tbmodel->item(r, dialog_sg::ColRef)->text() == "BAYIEDCTRL/PTOC1$SE$OpDlTmms$setVal") {
            ASSERT_TRUE(d->tbmodel->item(r, dialog_sg::ColValue)->isEditable());
            d->tbmodel->item(r, dialog_sg::ColValue)->setText("650");
        }
    d->widget.pB_WriteSG->click();
    ASSERT_TRUE(waitFor([&] { return !boxes().empty(); }));
    EXPECT_EQ(boxes().back().text, QStringLiteral("定值写入并确认成功"));
    EXPECT_EQ(device->get("BAYIEDCTRL/PTOC1$SE$OpDlTmms$setVal"), "650");
    group(d, 2);
    d->widget.pB_CHGACTSGNo->click();
    ASSERT_TRUE(waitFor([&] { return d->widget.lE_ACTSGNo->text() == "2"; }));
    EXPECT_EQ(device->get("BAYIEDCTRL/PTOC1$SG$OpDlTmms$setVal"), "650");
}

TEST_F(SgDialog, ReadingAGroupNeitherActiveNorInEditAsksForTheEditSwitch) {
    dialog_sg *d = open();
    ASSERT_NE(d, nullptr);
    group(d, 4);
    d->widget.pB_ReadSG->click();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, QStringLiteral("定值组4既不是激活区也不是编辑区,请先切换编辑区"));
    d->widget.pB_WriteSG->click();
    EXPECT_EQ(boxes().back().text, QStringLiteral("请先切换编辑区并读出编辑区定值"));
    EXPECT_EQ(d->tbmodel->rowCount(), 0);
}

TEST_F(SgDialog, DeviceWithoutSgcbGetsNoDialog) {
    menu("BAYIEDMEAS", w->act_fixedValue, "fixedValue");
    EXPECT_EQ(dlg_sg, nullptr);
    EXPECT_TRUE(waitFor([&] { return paneHas(QStringLiteral("BAYIEDMEAS 没有定值控制块")); }));
}

// ---- logs --------------------------------------------------------------------------------

class LcbDialog : public ServiceDevice {
protected:
    dialog_lcb *open(const char *item) {
        menu(item, w->act_log, "log");
        EXPECT_NE(dlg_lcb, nullptr);
        // The block as the device has it.
        EXPECT_TRUE(waitFor([&] { return paneHas(QStringLiteral("读日志控制块成功")); }));
        return dlg_lcb;
    }
    void changes(const std::vector<const char *> &values) {
        for (const char *v : values) {
            const QString before = device->get("BAYIEDCTRL/LLN0$LG$lcbStatus$NewEntr");
            ASSERT_TRUE(device->set("BAYIEDCTRL/XCBR1$ST$Pos$stVal", v));
            ASSERT_NE(device->get("BAYIEDCTRL/LLN0$LG$lcbStatus$NewEntr"), before);
            // Each entry in a millisecond of its own, for the time ranges below.
            const qint64 t = QDateTime::currentMSecsSinceEpoch();
            ASSERT_TRUE(waitFor([&] { return QDateTime::currentMSecsSinceEpoch() > t + 1; }));
        }
    }
    static QString cell(dialog_lcb *d, int row, int column) { return d->tbmodel->item(row, column)->text(); }
    bool query(dialog_lcb *d, QPushButton *button, int rows) {
        const int before = pane.lines().size();
        button->click();
        return waitFor([&] {
                   return pane.lines().size() > before && pane.lines().last().contains(QStringLiteral("查询日志完成"));
               }) &&
               d->tbmodel->rowCount() == rows;
    }
};

TEST_F(LcbDialog, BlockStatusAndQueriesShowWhatTheDeviceLogged) {
    dialog_lcb *d = open("BAYIEDCTRL");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->widget.comboBox->currentText(), "true");
    EXPECT_EQ(d->widget.lineEdit_2->text(), "BAYIEDCTRL/LLN0$dsStatus");
    EXPECT_EQ(d->widget.lineEdit_3->text(), "011001") << "dchg, qchg and gi as the SCL gives them";
    EXPECT_FALSE(d->widget.lineEdit_4->isEnabled()) << "an edition 2 block has no OptFlds";
    changes({"10", "01", "10"});

    d->widget.pushButton_9->click();
    ASSERT_TRUE(
        waitFor([&] { return d->widget.lineEdit_9->text() == device->get("BAYIEDCTRL/LLN0$LG$lcbStatus$NewEntr"); }));
    EXPECT_EQ(d->widget.lineEdit_7->text(), device->get("BAYIEDCTRL/LLN0$LG$lcbStatus$OldEntr"));
    EXPECT_FALSE(d->widget.lineEdit_8->text().isEmpty());

    // Everything.
    ASSERT_TRUE(query(d, d->widget.pushButton_10, 3)) << d->tbmodel->rowCount();
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(cell(d, r, dialog_lcb::ColRef), "XCBR1$ST$Pos");
        EXPECT_EQ(d->tbmodel->item(r, dialog_lcb::ColRef)->toolTip(), "BAYIEDCTRL/XCBR1$ST$Pos");
        EXPECT_EQ(cell(d, r, dialog_lcb::ColReason), "dchg");
    }
    EXPECT_EQ(cell(d, 0, dialog_lcb::ColValue), "stVal=10");
    EXPECT_EQ(cell(d, 1, dialog_lcb::ColValue), "stVal=01");
    EXPECT_TRUE(d->tbmodel->item(0, dialog_lcb::ColValue)->toolTip().contains("q=0000000000000"));
    EXPECT_EQ(cell(d, 2, dialog_lcb::ColEntry), d->widget.lineEdit_9->text());
    const QString second = cell(d, 1, dialog_lcb::ColEntry);

    // After the first entry: a click on it fills StartEntry and StarTm.
    d->widget.tableView->clicked(d->tbmodel->index(0, 0));
    EXPECT_EQ(d->widget.lineEdit_12->text(), cell(d, 0, dialog_lcb::ColEntry));
    ASSERT_TRUE(query(d, d->widget.pushButton_11, 2));
    EXPECT_EQ(cell(d, 0, dialog_lcb::ColEntry), second);

    // By time: the second entry's millisecond alone.
    d->widget.lineEdit_10->setText(cell(d, 0, dialog_lcb::ColTime));
    d->widget.lineEdit_11->setText(cell(d, 0, dialog_lcb::ColTime));
    ASSERT_TRUE(query(d, d->widget.pushButton_10, 1));
    EXPECT_EQ(cell(d, 0, dialog_lcb::ColEntry), second);
    EXPECT_EQ(boxes(), std::vector<Box>());
}

TEST_F(LcbDialog, AttributesAreWrittenAsTheDeviceAllows) {
    dialog_lcb *d = open("BAYIEDCTRL/LLN0$LG$lcbStatus");
    ASSERT_NE(d, nullptr);
    d->widget.lineEdit->setText("5000");
    d->widget.pushButton_2->click();
    ASSERT_TRUE(waitFor([&] { return !boxes().empty(); }));
    EXPECT_EQ(boxes().back().text, QStringLiteral("写入失败")) << "IntgPd of an enabled log";
    d->widget.comboBox->setCurrentIndex(0);
    d->widget.pushButton->click();
    ASSERT_TRUE(waitFor([&] { return boxes().size() == 2; }));
    EXPECT_EQ(boxes().back().text, QStringLiteral("写入成功"));
    EXPECT_EQ(device->get("BAYIEDCTRL/LLN0$LG$lcbStatus$LogEna"), "false");
    // The whole block: what changed, one attribute at a time, LogEna last.
    d->widget.lineEdit->setText("5000");
    d->widget.comboBox->setCurrentIndex(1);
    d->widget.pushButton_8->click();
    ASSERT_TRUE(waitFor([&] { return boxes().size() == 3; }));
    EXPECT_EQ(boxes().back().text, QStringLiteral("设置日志控制块成功"));
    EXPECT_EQ(device->get("BAYIEDCTRL/LLN0$LG$lcbStatus$IntgPd"), "5000");
    EXPECT_EQ(device->get("BAYIEDCTRL/LLN0$LG$lcbStatus$LogEna"), "true");
    // A time that is not one is not sent.
    d->widget.lineEdit_10->setText("gestern");
    d->widget.pushButton_10->click();
    EXPECT_EQ(boxes().back().text, QStringLiteral("时间格式错误,示例:1984-01-01T00:00:00.000000000"));
}

}  // namespace
