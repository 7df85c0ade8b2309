// The report control block dialog on the real stack library and the sample
// station's model, without a device: block lists, selection, the attribute
// buttons' boxes, value display by element position, the whole-block echo,
// the enable request and the completion lines.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <cstring>
#include <thread>

#include "zvt/app_env.h"
#include "dialog_rcb.h"

namespace {

using dlgtest::Box;
using dlgtest::boxes;

const Box kNoSelection{"warning", "未选择RCB名称,请重新选择!"};

class RcbDialog : public ::testing::Test {
protected:
    void SetUp() override {
        dialog_rcb::box_hook = dlgtest::recordBox;
        boxes().clear();
        dlg = dlg_rcb;  // the one the main window made
        ASSERT_NE(dlg, nullptr);
        ASSERT_TRUE(dlgtest::loadStack());
    }
    void TearDown() override { dialog_rcb::box_hook = nullptr; }

    void needStation() {
        ASSERT_TRUE(dlgtest::loadSampleStation()) << "the stack cannot load the sample station";
        model = ac_get_srvm_ied_ad(0);
        ASSERT_NE(model, nullptr);
    }
    AI_OBJ_ID idOf(const char *ref) { return ai_obj_ref_to_id_ad(model, ref); }

    QStringList rows() const {
        QStringList r;
        for (int i = 0; i < dlg->tbmodel->rowCount(); ++i) r << dlg->tbmodel->index(i, 0).data().toString();
        return r;
    }
    void setRows(const QStringList &refs) {
        dlg->tbmodel->removeRows(0, dlg->tbmodel->rowCount());
        for (const QString &r : refs) dlg->tbmodel->appendRow(new QStandardItem(r));
    }
    void select(int row) { dlg->widget.tV_RCB->setCurrentIndex(dlg->tbmodel->index(row, 0)); }
    QPushButton *button(const char *name) { return dlg->findChild<QPushButton *>(name); }

    dlgtest::MainWindowPane pane;  // before the stack is loaded: the window starts bare
    dialog_rcb *dlg = nullptr;
    AI_IED_CTRL *model = nullptr;
};

TEST_F(RcbDialog, StartsOnBrcbWithFalseTrueCombosAndNoIds) {
    EXPECT_TRUE(dlg->widget.rB_BR->isChecked());
    EXPECT_EQ(dlg->tbmodel->horizontalHeaderItem(0)->text(), QStringLiteral("RCB Name"));
    EXPECT_EQ(dlg->widget.tV_RCB->editTriggers(), QAbstractItemView::NoEditTriggers);
    for (QComboBox *cb : {dlg->widget.cB_GI, dlg->widget.cB_PurgeBuf, dlg->widget.cB_Resv, dlg->widget.cB_RptEna}) {
        ASSERT_EQ(cb->count(), 2);
        EXPECT_EQ(cb->itemText(0), QStringLiteral("false"));
        EXPECT_EQ(cb->itemText(1), QStringLiteral("true"));
    }
    EXPECT_EQ(dlg->srv_id, -1);
    EXPECT_EQ(dlg->obj_id, -1);
}

// ---- block list ---------------------------------------------------------------

TEST_F(RcbDialog, RadioButtonsListEveryBlockOfTheirOwnKindOfNodeOnly) {
    needStation();
    const QStringList urcbs = {"CMIEDMON/LLN0$RP$urcbAlarm01", "CMIEDMON/LLN0$RP$urcbAlarm02",
                               "CMIEDMON/LLN0$RP$urcbAlarm03", "CMIEDMON/LLN0$RP$urcbAlarm04"};
    dlg->SetIds(0, idOf("CMIEDMON/LLN0$RP"));
    dlg->widget.rB_BR->click();
    EXPECT_EQ(rows(), QStringList());
    dlg->widget.rB_RP->click();
    EXPECT_EQ(rows(), urcbs);

    dlg->SetIds(0, idOf("CMIEDMON/LLN0$BR"));
    dlg->widget.rB_RP->click();
    EXPECT_EQ(rows(), QStringList());
    dlg->widget.rB_BR->click();
    const QStringList brcbs = rows();
    ASSERT_GE(brcbs.size(), 4);
    EXPECT_EQ(brcbs.mid(0, 2), QStringList({"CMIEDMON/LLN0$BR$brcbTemp01", "CMIEDMON/LLN0$BR$brcbTemp02"}));
    for (const QString &r : brcbs) EXPECT_TRUE(r.startsWith("CMIEDMON/LLN0$BR$brcb")) << r.toStdString();
    // Clicking the checked button again rebuilds the list; nothing is appended.
    dlg->widget.rB_BR->click();
    EXPECT_EQ(rows(), brcbs);
}

TEST_F(RcbDialog, ListStaysAsItWasForAServerWithoutModel) {
    setRows({"A/LLN0$BR$x"});
    dlg->SetIds(7, 3);
    dlg->widget.rB_RP->click();
    dlg->widget.rB_BR->click();
    EXPECT_EQ(rows(), QStringList({"A/LLN0$BR$x"}));
}

// ---- selection and the attribute buttons ------------------------------------------

struct Attr {
    const char *button;
    const char *what;  // name in the box texts
};

const Attr kAttrs[] = {{"pB_RptID", "RptID"},       {"pB_DataSetRef", "DataSet"},
                       {"pB_OptFlds", "OptFlds"},   {"pB_TrgOps", "TrgOps"},
                       {"pB_EntryID", "EntryID"},   {"pB_EntryTm", "EntryTm"},
                       {"pB_RptEna", "RptEna"},     {"pB_ConfRev", "ConfRev"},
                       {"pB_SqNum", "SqNum"},       {"pB_GI", "GI"},
                       {"pB_BufTm", "BufTm"},       {"pB_IntgPd", "IntgPd"},
                       {"pB_PurgeBuf", "PurgeBuf"}, {"pB_Resv", "Resv"}};

Box failureBox(const Attr &a) { return {"warning", QStringLiteral("set %1 value failure!").arg(a.what)}; }

TEST_F(RcbDialog, AttributeButtonsWithoutModelShowTheirFailureBox) {
    setRows({"CMIEDMON/LLN0$BR$brcbTemp01"});
    select(0);
    for (const Attr &a : kAttrs) {
        SCOPED_TRACE(a.what);
        boxes().clear();
        button(a.button)->click();
        EXPECT_EQ(boxes(), std::vector<Box>({failureBox(a)}));
    }
}

TEST_F(RcbDialog, AttributeButtonsWithoutSelectionWarnThenFailAndSendNothing) {
    needStation();
    dlg->SetIds(0, idOf("CMIEDMON/LLN0$BR"));
    dlg->widget.rB_BR->click();
    for (const Attr &a : kAttrs) {
        SCOPED_TRACE(a.what);
        boxes().clear();
        button(a.button)->click();
        dlgtest::settle();
        EXPECT_EQ(boxes(), std::vector<Box>({kNoSelection, failureBox(a)}));
    }
    EXPECT_EQ(pane.lines(), QStringList());
}

TEST_F(RcbDialog, AttributeButtonsRefuseAReferenceLongerThanTheirBuffer) {
    needStation();
    dlg->SetIds(0, idOf("CMIEDMON/LLN0$BR"));
    setRows({QStringLiteral("CMIEDMON/LLN0$BR$") + QString(60, QLatin1Char('x'))});
    select(0);
    for (const Attr &a : kAttrs) {
        SCOPED_TRACE(a.what);
        boxes().clear();
        button(a.button)->click();
        dlgtest::settle();
        EXPECT_EQ(boxes(), std::vector<Box>({failureBox(a)}));
    }
    EXPECT_EQ(pane.lines(), QStringList());
}

const char *const kBlockButtons[] = {"pB_GetRcbValues", "pB_SetRcbValues", "pB_EnableRpt"};

TEST_F(RcbDialog, BlockButtonsWithoutSelectionWarnAndSendNothing) {
    setRows({"CMIEDMON/LLN0$BR$brcbTemp01"});
    for (const char *b : kBlockButtons) {
        SCOPED_TRACE(b);
        boxes().clear();
        button(b)->click();
        dlgtest::settle();
        EXPECT_EQ(boxes(), std::vector<Box>({kNoSelection}));
    }
    EXPECT_EQ(pane.lines(), QStringList());
}

TEST_F(RcbDialog, BlockButtonsStopQuietlyWhenTheServerHasNoModel) {
    dlg->SetIds(5, 1);
    setRows({"CMIEDMON/LLN0$BR$brcbTemp01"});
    select(0);
    for (const char *b : kBlockButtons) {
        SCOPED_TRACE(b);
        button(b)->click();
        dlgtest::settle();
    }
    EXPECT_EQ(boxes(), std::vector<Box>());
    EXPECT_EQ(pane.lines(), QStringList());
}

// ---- combo boxes from value texts -------------------------------------------------

TEST_F(RcbDialog, ComboBoxTakesOnlyTheFourWordsOfATrueFalseText) {
    const struct {
        const char *text;
        int from;
        int expected;
    } rows[] = {{"true", 0, 1}, {"TRUE", 0, 1}, {"false", 1, 0}, {"FALSE", 1, 0},
                {"1", 0, 0},    {"0", 1, 1},    {"True", 0, 0},  {"", 1, 1}};
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string("text \"") + r.text + "\" from " + std::to_string(r.from));
        dlg->widget.cB_GI->setCurrentIndex(r.from);
        dlg->setcbv(dlg->widget.cB_GI, QString::fromLatin1(r.text));
        EXPECT_EQ(dlg->widget.cB_GI->currentIndex(), r.expected);
    }
}

// ---- reading a block ----------------------------------------------------------------

// A read request control as the stack hands it to the completion function.
void completeRead(void (*done)(AC_REQ_CTRL *), AI_OBJ_ID id, int result) {
    AC_REQ_CTRL req;
    std::memset(&req, 0, sizeof req);
    req.op = IEC61850_OP_READ;
    req.result = result;
    req.u.rdCtrl.obj_ids = &id;
    req.u.rdCtrl.num_obj = 1;
    std::thread stack_thread(done, &req);  // completions run on a stack thread
    stack_thread.join();
}

TEST_F(RcbDialog, ReadBrcbShowsItsElementsByPositionAndLeavesResvAndEntryTm) {
    needStation();
    dlg->SetIds(0, idOf("CMIEDMON/LLN0$BR"));
    dlg->widget.cB_Resv->setCurrentIndex(1);
    dlg->widget.cB_RptEna->setCurrentIndex(1);
    completeRead(dialog_rcb::demo_c_getbrcbv_req_done, idOf("CMIEDMON/LLN0$BR$brcbTemp02"), 0);
    dlgtest::settle();
    EXPECT_EQ(pane.lines(), QStringList({"a_ai_get_brcb_values success!!!"}));
    EXPECT_EQ(dlg->widget.lE_RptID->text(), QStringLiteral("CMIED_Temp"));
    EXPECT_EQ(dlg->widget.cB_RptEna->currentText(), QStringLiteral("false"));
    EXPECT_TRUE(dlg->widget.lE_DataSetRef->text().endsWith(QStringLiteral("dsTemp")))
        << dlg->widget.lE_DataSetRef->text().toStdString();
    EXPECT_EQ(dlg->widget.lE_ConfRev->text(), QStringLiteral("1"));
    EXPECT_EQ(dlg->widget.lE_OptFlds->text(), QStringLiteral("0111100110"));
    EXPECT_EQ(dlg->widget.lE_BufTm->text(), QStringLiteral("100"));
    EXPECT_FALSE(dlg->widget.lE_SqNum->text().isEmpty());
    EXPECT_EQ(dlg->widget.lE_TrgOps->text(), QStringLiteral("011011"));
    EXPECT_EQ(dlg->widget.lE_IntgPd->text(), QStringLiteral("60000"));
    EXPECT_EQ(dlg->widget.lE_EntryID->text().size(), 16);  // 8 octets in hex
    EXPECT_EQ(dlg->widget.cB_Resv->currentIndex(), 1);     // a BRCB has no Resv
    EXPECT_EQ(dlg->widget.lE_EntryTm->text(), QString());
}

TEST_F(RcbDialog, ReadUrcbTakesResvFromElement2AndLeavesPurgeBufAndEntryID) {
    needStation();
    dlg->SetIds(0, idOf("CMIEDMON/LLN0$RP"));
    dlg->widget.cB_Resv->setCurrentIndex(1);
    dlg->widget.cB_PurgeBuf->setCurrentIndex(1);
    dlg->widget.lE_EntryID->setText(QStringLiteral("kept"));
    completeRead(dialog_rcb::demo_c_geturcbv_req_done, idOf("CMIEDMON/LLN0$RP$urcbAlarm02"), 0);
    dlgtest::settle();
    EXPECT_EQ(pane.lines(), QStringList({"a_ai_get_urcb_values success!!!"}));
    EXPECT_EQ(dlg->widget.lE_RptID->text(), QStringLiteral("CMIED_Alarm"));
    EXPECT_EQ(dlg->widget.cB_Resv->currentText(), QStringLiteral("false"));
    EXPECT_TRUE(dlg->widget.lE_DataSetRef->text().endsWith(QStringLiteral("dsAlarm")));
    EXPECT_EQ(dlg->widget.lE_ConfRev->text(), QStringLiteral("1"));
    EXPECT_EQ(dlg->widget.lE_BufTm->text(), QStringLiteral("50"));
    EXPECT_EQ(dlg->widget.lE_IntgPd->text(), QStringLiteral("0"));
    EXPECT_EQ(dlg->widget.cB_PurgeBuf->currentIndex(), 1);
    EXPECT_EQ(dlg->widget.lE_EntryID->text(), QStringLiteral("kept"));
}

TEST_F(RcbDialog, FailedReadSaysSoAndShowsNothing) {
    needStation();
    dlg->SetIds(0, idOf("CMIEDMON/LLN0$BR"));
    completeRead(dialog_rcb::demo_c_getbrcbv_req_done, idOf("CMIEDMON/LLN0$BR$brcbTemp02"), 2);
    completeRead(dialog_rcb::demo_c_geturcbv_req_done, idOf("CMIEDMON/LLN0$RP$urcbAlarm02"), -1);
    dlgtest::settle();
    EXPECT_EQ(pane.lines(), QStringList({"a_ai_get_brcb_values failure!!!", "a_ai_get_urcb_values failure!!!"}));
    EXPECT_EQ(dlg->widget.lE_RptID->text(), QString());
}

TEST_F(RcbDialog, ShortBlockValueFillsOnlyTheElementsItHas) {
    // A value built here in the stack's stored forms: RptID, RptEna, Resv of a URCB.
    struct {
        AI_VAL_TYPE type;
        int size;
        const char *text;
    } parts[] = {{VAL_TYPE_VSTRING65, 66, "short"}, {VAL_TYPE_BOOLEAN, 1, "true"}, {VAL_TYPE_BOOLEAN, 1, "true"}};
    alignas(8) char store[3][72];
    AI_PRIM_VAL prims[3];
    for (int i = 0; i < 3; ++i) {
        std::memset(store[i], 0, sizeof store[i]);
        ASSERT_EQ(ai_prim_str_to_value_ad(parts[i].type, parts[i].text, store[i]), 0);
        prims[i] = AI_PRIM_VAL{parts[i].type, parts[i].size, store[i]};
    }
    AI_OBJ_VAL value{1, nullptr, prims, 3};
    dlg->widget.lE_ConfRev->setText(QStringLiteral("untouched"));
    dlg->ShowRcbElements(value, 0);
    EXPECT_EQ(dlg->widget.lE_RptID->text(), QStringLiteral("short"));
    EXPECT_EQ(dlg->widget.cB_RptEna->currentIndex(), 1);
    EXPECT_EQ(dlg->widget.cB_Resv->currentIndex(), 1);
    EXPECT_EQ(dlg->widget.lE_ConfRev->text(), QStringLiteral("untouched"));
}

// ---- whole-block write ----------------------------------------------------------------

TEST_F(RcbDialog, WholeBlockWriteEchoesTheEditsButKeepsConfRevAndSqNum) {
    needStation();
    dlg->SetIds(0, idOf("CMIEDMON/LLN0$BR"));
    dlg->widget.rB_BR->click();
    select(1);  // brcbTemp02
    dlg->widget.lE_RptID->setText(QStringLiteral("NewID"));
    dlg->widget.cB_RptEna->setCurrentIndex(1);
    dlg->widget.lE_DataSetRef->setText(QStringLiteral("CMIEDMON/LLN0$dsSF6"));
    dlg->widget.lE_ConfRev->setText(QStringLiteral("99"));
    dlg->widget.lE_OptFlds->setText(QStringLiteral("0111100010"));
    dlg->widget.lE_BufTm->setText(QStringLiteral("250"));
    dlg->widget.lE_SqNum->setText(QStringLiteral("77"));
    dlg->widget.lE_TrgOps->setText(QStringLiteral("011111"));
    dlg->widget.lE_IntgPd->setText(QStringLiteral("5000"));
    dlg->widget.cB_GI->setCurrentIndex(0);
    dlg->widget.pB_SetRcbValues->click();
    dlgtest::settle();
    const QStringList echo = pane.lines().mid(0, 10);
    ASSERT_EQ(echo.size(), 10) << pane.lines().join('|').toStdString();
    EXPECT_EQ(echo[0], QStringLiteral("NewID"));
    EXPECT_EQ(echo[1], QStringLiteral("true"));
    EXPECT_EQ(echo[2], QStringLiteral("CMIEDMON/LLN0$dsSF6"));
    EXPECT_EQ(echo[3], QStringLiteral("1"));  // ConfRev is the device's
    EXPECT_EQ(echo[4], QStringLiteral("0111100010"));
    EXPECT_EQ(echo[5], QStringLiteral("250"));
    EXPECT_NE(echo[6], QStringLiteral("77"));  // so is SqNum
    EXPECT_EQ(echo[7], QStringLiteral("011111"));
    EXPECT_EQ(echo[8], QStringLiteral("5000"));
    EXPECT_EQ(echo[9], QStringLiteral("false"));
    EXPECT_EQ(boxes(), std::vector<Box>());
}

// ---- enable request -------------------------------------------------------------------

struct Enable {
    const char *name;
    int rptEna_index;
    const char *intgpd, *optflds, *trgops;
    AC_ENAREPORT_INFO expected;  // rcb_id and callback not compared
};

class EnableRequest : public RcbDialog, public ::testing::WithParamInterface<Enable> {};

TEST_P(EnableRequest, FollowsTheEditsOnlyWhenRptEnaIsTrue) {
    const Enable &p = GetParam();
    dlg->widget.cB_RptEna->setCurrentIndex(p.rptEna_index);
    dlg->widget.lE_IntgPd->setText(QString::fromLatin1(p.intgpd));
    dlg->widget.lE_OptFlds->setText(QString::fromLatin1(p.optflds));
    dlg->widget.lE_TrgOps->setText(QString::fromLatin1(p.trgops));
    const AC_ENAREPORT_INFO req = dlg->EnableRequestFromEdit(17);
    EXPECT_EQ(req.rcb_id, 17);
    EXPECT_EQ(req.rptEna, p.expected.rptEna);
    EXPECT_EQ(req.OptFlds, p.expected.OptFlds);
    EXPECT_EQ(req.TrgOps, p.expected.TrgOps);
    EXPECT_EQ(req.IntgPd, p.expected.IntgPd);
    EXPECT_NE(req.u_rpt_done, nullptr);
}

// OptFlds "0111100010": first octet 0x78, second 0x80 -> 0x8078. TrgOps
// "011111" -> octet 0x7C; "10000000" -> 0x80, a negative signed octet.
INSTANTIATE_TEST_SUITE_P(
    Dialog, EnableRequest,
    ::testing::Values(
        Enable{"OffSendsDefaults", 0, "5000", "0111100010", "011111", {0, 0x2000, 2, -1, 0, nullptr}},
        Enable{"OnTakesTheEdits", 1, "5000", "0111100010", "011111", {0, 0x8078, 0x7C, 5000, 1, nullptr}},
        Enable{"OnWithNonNumericIntgPdSendsZero", 1, "abc", "0111100010", "011111", {0, 0x8078, 0x7C, 0, 1, nullptr}},
        Enable{"OnWidensTheTrgOpsOctetWithItsSign", 1, "1", "0000000000", "10000000", {0, 0, -128, 1, 1, nullptr}}),
    [](const ::testing::TestParamInfo<Enable> &info) { return std::string(info.param.name); });

// ---- completion lines -------------------------------------------------------------------

TEST_F(RcbDialog, CompletionsReportEveryNonZeroResultAsFailure) {
    const struct {
        void (*done)(AC_REQ_CTRL *);
        int result;
        const char *line;
    } rows[] = {
        {dialog_rcb::demo_c_setRptAttri_req_done, 0, "ac_write_obj_value success!!!"},
        {dialog_rcb::demo_c_setRptAttri_req_done, 1, "ac_write_obj_value failure!!!"},
        {dialog_rcb::demo_c_setbrcbv_req_done, 0, "a_ai_set_brcb_values success!!!"},
        {dialog_rcb::demo_c_setbrcbv_req_done, 2, "a_ai_set_brcb_values failure!!!"},
        {dialog_rcb::demo_c_seturcbv_req_done, 0, "a_ai_set_urcb_values success!!!"},
        {dialog_rcb::demo_c_seturcbv_req_done, -5, "a_ai_set_urcb_values failure!!!"},
        {dialog_rcb::_demo_parse_enaRpt_done, 0, "报告使能成功!!!"},
        {dialog_rcb::_demo_parse_enaRpt_done, 3, "报告使能失败!!!"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.line);
        pane.mark();
        AC_REQ_CTRL req;
        std::memset(&req, 0, sizeof req);
        req.result = r.result;
        std::thread stack_thread(r.done, &req);
        stack_thread.join();
        std::thread no_request(r.done, nullptr);  // a call without request is ignored
        no_request.join();
        dlgtest::settle();
        EXPECT_EQ(pane.lines(), QStringList({QString::fromUtf8(r.line)}));
    }
}

}  // namespace
