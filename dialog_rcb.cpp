#include "dialog_rcb.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <cstring>
#include <memory>

#include "gui_srv.h"
#include "zv_ops.h"

void (*dialog_rcb::box_hook)(const QString &title, const QString &text) = nullptr;

namespace {

// Buffer sizes of the dialog's texts, NUL included.
constexpr int REF_BUF = AI_OBJ_REF_LEN;  // object references from the stack
constexpr int SUFFIX_BUF = 129;          // attribute suffix
constexpr int ATTR_REF_BUF = dialog_rcb::ATTR_REF_MAX + 1;
constexpr int VALUE_TEXT_BUF = AI_VALUE_TEXT_LEN;  // value text

// Element positions of a block value. BRCB: RptID RptEna DatSet ConfRev
// OptFlds BufTm SqNum TrgOps IntgPd GI PurgeBuf EntryID; a URCB has Resv
// after RptEna and neither PurgeBuf nor EntryID.
enum Element { RptID, RptEna, Resv, DatSet, ConfRev, OptFlds, BufTm, SqNum, TrgOps, IntgPd, GI, PurgeBuf, EntryID };

int position(Element e, bool buffered) {
    if (buffered) {
        if (e == Resv) return -1;
        return e < Resv ? e : e - 1;
    }
    if (e == PurgeBuf || e == EntryID) return -1;
    return e;
}

void pane(const char *text) {
    if (w != nullptr) w->out_put(text);
}

AI_IED_CTRL *modelOf(int srv) { return ac_get_srvm_ied_ad != nullptr ? ac_get_srvm_ied_ad(srv) : nullptr; }

AI_OBJ_ID refToId(AI_IED_CTRL *model, const char *ref) {
    return ai_obj_ref_to_id_ad != nullptr ? ai_obj_ref_to_id_ad(model, ref) : -1;
}

// Reads the current value of `id` from the model; false when there is none
// (nothing to clean up then).
bool readValue(AI_OBJ_ID id, AI_IED_CTRL *model, AI_OBJ_VAL *value) {
    std::memset(value, 0, sizeof *value);
    if (ai_read_obj_primVals_ad == nullptr) return false;
    return ai_read_obj_primVals_ad(id, model, value) == 0;
}

void cleanup(AI_OBJ_VAL *value) {
    if (ai_cleanup_objVals_ad != nullptr) ai_cleanup_objVals_ad(value);
}

// Element `pos` of the value, or null when the value has no such element.
AI_PRIM_VAL *element(const AI_OBJ_VAL &value, int pos) {
    if (pos < 0 || pos >= value.prim_num || value.prim_vals == nullptr) return nullptr;
    AI_PRIM_VAL *prim = &value.prim_vals[pos];
    return prim->data != nullptr ? prim : nullptr;
}

// Text of one element; empty when the stack cannot convert it.
QString elementText(const AI_PRIM_VAL &prim) {
    char text[VALUE_TEXT_BUF];
    std::memset(text, 0, sizeof text);
    if (ai_prim_value_to_str_ad != nullptr) ai_prim_value_to_str_ad(prim.type, prim.data, text);
    text[VALUE_TEXT_BUF - 1] = '\0';
    return QString::fromUtf8(text);
}

// Hands the first object read to the dialog on success.
void readDone(AC_REQ_CTRL *req_ctrl, ST_BOOLEAN flag, const char *ok, const char *failed) {
    if (req_ctrl == nullptr) return;
    if (req_ctrl->result != 0) {
        pane(failed);
        return;
    }
    pane(ok);
    const AC_READ_REQ_CTRL &rd = req_ctrl->u.rdCtrl;
    if (rd.obj_ids == nullptr || rd.num_obj < 1 || dlg_rcb == nullptr) return;
    dlg_rcb->ShowBRcbValues(new ST_INT(rd.obj_ids[0]), flag);
}

void doneLine(AC_REQ_CTRL *req_ctrl, const char *ok, const char *failed) {
    if (req_ctrl == nullptr) return;
    pane(req_ctrl->result == 0 ? ok : failed);
}

}  // namespace

dialog_rcb::dialog_rcb(QWidget *parent) : QDialog(parent) {
    qRegisterMetaType<ST_INT>("ST_INT");
    qRegisterMetaType<ST_BOOLEAN>("ST_BOOLEAN");
    qRegisterMetaType<ST_INT *>("ST_INT*");

    widget.setupUi(this);
    // The form connects nothing by name (connectslotsbyname="false"): each
    // button's handler is connected here, checked by the compiler.
    connect(widget.rB_BR, &QAbstractButton::clicked, this, &dialog_rcb::on_rB_BR_clicked);
    connect(widget.rB_RP, &QAbstractButton::clicked, this, &dialog_rcb::on_rB_RP_clicked);
    connect(widget.pB_RptID, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_RptID_clicked);
    connect(widget.pB_DataSetRef, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_DataSetRef_clicked);
    connect(widget.pB_OptFlds, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_OptFlds_clicked);
    connect(widget.pB_TrgOps, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_TrgOps_clicked);
    connect(widget.pB_EntryID, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_EntryID_clicked);
    connect(widget.pB_EntryTm, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_EntryTm_clicked);
    connect(widget.pB_RptEna, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_RptEna_clicked);
    connect(widget.pB_ConfRev, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_ConfRev_clicked);
    connect(widget.pB_SqNum, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_SqNum_clicked);
    connect(widget.pB_GI, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_GI_clicked);
    connect(widget.pB_BufTm, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_BufTm_clicked);
    connect(widget.pB_IntgPd, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_IntgPd_clicked);
    connect(widget.pB_PurgeBuf, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_PurgeBuf_clicked);
    connect(widget.pB_Resv, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_Resv_clicked);
    connect(widget.pB_GetRcbValues, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_GetRcbValues_clicked);
    connect(widget.pB_SetRcbValues, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_SetRcbValues_clicked);
    connect(widget.pB_EnableRpt, &QAbstractButton::clicked, this, &dialog_rcb::on_pB_EnableRpt_clicked);
    widget.rB_BR->setChecked(true);

    tbmodel = new QStandardItemModel(this);
    widget.tV_RCB->setModel(tbmodel);
    tbmodel->setHorizontalHeaderItem(0, new QStandardItem(tr("RCB Name")));
    widget.tV_RCB->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    widget.tV_RCB->verticalHeader()->hide();
    widget.tV_RCB->setEditTriggers(QAbstractItemView::NoEditTriggers);

    for (QComboBox *cb : {widget.cB_GI, widget.cB_PurgeBuf, widget.cB_Resv, widget.cB_RptEna}) {
        cb->addItem(QStringLiteral("false"));
        cb->addItem(QStringLiteral("true"));
    }

    srv_id = -1;
    obj_id = -1;

    connect(this, &dialog_rcb::s_ShowBRcbValues, this, &dialog_rcb::t_ShowBRcbValues, Qt::QueuedConnection);
}

dialog_rcb::~dialog_rcb() {
    if (dlg_rcb == this) dlg_rcb = nullptr;
    delete tbmodel;
}

void dialog_rcb::SetIds(int srv, int obj) {
    srv_id = srv;
    obj_id = obj;
}

void dialog_rcb::box(const QString &title, const QString &text) {
    if (box_hook != nullptr) {
        box_hook(title, text);
        return;
    }
    QMessageBox::warning(nullptr, title, text, QMessageBox::Ok);
}

bool dialog_rcb::_is_fco_fc_brrpt(const char *ref) {
    const size_t n = ref != nullptr ? std::strlen(ref) : 0;
    return n >= 2 && std::strcmp(ref + n - 2, "BR") == 0;
}

bool dialog_rcb::_is_fco_fc_ubrrpt(const char *ref) {
    const size_t n = ref != nullptr ? std::strlen(ref) : 0;
    return n >= 2 && std::strcmp(ref + n - 2, "RP") == 0;
}

void dialog_rcb::setcbv(QComboBox *cb, const QString &text) {
    if (text == QLatin1String("true") || text == QLatin1String("TRUE"))
        cb->setCurrentIndex(1);
    else if (text == QLatin1String("false") || text == QLatin1String("FALSE"))
        cb->setCurrentIndex(0);
}

bool dialog_rcb::selectedBlock(QByteArray *ref) {
    const int row = widget.tV_RCB->currentIndex().row();
    if (row < 0) {
        box(QStringLiteral("warning"), tr("未选择RCB名称,请重新选择!"));
        return false;
    }
    *ref = tbmodel->index(row, 0).data().toString().toLatin1();
    return true;
}

// ---- block list ---------------------------------------------------------------

void dialog_rcb::on_rB_BR_clicked() { InitBRCBShowInfo(true); }

void dialog_rcb::on_rB_RP_clicked() { InitBRCBShowInfo(false); }

void dialog_rcb::InitBRCBShowInfo(bool buffered) {
    AI_IED_CTRL *model = modelOf(srv_id);
    if (model == nullptr) return;
    tbmodel->removeRows(0, tbmodel->rowCount());

    char ref[REF_BUF];
    std::memset(ref, 0, sizeof ref);
    if (ai_obj_id_to_ref_ad != nullptr) ai_obj_id_to_ref_ad(model, obj_id, ref);
    ref[REF_BUF - 1] = '\0';

    AI_OBJ_ID *children = nullptr;
    ST_INT count = 0;
    if (ai_get_obj_dir_ad == nullptr || ai_get_obj_dir_ad(model, obj_id, 0, &children, &count) != 0 ||
        children == nullptr)
        count = 0;

    // The test is on the dialog's node: either every child is listed or none.
    if ((buffered && _is_fco_fc_ubrrpt(ref)) || (!buffered && _is_fco_fc_brrpt(ref))) return;
    for (int i = 0; i < count; ++i) {
        char child[REF_BUF];
        std::memset(child, 0, sizeof child);
        if (ai_obj_id_to_ref_ad != nullptr) ai_obj_id_to_ref_ad(model, children[i], child);
        child[REF_BUF - 1] = '\0';
        tbmodel->appendRow(new QStandardItem(QString::fromLatin1(child)));
    }
}

// ---- reading a block -------------------------------------------------------------

void dialog_rcb::on_pB_GetRcbValues_clicked() {
    QByteArray ref;
    if (!selectedBlock(&ref)) return;
    getRcbValues(ref);
}

void dialog_rcb::getRcbValues(const QByteArray &rcbref) {
    AI_IED_CTRL *model = modelOf(srv_id);
    if (model == nullptr) return;
    AI_OBJ_ID id = refToId(model, rcbref.constData());
    if (id == -1) return;

    AC_READ_REQ_INFO req;
    std::memset(&req, 0, sizeof req);
    req.obj_ids = &id;
    req.num_obj = 1;
    req.u_read_done = widget.rB_BR->isChecked() ? demo_c_getbrcbv_req_done : demo_c_geturcbv_req_done;
    if (ac_read_obj_value_ad != nullptr) ac_read_obj_value_ad(srv_id, &req, 15, nullptr);
}

void dialog_rcb::ShowBRcbValues(ST_INT *id, ST_BOOLEAN flag) { emit s_ShowBRcbValues(id, flag); }

void dialog_rcb::t_ShowBRcbValues(ST_INT *id, ST_BOOLEAN flag) {
    std::unique_ptr<ST_INT> cell(id);  // released on every way out
    if (cell == nullptr) return;
    AI_IED_CTRL *model = modelOf(srv_id);
    if (model == nullptr) return;
    AI_OBJ_VAL value;
    if (!readValue(*cell, model, &value)) return;
    ShowRcbElements(value, flag);
    cleanup(&value);
}

void dialog_rcb::ShowRcbElements(const AI_OBJ_VAL &value, ST_BOOLEAN flag) {
    const bool buffered = flag != 0;
    struct Target {
        Element e;
        QLineEdit *edit;
        QComboBox *combo;
    };
    const Target targets[] = {
        {RptID, widget.lE_RptID, nullptr},     {RptEna, nullptr, widget.cB_RptEna},
        {Resv, nullptr, widget.cB_Resv},       {DatSet, widget.lE_DataSetRef, nullptr},
        {ConfRev, widget.lE_ConfRev, nullptr}, {OptFlds, widget.lE_OptFlds, nullptr},
        {BufTm, widget.lE_BufTm, nullptr},     {SqNum, widget.lE_SqNum, nullptr},
        {TrgOps, widget.lE_TrgOps, nullptr},   {IntgPd, widget.lE_IntgPd, nullptr},
        {GI, nullptr, widget.cB_GI},           {PurgeBuf, nullptr, widget.cB_PurgeBuf},
        {EntryID, widget.lE_EntryID, nullptr},
    };
    for (const Target &t : targets) {
        const AI_PRIM_VAL *prim = element(value, position(t.e, buffered));
        if (prim == nullptr) continue;
        const QString text = elementText(*prim);
        if (t.edit != nullptr)
            t.edit->setText(text);
        else
            setcbv(t.combo, text);
    }
}

// ---- single attributes -------------------------------------------------------------

int dialog_rcb::fullObjWriteInfo(const char *suffix, const QByteArray &valtext) {
    AI_IED_CTRL *model = modelOf(srv_id);
    if (model == nullptr) return 1;
    QByteArray block;
    if (!selectedBlock(&block)) return 1;

    // The attribute reference has room for ATTR_REF_MAX characters; a longer
    // one is refused rather than cut.
    char attr[ATTR_REF_BUF];
    std::memset(attr, 0, sizeof attr);
    const size_t suffix_len = std::strlen(suffix);
    if (static_cast<size_t>(block.size()) + suffix_len > static_cast<size_t>(ATTR_REF_MAX)) return 1;
    std::memcpy(attr, block.constData(), static_cast<size_t>(block.size()));
    std::memcpy(attr + block.size(), suffix, suffix_len);

    const AI_OBJ_ID id = refToId(model, attr);
    if (id == -1) return 1;
    return OnWriteObjVal(id, valtext);
}

int dialog_rcb::OnWriteObjVal(AI_OBJ_ID id, const QByteArray &valtext) {
    AI_IED_CTRL *model = modelOf(srv_id);
    AI_OBJ_VAL value;
    if (!readValue(id, model, &value)) return 1;

    int result = 1;
    AI_PRIM_VAL *prim = element(value, 0);
    if (prim != nullptr && prim->size > 0 && ai_prim_str_to_value_ad != nullptr) {
        // The stack writes the stored form of the type, which is the element's size.
        QByteArray scratch(qMax(prim->size, VALUE_TEXT_BUF), '\0');
        if (ai_prim_str_to_value_ad(prim->type, valtext.constData(), scratch.data()) == 0) {
            std::memcpy(prim->data, scratch.constData(), static_cast<size_t>(prim->size));
            AC_WRITE_REQ_INFO req;
            std::memset(&req, 0, sizeof req);
            req.obj_vals = &value;
            req.num_obj = 1;
            req.u_write_done = demo_c_setRptAttri_req_done;
            // Any non-zero answer means the request was not queued.
            if (ac_write_obj_value_ad != nullptr) result = ac_write_obj_value_ad(srv_id, &req, 15, nullptr) != 0;
        }
    }
    cleanup(&value);
    return result;
}

void dialog_rcb::writeAttribute(const char *suffix, const QString &text, const char *failed, const char *ok) {
    char buf[SUFFIX_BUF];
    std::memset(buf, 0, sizeof buf);
    qstrncpy(buf, suffix, sizeof buf);
    const int result = fullObjWriteInfo(buf, text.toLatin1());
    box(QStringLiteral("warning"), tr(result != 0 ? failed : ok));
}

void dialog_rcb::on_pB_RptID_clicked() {
    writeAttribute("$RptID", widget.lE_RptID->text(), QT_TR_NOOP("set RptID value failure!"),
                   QT_TR_NOOP("set RptID value success!"));
}
void dialog_rcb::on_pB_DataSetRef_clicked() {
    writeAttribute("$DatSet", widget.lE_DataSetRef->text(), QT_TR_NOOP("set DataSet value failure!"),
                   QT_TR_NOOP("set DataSet value success!"));
}
void dialog_rcb::on_pB_OptFlds_clicked() {
    writeAttribute("$OptFlds", widget.lE_OptFlds->text(), QT_TR_NOOP("set OptFlds value failure!"),
                   QT_TR_NOOP("set OptFlds value success!"));
}
void dialog_rcb::on_pB_TrgOps_clicked() {
    writeAttribute("$TrgOps", widget.lE_TrgOps->text(), QT_TR_NOOP("set TrgOps value failure!"),
                   QT_TR_NOOP("set TrgOps value success!"));
}
void dialog_rcb::on_pB_EntryID_clicked() {
    writeAttribute("$EntryID", widget.lE_EntryID->text(), QT_TR_NOOP("set EntryID value failure!"),
                   QT_TR_NOOP("set EntryID value success!"));
}
void dialog_rcb::on_pB_EntryTm_clicked() {
    writeAttribute("$EntryTm", widget.lE_EntryTm->text(), QT_TR_NOOP("set EntryTm value failure!"),
                   QT_TR_NOOP("set EntryTm value success!"));
}
void dialog_rcb::on_pB_RptEna_clicked() {
    writeAttribute("$RptEna", widget.cB_RptEna->currentText(), QT_TR_NOOP("set RptEna value failure!"),
                   QT_TR_NOOP("set RptEna value success!"));
}
void dialog_rcb::on_pB_ConfRev_clicked() {
    writeAttribute("$ConfRev", widget.lE_ConfRev->text(), QT_TR_NOOP("set ConfRev value failure!"),
                   QT_TR_NOOP("set ConfRev value success!"));
}
void dialog_rcb::on_pB_SqNum_clicked() {
    writeAttribute("$SqNum", widget.lE_SqNum->text(), QT_TR_NOOP("set SqNum value failure!"),
                   QT_TR_NOOP("set SqNum value success!"));
}
void dialog_rcb::on_pB_GI_clicked() {
    writeAttribute("$GI", widget.cB_GI->currentText(), QT_TR_NOOP("set GI value failure!"),
                   QT_TR_NOOP("set GI value success!"));
}
void dialog_rcb::on_pB_BufTm_clicked() {
    writeAttribute("$BufTm", widget.lE_BufTm->text(), QT_TR_NOOP("set BufTm value failure!"),
                   QT_TR_NOOP("set BufTm value success!"));
}
void dialog_rcb::on_pB_IntgPd_clicked() {
    writeAttribute("$IntgPd", widget.lE_IntgPd->text(), QT_TR_NOOP("set IntgPd value failure!"),
                   QT_TR_NOOP("set IntgPd value success!"));
}
void dialog_rcb::on_pB_PurgeBuf_clicked() {
    writeAttribute("$PurgeBuf", widget.cB_PurgeBuf->currentText(), QT_TR_NOOP("set PurgeBuf value failure!"),
                   QT_TR_NOOP("set PurgeBuf value success!"));
}
void dialog_rcb::on_pB_Resv_clicked() {
    writeAttribute("$Resv", widget.cB_Resv->currentText(), QT_TR_NOOP("set Resv value failure!"),
                   QT_TR_NOOP("set Resv value success!"));
}

// ---- whole block -------------------------------------------------------------------

void dialog_rcb::on_pB_SetRcbValues_clicked() { OnSetrcbvaluebut(); }

void dialog_rcb::OnSetrcbvaluebut() {
    QByteArray ref;
    if (!selectedBlock(&ref)) return;
    AI_IED_CTRL *model = modelOf(srv_id);
    if (model == nullptr) return;
    const AI_OBJ_ID id = refToId(model, ref.constData());
    const bool buffered = widget.rB_BR->isChecked();

    AC_WRITE_REQ_INFO req;
    std::memset(&req, 0, sizeof req);
    req.num_obj = 1;
    req.u_write_done = buffered ? demo_c_setbrcbv_req_done : demo_c_seturcbv_req_done;

    AI_OBJ_VAL value;
    if (!readValue(id, model, &value)) return;
    GetBRcbValuesFormEdit(&value, buffered);

    for (Element e : {RptID, RptEna, DatSet, ConfRev, OptFlds, BufTm, SqNum, TrgOps, IntgPd, GI}) {
        const AI_PRIM_VAL *prim = element(value, position(e, buffered));
        if (prim != nullptr && w != nullptr) w->out_put(elementText(*prim));
    }

    req.obj_vals = &value;
    if (ac_write_obj_value_ad != nullptr && ac_write_obj_value_ad(srv_id, &req, 30, nullptr) != 0)
        pane("入发送队列失败!!!");
    cleanup(&value);
}

void dialog_rcb::GetBRcbValuesFormEdit(AI_OBJ_VAL *value, bool buffered) {
    if (value == nullptr || ai_prim_str_to_value_ad == nullptr) return;
    // ConfRev and SqNum belong to the device and are not written.
    struct Source {
        Element e;
        QString text;
    };
    const Source sources[] = {
        {RptID, widget.lE_RptID->text()},      {RptEna, widget.cB_RptEna->currentText()},
        {Resv, widget.cB_Resv->currentText()}, {DatSet, widget.lE_DataSetRef->text()},
        {OptFlds, widget.lE_OptFlds->text()},  {BufTm, widget.lE_BufTm->text()},
        {TrgOps, widget.lE_TrgOps->text()},    {IntgPd, widget.lE_IntgPd->text()},
        {GI, widget.cB_GI->currentText()},     {PurgeBuf, widget.cB_PurgeBuf->currentText()},
        {EntryID, widget.lE_EntryID->text()},
    };
    for (const Source &s : sources) {
        AI_PRIM_VAL *prim = element(*value, position(s.e, buffered));
        if (prim == nullptr) continue;
        // A text that does not convert leaves the element as the stack left it.
        ai_prim_str_to_value_ad(prim->type, s.text.toLatin1().constData(), prim->data);
    }
}

// ---- reporting on and off -------------------------------------------------------

void dialog_rcb::on_pB_EnableRpt_clicked() { OnEnablerpt(); }

AC_ENAREPORT_INFO dialog_rcb::EnableRequestFromEdit(AI_OBJ_ID rcb_id) {
    AC_ENAREPORT_INFO req;
    std::memset(&req, 0, sizeof req);
    req.rcb_id = rcb_id;
    req.OptFlds = 0x2000;
    req.TrgOps = 2;
    req.IntgPd = -1;
    req.rptEna = 0;
    req.u_rpt_done = _demo_parse_enaRpt_done;

    const QString ena = widget.cB_RptEna->currentText();
    if (ena == QLatin1String("true") || ena == QLatin1String("TRUE")) {
        req.rptEna = 1;
        req.IntgPd = widget.lE_IntgPd->text().toInt();
        // Bit strings are stored as a 16-bit bit count and then the octets.
        unsigned char area[4] = {0, 0, 0, 0};
        if (ai_prim_str_to_value_ad != nullptr)
            ai_prim_str_to_value_ad(VAL_TYPE_OPTFLDS, widget.lE_OptFlds->text().toLatin1().constData(), area);
        req.OptFlds = area[2] | (area[3] << 8);
        unsigned char trg[4] = {0, 0, 0, 0};
        if (ai_prim_str_to_value_ad != nullptr)
            ai_prim_str_to_value_ad(VAL_TYPE_TRGC, widget.lE_TrgOps->text().toLatin1().constData(), trg);
        req.TrgOps = static_cast<ST_INT8>(trg[2]);
    }
    return req;
}

void dialog_rcb::OnEnablerpt() {
    QByteArray ref;
    if (!selectedBlock(&ref)) return;
    AI_IED_CTRL *model = modelOf(srv_id);
    if (model == nullptr) return;
    AC_ENAREPORT_INFO req = EnableRequestFromEdit(refToId(model, ref.constData()));
    AC_REQ_CTRL *reqctl = nullptr;
    if (ac_rpt_enable_ad != nullptr) ac_rpt_enable_ad(srv_id, &req, 30, &reqctl);
}

// ---- completion functions (stack threads) ----------------------------------------

void dialog_rcb::demo_c_setRptAttri_req_done(AC_REQ_CTRL *req_ctrl) {
    doneLine(req_ctrl, "ac_write_obj_value success!!!", "ac_write_obj_value failure!!!");
}

void dialog_rcb::demo_c_getbrcbv_req_done(AC_REQ_CTRL *req_ctrl) {
    readDone(req_ctrl, 1, "a_ai_get_brcb_values success!!!", "a_ai_get_brcb_values failure!!!");
}

void dialog_rcb::demo_c_geturcbv_req_done(AC_REQ_CTRL *req_ctrl) {
    readDone(req_ctrl, 0, "a_ai_get_urcb_values success!!!", "a_ai_get_urcb_values failure!!!");
}

void dialog_rcb::demo_c_setbrcbv_req_done(AC_REQ_CTRL *req_ctrl) {
    doneLine(req_ctrl, "a_ai_set_brcb_values success!!!", "a_ai_set_brcb_values failure!!!");
}

void dialog_rcb::demo_c_seturcbv_req_done(AC_REQ_CTRL *req_ctrl) {
    doneLine(req_ctrl, "a_ai_set_urcb_values success!!!", "a_ai_set_urcb_values failure!!!");
}

void dialog_rcb::_demo_parse_enaRpt_done(AC_REQ_CTRL *req_ctrl) {
    doneLine(req_ctrl, "报告使能成功!!!", "报告使能失败!!!");
}
