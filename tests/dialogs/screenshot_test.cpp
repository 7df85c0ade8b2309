// Screenshots of the working dialogs: the report dialog with a block read
// from iedsim, the file dialog with a listing of its store and during a
// fetch, the control
// dialog with a refusal and its reason, the setting group dialog with the
// active group's settings, the log dialog with a query's entries. Every
// caption fits its widget. The pictures go to $TARNMON_SCREENSHOT_DIR when it is set
// (screenshots.sh, under Xvfb), else to a temporary directory. With
// TARNMON_LANG=en the dialogs are in English and the pictures are *_en.png.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "device_env.h"
#include "dialog_ctrl.h"
#include "dialog_filetran.h"
#include "dialog_lcb.h"
#include "dialog_rcb.h"
#include "dialog_sg.h"
#include "uilanguage.h"

namespace {

using dlgtest::waitFor;

// The interface language of the pictures: TARNMON_LANG, Chinese by default.
QString language() { return uilang::requested(QString()); }

QString shotPath(const char *name) {
    static QTemporaryDir fallback;
    const QString dir = qEnvironmentVariable("TARNMON_SCREENSHOT_DIR");
    QString file = QLatin1String(name);
    if (language() != QLatin1String("zh")) file.replace(QLatin1String(".png"), "_" + language() + ".png");
    return QDir(dir.isEmpty() ? fallback.path() : dir).filePath(file);
}

// Captions wider than the room their widget gives them.
QStringList clippedCaptions(QWidget *dialog) {
    QStringList clipped;
    for (QWidget *child : dialog->findChildren<QWidget *>()) {
        QString text;
        int room = 0;
        if (auto *b = qobject_cast<QPushButton *>(child)) {
            text = b->text();
            room = b->width() - 8;  // the frame and its padding
        } else if (auto *r = qobject_cast<QRadioButton *>(child)) {
            text = r->text();
            room = r->width() - 20;  // the indicator
        } else if (auto *l = qobject_cast<QLabel *>(child)) {
            text = l->text();
            room = l->contentsRect().width();
            // A word-wrapped label must hold its lines in its height.
            const int high = l->heightForWidth(room);
            if (l->wordWrap() && !text.isEmpty() && high > l->contentsRect().height())
                clipped << QStringLiteral("%1 \"%2\" needs %3 high has %4")
                               .arg(child->objectName(), text)
                               .arg(high)
                               .arg(l->contentsRect().height());
            if (l->wordWrap()) continue;
        } else {
            continue;
        }
        const int need = child->fontMetrics().horizontalAdvance(text);
        if (!text.isEmpty() && need > room)
            clipped << QStringLiteral("%1 \"%2\" needs %3 has %4").arg(child->objectName(), text).arg(need).arg(room);
    }
    return clipped;
}

void save(QWidget *dialog, const char *name) {
    dialog->show();
    dialog->raise();
    dlgtest::idle(300);  // mapped and painted
    const QPixmap shot = dialog->grab();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size() / shot.devicePixelRatio(), dialog->size());
    ASSERT_TRUE(shot.save(shotPath(name), "PNG")) << shotPath(name).toStdString();
}

class Screenshot : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(uilang::apply(language())); }
    static void TearDownTestSuite() { uilang::apply(QStringLiteral("zh")); }
    void TearDown() override {
        for (QDialog *d :
             {static_cast<QDialog *>(dlg_ctrl), static_cast<QDialog *>(dlg_lcb), static_cast<QDialog *>(dlg_sg)})
            if (d != nullptr) d->close();
        dlgtest::settle();
        device.reset();
        dialog_rcb::box_hook = nullptr;
        dialog_filetran::box_hook = nullptr;
        dialog_ctrl::confirm_hook = nullptr;
        dialog_lcb::box_hook = nullptr;
        dialog_sg::box_hook = nullptr;
    }
    // The bay device, and the context menu's entry on `ref` picked.
    void bay(const char *ref, QAction *action, const char *keyword) {
        device = std::make_unique<dlgtest::Device>(std::vector<std::string>{"--ctl-exec-ms", "20"}, "BAYIED");
        ASSERT_TRUE(device->start()) << device->error.toStdString();
        w->srv_id_s = 1;
        w->obj_id_s = ai_obj_ref_to_id_ad(ac_get_srvm_ied_ad(1), ref);
        w->SetControlState({QString::fromLatin1(keyword)});
        action->trigger();
        dlgtest::settle();
    }
    dlgtest::MainWindowPane pane;
    std::unique_ptr<dlgtest::Device> device;
};

TEST_F(Screenshot, ReportDialogWithABlockReadFromTheDevice) {
    dialog_rcb::box_hook = dlgtest::recordBox;
    device = std::make_unique<dlgtest::Device>();
    ASSERT_TRUE(device->start()) << device->error.toStdString();
    dialog_rcb *dlg = dlg_rcb;
    AI_IED_CTRL *model = ac_get_srvm_ied_ad(0);
    dlg->SetIds(0, ai_obj_ref_to_id_ad(model, "CMIEDMON/LLN0$BR"));
    dlg->widget.rB_BR->click();
    ASSERT_GE(dlg->tbmodel->rowCount(), 2);
    dlg->widget.tV_RCB->setCurrentIndex(dlg->tbmodel->index(1, 0));
    dlg->widget.pB_GetRcbValues->click();
    ASSERT_TRUE(waitFor([&] { return dlg->widget.lE_RptID->text() == QLatin1String("CMIED_Temp"); }));
    save(dlg, "dialog_rcb.png");
    EXPECT_EQ(clippedCaptions(dlg), QStringList());
    dlg->hide();
}

TEST_F(Screenshot, FileDialogWithAListingOfTheDevice) {
    dialog_filetran::box_hook = dlgtest::recordBox;
    device = std::make_unique<dlgtest::Device>(std::vector<std::string>{"--recordings", "3"});
    ASSERT_TRUE(device->start()) << device->error.toStdString();
    dialog_filetran dlg;
    dlg_filetran = &dlg;
    dlg.widget.lE_path->setText(QStringLiteral("COMTRADE"));
    dlg.widget.pB_getfilelist->click();
    ASSERT_TRUE(waitFor([&] { return dlg.tbmodel->rowCount() == 6; }));
    dlg.widget.tV_file->setCurrentIndex(dlg.tbmodel->index(0, 0));
    dlg.widget.lE_downfilename->setText(QStringLiteral("/home/user/录波/rec001.dat"));
    dlg.widget.lE_filename->setText(QStringLiteral("rec001.dat"));
    save(&dlg, "dialog_filetran.png");
    EXPECT_EQ(clippedCaptions(&dlg), QStringList());
}

TEST_F(Screenshot, FileDialogDuringALongFetch) {
    dialog_filetran::box_hook = dlgtest::recordBox;
    // The smallest PDU: the fetch of 8 MiB takes about 40,000 requests.
    device = std::make_unique<dlgtest::Device>(std::vector<std::string>{"--recordings", "2", "--pdu-size", "256"});
    const QString big = device->file(QStringLiteral("COMTRADE/CMIED_20261207081500123_long.dat"));
    QDir().mkpath(QFileInfo(big).path());
    QFile f(big);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8 << 20, '7'));
    f.close();
    ASSERT_TRUE(device->start()) << device->error.toStdString();
    dialog_filetran dlg;
    dlg_filetran = &dlg;
    dlg.widget.lE_path->setText(QStringLiteral("COMTRADE"));
    dlg.widget.pB_getfilelist->click();
    ASSERT_TRUE(waitFor([&] { return dlg.tbmodel->rowCount() == 5; }));
    const auto rows = dlg.tbmodel->match(dlg.tbmodel->index(0, 0), Qt::DisplayRole,
                                         QStringLiteral("COMTRADE/") + QFileInfo(big).fileName());
    ASSERT_EQ(rows.size(), 1);
    dlg.widget.tV_file->setCurrentIndex(rows[0]);
    dlg.show();
    dlgtest::idle(300);  // mapped and painted
    dlg.widget.pB_fileupload->click();
    QProgressBar *bar = dlg.widget.prB_transfer;
    ASSERT_TRUE(waitFor([&] { return bar->value() >= bar->maximum() / 4; }, 120000));
    const QPixmap shot = dlg.grab();  // as it is drawn now, the fetch running on
    EXPECT_LT(bar->value(), bar->maximum()) << "the fetch ended before the picture";
    ASSERT_TRUE(shot.save(shotPath("dialog_filetran_progress.png"), "PNG"));
    EXPECT_EQ(clippedCaptions(&dlg), QStringList());
    ASSERT_TRUE(waitFor(
        [&] { return dlg.widget.lb_transfer->text() == QCoreApplication::translate("dialog_filetran", "上载完成"); },
        120000));
    EXPECT_EQ(clippedCaptions(&dlg), QStringList());
    QFile::remove(QDir::current().filePath(QFileInfo(big).fileName()));
}

TEST_F(Screenshot, ControlDialogWithARefusalAndItsReason) {
    dialog_ctrl::confirm_hook = [](const QString &, const QString &) { return true; };
    bay("BAYIEDCTRL/CSWI1$ST$Pos", w->act_control, "control");
    dialog_ctrl *dlg = dlg_ctrl;
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(waitFor([&] { return dlg->widget.pB_selv->isEnabled(); }));
    dlg->widget.pB_op->click();
    const QString refused = QCoreApplication::translate("dialog_ctrl", "失败:") +
                            QCoreApplication::translate("iedobj", "对象未选择");
    ASSERT_TRUE(waitFor([&] { return dlg->widget.lb_opinfo->text() == refused; }));
    save(dlg, "dialog_ctrl.png");
    EXPECT_EQ(clippedCaptions(dlg), QStringList());
}

TEST_F(Screenshot, SettingGroupDialogWithTheActiveGroupsSettings) {
    dialog_sg::box_hook = dlgtest::recordBox;
    bay("BAYIEDCTRL", w->act_fixedValue, "fixedValue");
    dialog_sg *dlg = dlg_sg;
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(waitFor([&] { return dlg->widget.cB_OPSGNo->count() == 4; }));
    dlg->widget.cB_OPSGNo->setCurrentIndex(1);
    dlg->widget.pB_CHGACTSGNo->click();
    ASSERT_TRUE(waitFor([&] { return dlg->widget.lE_ACTSGNo->text() == QLatin1String("2"); }));
    dlg->widget.pB_ReadSG->click();
    ASSERT_TRUE(waitFor([&] { return dlg->tbmodel->rowCount() == 3; }));
    save(dlg, "dialog_sg.png");
    EXPECT_EQ(clippedCaptions(dlg), QStringList());
}

TEST_F(Screenshot, LogDialogWithTheEntriesOfAQuery) {
    dialog_lcb::box_hook = dlgtest::recordBox;
    bay("BAYIEDCTRL/LLN0$LG$lcbStatus", w->act_log, "log");
    dialog_lcb *dlg = dlg_lcb;
    ASSERT_NE(dlg, nullptr);
    for (const char *v : {"10", "01", "10", "01"}) ASSERT_TRUE(device->set("BAYIEDCTRL/XCBR1$ST$Pos$stVal", v));
    ASSERT_TRUE(device->set("BAYIEDCTRL/XCBR1$ST$OpCnt$stVal", "13"));
    ASSERT_TRUE(waitFor([&] { return dlg->widget.lineEdit_5->text() == QLatin1String("BAYIEDCTRL/BayLog"); }));
    dlg->widget.pushButton_9->click();
    ASSERT_TRUE(waitFor([&] { return !dlg->widget.lineEdit_9->text().isEmpty(); }));
    dlg->widget.pushButton_10->click();
    ASSERT_TRUE(waitFor([&] { return dlg->tbmodel->rowCount() == 5; }));
    dlg->widget.tableView->clicked(dlg->tbmodel->index(1, 0));
    save(dlg, "dialog_lcb.png");
    EXPECT_EQ(clippedCaptions(dlg), QStringList());
}

}  // namespace
