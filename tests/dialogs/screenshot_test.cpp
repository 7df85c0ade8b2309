// Screenshots of the working dialogs: the report dialog with a block read
// from iedsim, the file dialog with a listing of its store. Every caption
// fits its widget. The pictures go to $TARNMON_SCREENSHOT_DIR when it is set
// (screenshots.sh, under Xvfb), else to a temporary directory.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "device_env.h"
#include "dialog_filetran.h"
#include "dialog_rcb.h"

namespace {

using dlgtest::waitFor;

QString shotPath(const char *name) {
    static QTemporaryDir fallback;
    const QString dir = qEnvironmentVariable("TARNMON_SCREENSHOT_DIR");
    return QDir(dir.isEmpty() ? fallback.path() : dir).filePath(QLatin1String(name));
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
    void TearDown() override {
        device.reset();
        dialog_rcb::box_hook = nullptr;
        dialog_filetran::box_hook = nullptr;
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

}  // namespace
