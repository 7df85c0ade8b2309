// The report control block dialog against iedsim, through its widgets: every
// listed block reads from the device, a read fills every widget with the
// device's values (a URCB's shifted by Resv), a single-attribute write
// changes the device (a refused one shows in the pane only), SetRcbValues
// writes what changed one attribute at a time, EnableRpt starts and stops
// reports, and nothing is sent without a selected block; the same against
// devices of each edition and kind.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "device_env.h"
#include "dialog_rcb.h"

namespace {

using dlgtest::Box;
using dlgtest::boxes;
using dlgtest::waitFor;

const QString kBrNode = QStringLiteral("CMIEDMON/LLN0$BR");
const QString kRpNode = QStringLiteral("CMIEDMON/LLN0$RP");
const QString kBrcb = QStringLiteral("CMIEDMON/LLN0$BR$brcbTemp02");
const QString kUrcb = QStringLiteral("CMIEDMON/LLN0$RP$urcbAlarm02");

class RcbDevice : public ::testing::Test {
protected:
    void SetUp() override {
        dialog_rcb::box_hook = dlgtest::recordBox;
        boxes().clear();
        dlg = dlg_rcb;
        ASSERT_NE(dlg, nullptr);
        device = std::make_unique<dlgtest::Device>(deviceOptions());
        ASSERT_TRUE(device->start()) << device->error.toStdString();
        model = ac_get_srvm_ied_ad(0);
        ASSERT_NE(model, nullptr);
        pane.mark();
    }
    void TearDown() override {
        device.reset();
        dialog_rcb::box_hook = nullptr;
    }
    // iedsim options of the device played.
    virtual std::vector<std::string> deviceOptions() const { return {}; }

    // Opens the dialog's list on `node` (BR or RP) as the radio buttons do
    // and selects `block`.
    void selectBlock(const QString &node, const QString &block) {
        dlg->SetIds(0, ai_obj_ref_to_id_ad(model, node.toLatin1().constData()));
        (node.endsWith(QLatin1String("BR")) ? dlg->widget.rB_BR : dlg->widget.rB_RP)->click();
        for (int i = 0; i < dlg->tbmodel->rowCount(); ++i) {
            if (dlg->tbmodel->index(i, 0).data().toString() == block) {
                dlg->widget.tV_RCB->setCurrentIndex(dlg->tbmodel->index(i, 0));
                return;
            }
        }
        ADD_FAILURE() << block.toStdString() << " not listed";
    }
    QStringList listed() const {
        QStringList r;
        for (int i = 0; i < dlg->tbmodel->rowCount(); ++i) r << dlg->tbmodel->index(i, 0).data().toString();
        return r;
    }
    bool paneHas(const char *line) { return pane.lines().contains(QString::fromUtf8(line)); }
    // Clicks GetRcbValues and waits until the dialog shows the device's RptID.
    void readSelected(const QString &block, const char *done_line) {
        const QString rpt_id = device->get(block + "$RptID");
        dlg->widget.pB_GetRcbValues->click();
        ASSERT_TRUE(waitFor([&] { return paneHas(done_line); })) << pane.lines().join('|').toStdString();
        ASSERT_TRUE(waitFor([&] { return dlg->widget.lE_RptID->text() == rpt_id; }))
            << dlg->widget.lE_RptID->text().toStdString() << " vs " << rpt_id.toStdString();
    }

    dlgtest::MainWindowPane pane;  // before the stack is loaded: the window starts bare
    std::unique_ptr<dlgtest::Device> device;
    dialog_rcb *dlg = nullptr;
    AI_IED_CTRL *model = nullptr;
};

// ---- list and read -------------------------------------------------------------------

TEST_F(RcbDevice, EveryListedBlockReadsFromTheDevice) {
    for (const QString &node : {kBrNode, kRpNode}) {
        SCOPED_TRACE(node.toStdString());
        dlg->SetIds(0, ai_obj_ref_to_id_ad(model, node.toLatin1().constData()));
        (node == kBrNode ? dlg->widget.rB_BR : dlg->widget.rB_RP)->click();
        const QStringList blocks = listed();
        ASSERT_FALSE(blocks.isEmpty());
        for (const QString &b : blocks) {
            SCOPED_TRACE(b.toStdString());
            // A distinct RptID per block shows that each read is of its own block.
            const QString id = QStringLiteral("R_") + b.section('$', -1);
            ASSERT_TRUE(device->set(b + "$RptID", id));
            pane.mark();
            selectBlock(node, b);
            readSelected(b, node == kBrNode ? "a_ai_get_brcb_values success!!!" : "a_ai_get_urcb_values success!!!");
            EXPECT_EQ(dlg->widget.lE_RptID->text(), id);
        }
    }
    EXPECT_EQ(boxes(), std::vector<Box>());
}

TEST_F(RcbDevice, ReadBrcbShowsEveryElementAsTheDeviceHasIt) {
    // Values unlike the SCL's, so that the widgets can only have them from the device.
    ASSERT_TRUE(device->set(kBrcb + "$RptID", "DevTemp"));
    ASSERT_TRUE(device->set(kBrcb + "$IntgPd", "4321"));
    ASSERT_TRUE(device->set(kBrcb + "$BufTm", "250"));
    ASSERT_TRUE(device->set(kBrcb + "$OptFlds", "0111100010"));
    ASSERT_TRUE(device->set(kBrcb + "$TrgOps", "011111"));
    ASSERT_TRUE(device->set(kBrcb + "$PurgeBuf", "true"));
    dlg->widget.cB_Resv->setCurrentIndex(1);
    dlg->widget.cB_GI->setCurrentIndex(1);
    dlg->widget.cB_RptEna->setCurrentIndex(1);
    dlg->widget.cB_PurgeBuf->setCurrentIndex(0);
    dlg->widget.lE_EntryID->setText("x");
    selectBlock(kBrNode, kBrcb);
    readSelected(kBrcb, "a_ai_get_brcb_values success!!!");

    const struct {
        const char *attr;
        QString shown;
    } rows[] = {
        {"RptID", dlg->widget.lE_RptID->text()},
        {"RptEna", dlg->widget.cB_RptEna->currentText()},
        {"DatSet", dlg->widget.lE_DataSetRef->text()},
        {"ConfRev", dlg->widget.lE_ConfRev->text()},
        {"OptFlds", dlg->widget.lE_OptFlds->text()},
        {"BufTm", dlg->widget.lE_BufTm->text()},
        {"SqNum", dlg->widget.lE_SqNum->text()},
        {"TrgOps", dlg->widget.lE_TrgOps->text()},
        {"IntgPd", dlg->widget.lE_IntgPd->text()},
        {"GI", dlg->widget.cB_GI->currentText()},
        {"PurgeBuf", dlg->widget.cB_PurgeBuf->currentText()},
        {"EntryID", dlg->widget.lE_EntryID->text()},
    };
    for (const auto &r : rows) EXPECT_EQ(r.shown, device->get(kBrcb + "$" + r.attr)) << r.attr;
    EXPECT_EQ(dlg->widget.lE_IntgPd->text(), QStringLiteral("4321"));
    EXPECT_EQ(dlg->widget.cB_PurgeBuf->currentText(), QStringLiteral("true"));
    EXPECT_EQ(dlg->widget.cB_Resv->currentIndex(), 1);  // a BRCB has no Resv
    EXPECT_EQ(dlg->widget.lE_EntryTm->text(), QString());
    EXPECT_EQ(boxes(), std::vector<Box>());
}

TEST_F(RcbDevice, ReadUrcbShowsResvFromTheDeviceAndLeavesPurgeBufAndEntryID) {
    ASSERT_TRUE(device->set(kUrcb + "$RptID", "DevAlarm"));
    ASSERT_TRUE(device->set(kUrcb + "$IntgPd", "1234"));
    ASSERT_TRUE(device->set(kUrcb + "$BufTm", "75"));
    ASSERT_TRUE(device->set(kUrcb + "$GI", "false"));
    dlg->widget.cB_Resv->setCurrentIndex(1);  // the device's is false
    dlg->widget.cB_GI->setCurrentIndex(1);
    dlg->widget.cB_RptEna->setCurrentIndex(1);
    dlg->widget.cB_PurgeBuf->setCurrentIndex(1);
    dlg->widget.lE_EntryID->setText(QStringLiteral("kept"));
    selectBlock(kRpNode, kUrcb);
    readSelected(kUrcb, "a_ai_get_urcb_values success!!!");

    const struct {
        const char *attr;
        QString shown;
    } rows[] = {
        {"RptID", dlg->widget.lE_RptID->text()},      {"RptEna", dlg->widget.cB_RptEna->currentText()},
        {"Resv", dlg->widget.cB_Resv->currentText()}, {"DatSet", dlg->widget.lE_DataSetRef->text()},
        {"ConfRev", dlg->widget.lE_ConfRev->text()},  {"OptFlds", dlg->widget.lE_OptFlds->text()},
        {"BufTm", dlg->widget.lE_BufTm->text()},      {"SqNum", dlg->widget.lE_SqNum->text()},
        {"TrgOps", dlg->widget.lE_TrgOps->text()},    {"IntgPd", dlg->widget.lE_IntgPd->text()},
        {"GI", dlg->widget.cB_GI->currentText()},
    };
    for (const auto &r : rows) EXPECT_EQ(r.shown, device->get(kUrcb + "$" + r.attr)) << r.attr;
    EXPECT_EQ(dlg->widget.cB_Resv->currentText(), QStringLiteral("false"));
    EXPECT_EQ(dlg->widget.lE_IntgPd->text(), QStringLiteral("1234"));
    EXPECT_EQ(dlg->widget.lE_DataSetRef->text(), QStringLiteral("CMIEDMON/LLN0$dsAlarm"));
    EXPECT_EQ(dlg->widget.cB_PurgeBuf->currentIndex(), 1);
    EXPECT_EQ(dlg->widget.lE_EntryID->text(), QStringLiteral("kept"));
    EXPECT_EQ(dlg->widget.lE_EntryTm->text(), QString());
}

// ---- writes ----------------------------------------------------------------------------

TEST_F(RcbDevice, IntgPdButtonWritesTheDeviceAndAReadShowsIt) {
    selectBlock(kBrNode, kBrcb);
    readSelected(kBrcb, "a_ai_get_brcb_values success!!!");
    dlg->widget.lE_IntgPd->setText(QStringLiteral("7000"));
    dlg->widget.pB_IntgPd->click();
    EXPECT_EQ(boxes(), std::vector<Box>({{"warning", "set IntgPd value success!"}}));
    ASSERT_TRUE(waitFor([&] { return paneHas("ac_write_obj_value success!!!"); }))
        << pane.lines().join('|').toStdString();
    EXPECT_EQ(device->get(kBrcb + "$IntgPd"), QStringLiteral("7000"));

    dlg->widget.lE_IntgPd->setText(QString());
    pane.mark();
    readSelected(kBrcb, "a_ai_get_brcb_values success!!!");
    EXPECT_TRUE(waitFor([&] { return dlg->widget.lE_IntgPd->text() == QLatin1String("7000"); }))
        << dlg->widget.lE_IntgPd->text().toStdString();
}

TEST_F(RcbDevice, RefusedAttributeWriteShowsTheSuccessBoxAndTheFailureLine) {
    // SqNum is the device's: the request is queued (success box), the device refuses it.
    selectBlock(kRpNode, kUrcb);
    readSelected(kUrcb, "a_ai_get_urcb_values success!!!");
    const QString before = device->get(kUrcb + "$SqNum");
    dlg->widget.lE_SqNum->setText(QStringLiteral("77"));
    dlg->widget.pB_SqNum->click();
    EXPECT_EQ(boxes(), std::vector<Box>({{"warning", "set SqNum value success!"}}));
    ASSERT_TRUE(waitFor([&] { return paneHas("ac_write_obj_value failure!!!"); }))
        << pane.lines().join('|').toStdString();
    EXPECT_FALSE(paneHas("ac_write_obj_value success!!!"));
    EXPECT_EQ(device->get(kUrcb + "$SqNum"), before);
}

// SetRcbValues sends only the attributes whose field differs from the last
// read, one per write (IEC 61850-8-1 servers refuse the block as one value):
// RptID, BufTm and IntgPd change on the device, SqNum and ConfRev are not sent.
TEST_F(RcbDevice, SetRcbValuesWritesTheChangedAttributesOneAtATime) {
    selectBlock(kBrNode, kBrcb);
    readSelected(kBrcb, "a_ai_get_brcb_values success!!!");
    pane.mark();
    dlg->widget.lE_RptID->setText(QStringLiteral("NewTemp"));
    dlg->widget.lE_BufTm->setText(QStringLiteral("300"));
    dlg->widget.lE_IntgPd->setText(QStringLiteral("9000"));
    dlg->widget.lE_SqNum->setText(QStringLiteral("77"));
    dlg->widget.pB_SetRcbValues->click();
    ASSERT_TRUE(waitFor(
        [&] { return paneHas("a_ai_set_brcb_values success!!!") || paneHas("a_ai_set_brcb_values failure!!!"); }));
    const QStringList lines = pane.lines();
    ASSERT_EQ(lines.size(), 11) << lines.join('|').toStdString();
    EXPECT_EQ(lines.mid(0, 10), QStringList({"NewTemp", "false", "CMIEDMON/LLN0$dsTemp", "1", "0111100110", "300", "0",
                                             "011011", "9000", "false"}));
    EXPECT_EQ(lines[10], QStringLiteral("a_ai_set_brcb_values success!!!"));
    EXPECT_EQ(device->get(kBrcb + "$RptID"), QStringLiteral("NewTemp"));
    EXPECT_EQ(device->get(kBrcb + "$BufTm"), QStringLiteral("300"));
    EXPECT_EQ(device->get(kBrcb + "$IntgPd"), QStringLiteral("9000"));
    EXPECT_EQ(device->get(kBrcb + "$RptEna"), QStringLiteral("false"));
    EXPECT_EQ(boxes(), std::vector<Box>());
}

// A block enabled by us takes no configuration: SetRcbValues disables it,
// writes IntgPd and enables it again, and reports keep coming.
TEST_F(RcbDevice, SetRcbValuesOnAnEnabledBlockReconfiguresAndKeepsItEnabled) {
    dlgtest::Reports &reports = dlgtest::Reports::get();
    ASSERT_TRUE(device->set(kUrcb + "$RptID", "Reconfigured"));
    selectBlock(kRpNode, kUrcb);
    readSelected(kUrcb, "a_ai_get_urcb_values success!!!");
    dlg->widget.cB_RptEna->setCurrentIndex(1);
    dlg->widget.pB_EnableRpt->click();
    ASSERT_TRUE(waitFor([&] { return paneHas("报告使能成功!!!") || paneHas("报告使能失败!!!"); }));
    ASSERT_TRUE(paneHas("报告使能成功!!!")) << pane.lines().join('|').toStdString();
    pane.mark();
    readSelected(kUrcb, "a_ai_get_urcb_values success!!!");
    ASSERT_EQ(dlg->widget.cB_RptEna->currentText(), QStringLiteral("true"));
    pane.mark();
    dlg->widget.lE_IntgPd->setText(QStringLiteral("4500"));
    dlg->widget.pB_SetRcbValues->click();
    ASSERT_TRUE(waitFor(
        [&] { return paneHas("a_ai_set_urcb_values success!!!") || paneHas("a_ai_set_urcb_values failure!!!"); }));
    EXPECT_TRUE(paneHas("a_ai_set_urcb_values success!!!")) << pane.lines().join('|').toStdString();
    EXPECT_EQ(device->get(kUrcb + "$IntgPd"), QStringLiteral("4500"));
    EXPECT_EQ(device->get(kUrcb + "$RptEna"), QStringLiteral("true"));
    const int before = reports.count("Reconfigured");
    ASSERT_TRUE(device->set(QStringLiteral("CMIEDMON/STMP1$ST$TmpAlm$stVal"), QStringLiteral("true")));
    EXPECT_TRUE(waitFor([&] { return reports.count("Reconfigured") > before; }));
}

// ---- devices of every kind ----------------------------------------------------------

struct Kind {
    const char *name;
    std::vector<std::string> options;
    bool settings_fixed;
};
void PrintTo(const Kind &k, std::ostream *os) { *os << k.name; }

class RcbOnDeviceKind : public RcbDevice, public ::testing::WithParamInterface<Kind> {
protected:
    std::vector<std::string> deviceOptions() const override { return GetParam().options; }
};

// Whatever layout the device has (the SCL says Edition 2 with Owner and
// ResvTms), the dialog reads the block, SetRcbValues changes IntgPd (or says
// it failed where the device fixes its settings) and EnableRpt enables it.
TEST_P(RcbOnDeviceKind, ReadWriteAndEnableWork) {
    const Kind &k = GetParam();
    dlgtest::Reports &reports = dlgtest::Reports::get();
    for (const QString &block : {kBrcb, kUrcb}) {
        SCOPED_TRACE(block.toStdString());
        const bool br = block == kBrcb;
        const char *set_ok = br ? "a_ai_set_brcb_values success!!!" : "a_ai_set_urcb_values success!!!";
        const char *set_failed = br ? "a_ai_set_brcb_values failure!!!" : "a_ai_set_urcb_values failure!!!";
        const std::string id = br ? "KindBr" : "KindRp";
        ASSERT_TRUE(device->set(block + "$RptID", QString::fromStdString(id)));
        pane.mark();
        selectBlock(br ? kBrNode : kRpNode, block);
        readSelected(block, br ? "a_ai_get_brcb_values success!!!" : "a_ai_get_urcb_values success!!!");
        EXPECT_EQ(dlg->widget.lE_IntgPd->text(), device->get(block + "$IntgPd"));
        EXPECT_EQ(dlg->widget.lE_DataSetRef->text(), device->get(block + "$DatSet"));

        const QString intg_pd = device->get(block + "$IntgPd");
        pane.mark();
        dlg->widget.lE_IntgPd->setText(QStringLiteral("7000"));
        dlg->widget.pB_SetRcbValues->click();
        ASSERT_TRUE(waitFor([&] { return paneHas(set_ok) || paneHas(set_failed); }));
        EXPECT_TRUE(paneHas(k.settings_fixed ? set_failed : set_ok)) << pane.lines().join('|').toStdString();
        EXPECT_EQ(device->get(block + "$IntgPd"), k.settings_fixed ? intg_pd : QStringLiteral("7000"));

        pane.mark();
        dlg->widget.cB_RptEna->setCurrentIndex(1);
        dlg->widget.pB_EnableRpt->click();
        ASSERT_TRUE(waitFor([&] { return paneHas("报告使能成功!!!") || paneHas("报告使能失败!!!"); }));
        ASSERT_TRUE(paneHas("报告使能成功!!!")) << pane.lines().join('|').toStdString();
        EXPECT_EQ(device->ask("rcb " + block.toStdString()).substr(0, 5), "ena=1");
        EXPECT_TRUE(waitFor([&] { return reports.count(id) >= 1; })) << id;  // the GI's report
    }
}

INSTANTIATE_TEST_SUITE_P(Device, RcbOnDeviceKind,
                         ::testing::Values(Kind{"Edition1", {"--profile", "ed1"}, false},
                                           Kind{"Edition2WithoutOwner", {"--profile", "ed2"}, false},
                                           Kind{"Edition2Owner", {"--profile", "ed2-owner"}, false},
                                           Kind{"Edition2ResvTms", {"--profile", "ed2-resvtms"}, false},
                                           Kind{"FixedSettings", {"--profile", "fixed"}, true}),
                         [](const ::testing::TestParamInfo<Kind> &info) { return std::string(info.param.name); });

// ---- reporting on and off ------------------------------------------------------------

struct Reporting {
    const char *name;
    QString node, block, rpt_id;
    QString member;  // a data set member the device changes
    QString value1, value2, value3;
    const char *read_line;
};

void PrintTo(const Reporting &r, std::ostream *os) { *os << r.name; }

class RcbReporting : public RcbDevice, public ::testing::WithParamInterface<Reporting> {};

TEST_P(RcbReporting, EnableRptStartsReportsAndDisableStopsThem) {
    const Reporting &p = GetParam();
    dlgtest::Reports &reports = dlgtest::Reports::get();
    selectBlock(p.node, p.block);
    readSelected(p.block, p.read_line);
    ASSERT_EQ(dlg->widget.cB_RptEna->currentText(), QStringLiteral("false"));
    EXPECT_EQ(reports.count(p.rpt_id.toStdString()), 0);

    dlg->widget.cB_RptEna->setCurrentIndex(1);
    dlg->widget.pB_EnableRpt->click();
    ASSERT_TRUE(waitFor([&] { return paneHas("报告使能成功!!!") || paneHas("报告使能失败!!!"); }));
    ASSERT_TRUE(paneHas("报告使能成功!!!")) << pane.lines().join('|').toStdString();
    EXPECT_EQ(device->get(p.block + "$RptEna"), QStringLiteral("true"));
    // The enable ends with a GI: its report comes first.
    ASSERT_TRUE(waitFor([&] { return reports.count(p.rpt_id.toStdString()) >= 1; }));
    const int after_gi = reports.count(p.rpt_id.toStdString());
    ASSERT_TRUE(device->set(p.member, p.value1));
    ASSERT_TRUE(waitFor([&] { return reports.count(p.rpt_id.toStdString()) > after_gi; }));

    pane.mark();
    dlg->widget.cB_RptEna->setCurrentIndex(0);
    dlg->widget.pB_EnableRpt->click();
    ASSERT_TRUE(waitFor([&] { return paneHas("报告使能成功!!!") || paneHas("报告使能失败!!!"); }));
    ASSERT_TRUE(paneHas("报告使能成功!!!")) << pane.lines().join('|').toStdString();
    EXPECT_EQ(device->get(p.block + "$RptEna"), QStringLiteral("false"));
    dlgtest::idle(300);  // reports already on their way
    const int stopped = reports.count(p.rpt_id.toStdString());
    const int sent = device->reportsSent();
    ASSERT_TRUE(device->set(p.member, p.value2));
    ASSERT_TRUE(device->set(p.member, p.value3));
    dlgtest::idle(500);  // well over the blocks' buffer times
    EXPECT_EQ(reports.count(p.rpt_id.toStdString()), stopped);
    EXPECT_EQ(device->reportsSent(), sent);
    EXPECT_EQ(boxes(), std::vector<Box>());
}

INSTANTIATE_TEST_SUITE_P(Device, RcbReporting,
                         ::testing::Values(Reporting{"Brcb", kBrNode, kBrcb, "CMIED_Temp",
                                                     "CMIEDMON/STMP1$MX$Tmp$mag$f", "61.5", "72.5", "83.5",
                                                     "a_ai_get_brcb_values success!!!"},
                                           Reporting{"Urcb", kRpNode, QStringLiteral("CMIEDMON/LLN0$RP$urcbAlarm01"),
                                                     "CMIED_Alarm", "CMIEDMON/STMP1$ST$TmpAlm$stVal", "true", "false",
                                                     "true", "a_ai_get_urcb_values success!!!"}),
                         [](const ::testing::TestParamInfo<Reporting> &info) { return std::string(info.param.name); });

// ---- no selection ----------------------------------------------------------------------

TEST_F(RcbDevice, ButtonsWithoutSelectionWarnAndLeaveTheDeviceAlone) {
    dlg->SetIds(0, ai_obj_ref_to_id_ad(model, kBrNode.toLatin1().constData()));
    dlg->widget.rB_BR->click();
    ASSERT_FALSE(listed().isEmpty());
    dlg->widget.cB_RptEna->setCurrentIndex(1);
    dlg->widget.lE_IntgPd->setText(QStringLiteral("5"));
    const Box no_selection{"warning", "未选择RCB名称,请重新选择!"};
    for (const char *b : {"pB_GetRcbValues", "pB_SetRcbValues", "pB_EnableRpt"}) {
        SCOPED_TRACE(b);
        boxes().clear();
        dlg->findChild<QPushButton *>(b)->click();
        EXPECT_EQ(boxes(), std::vector<Box>({no_selection}));
    }
    boxes().clear();
    dlg->widget.pB_IntgPd->click();
    EXPECT_EQ(boxes(), std::vector<Box>({no_selection, {"warning", "set IntgPd value failure!"}}));
    dlgtest::idle(300);
    EXPECT_EQ(pane.lines(), QStringList());
    for (const QString &b : listed()) {
        EXPECT_EQ(device->get(b + "$RptEna"), QStringLiteral("false")) << b.toStdString();
        EXPECT_EQ(device->get(b + "$IntgPd"), QStringLiteral("60000")) << b.toStdString();
    }
}

}  // namespace
