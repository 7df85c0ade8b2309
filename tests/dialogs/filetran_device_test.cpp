// The file transfer dialog against iedsim, through its widgets: listings of
// the device's file store as the device names its files, fetching a listed
// file into the working directory byte for byte, sending a local file (the
// listing follows), deleting it, the device's refusals, a listing that
// replaces the one before, and the progress of long fetches and sends.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTableView>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "device_env.h"
#include "dialog_filetran.h"

namespace {

using dlgtest::Box;
using dlgtest::boxes;
using dlgtest::waitFor;

class FileDevice : public ::testing::Test {
protected:
    // Two recordings in COMTRADE/ (and a file at the root of the store).
    virtual std::vector<std::string> deviceOptions() const { return {"--recordings", "2"}; }
    void SetUp() override {
        dialog_filetran::box_hook = dlgtest::recordBox;
        boxes().clear();
        device = std::make_unique<dlgtest::Device>(deviceOptions());
        QFile notes(device->file(QStringLiteral("notes.txt")));
        ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
        notes.write("line one\r\nline two\n\x01\xff");
        notes.close();
        ASSERT_TRUE(device->start()) << device->error.toStdString();
        dlg = new dialog_filetran();  // after the stack: its server list is the station's
        dlg_filetran = dlg;
        ASSERT_EQ(dlg->widget.cB_server->currentText(), QStringLiteral("CMIED"));
        pane.mark();
    }
    void TearDown() override {
        delete dlg;
        device.reset();
        dialog_filetran::box_hook = nullptr;
    }

    QStringList column(int col) const {
        QStringList r;
        for (int i = 0; i < dlg->tbmodel->rowCount(); ++i) r << dlg->tbmodel->index(i, col).data().toString();
        return r;
    }
    bool paneHas(const char *line) { return pane.lines().contains(QString::fromUtf8(line)); }
    int paneCount(const char *line) { return pane.lines().count(QString::fromUtf8(line)); }
    // Lists `path` with the button and waits for the answer.
    void list(const QString &path) {
        const int before = paneCount("获取文件列表成功!!!") + paneCount("获取文件列表失败!!!");
        dlg->widget.lE_path->setText(path);
        dlg->widget.pB_getfilelist->click();
        ASSERT_TRUE(
            waitFor([&] { return paneCount("获取文件列表成功!!!") + paneCount("获取文件列表失败!!!") > before; }));
        dlgtest::settle();
    }
    int rowOf(const QString &name) const { return column(0).indexOf(name); }
    void select(const QString &name) {
        const int row = rowOf(name);
        ASSERT_GE(row, 0) << name.toStdString() << " not listed: " << column(0).join('|').toStdString();
        dlg->widget.tV_file->setCurrentIndex(dlg->tbmodel->index(row, 0));
    }
    // The recordings in the device's store, relative to it, sorted.
    QStringList recordings(const char *suffix = "") const {
        QStringList r;
        for (const QString &f : QDir(device->file("COMTRADE")).entryList(QDir::Files, QDir::Name))
            if (f.endsWith(QLatin1String(suffix))) r << QStringLiteral("COMTRADE/") + f;
        return r;
    }

    dlgtest::MainWindowPane pane;  // its working directory receives fetched files
    std::unique_ptr<dlgtest::Device> device;
    dialog_filetran *dlg = nullptr;
};

// ---- names as listed, fetched unchanged --------------------------------------------------

struct Listed {
    const char *name;
    QString path;    // what is typed into the path edit
    QString prefix;  // how the device writes the folder in its answer
    bool with_root_file;
    const char *suffix;  // only these recordings are listed
};

void PrintTo(const Listed &l, std::ostream *os) { *os << l.name; }

class FileListing : public FileDevice, public ::testing::WithParamInterface<Listed> {};

TEST_P(FileListing, ShowsTheDevicesNamesSizesAndDatesAndFetchesEachByItsListedName) {
    const Listed &p = GetParam();
    list(p.path);
    ASSERT_TRUE(paneHas("获取文件列表成功!!!")) << pane.lines().join('|').toStdString();

    QStringList stored = recordings(p.suffix);
    ASSERT_EQ(stored.size(), QString(p.suffix).isEmpty() ? 4 : 2);
    if (p.with_root_file) stored << QStringLiteral("notes.txt");
    QStringList expected;  // in the order of `stored`
    for (const QString &s : stored) expected << (s.startsWith(QLatin1String("COMTRADE/")) ? p.prefix + s.mid(9) : s);
    QStringList shown = column(0);
    shown.sort();
    QStringList sorted = expected;
    sorted.sort();
    ASSERT_EQ(shown, sorted);

    for (int i = 0; i < stored.size(); ++i) {
        const QString listed = expected[i];
        const QString on_device = stored[i];
        SCOPED_TRACE(listed.toStdString());
        const int row = rowOf(listed);
        const QFileInfo info(device->file(on_device));
        EXPECT_EQ(dlg->tbmodel->index(row, 1).data().toString(), QString::number(info.size()));
        EXPECT_EQ(dlg->tbmodel->index(row, 2).data().toString(),
                  QDateTime::fromSecsSinceEpoch(info.lastModified().toSecsSinceEpoch())
                      .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));

        // Fetched under the part after the last "/", into the working directory.
        boxes().clear();
        const int fetched = paneCount("文件上载成功!!!");
        select(listed);
        dlg->widget.pB_fileupload->click();
        EXPECT_EQ(boxes(), std::vector<Box>({{"上载文件", "上载文件成功!"}}));
        ASSERT_TRUE(waitFor([&] { return paneCount("文件上载成功!!!") > fetched || paneHas("文件上载失败!!!"); }));
        ASSERT_FALSE(paneHas("文件上载失败!!!"));
        const QString local = QDir::current().filePath(info.fileName());
        EXPECT_EQ(dlgtest::contents(local), dlgtest::contents(info.filePath()));
        EXPECT_FALSE(QFile::exists(local + ".part"));
    }
}

INSTANTIATE_TEST_SUITE_P(Device, FileListing,
                         ::testing::Values(Listed{"WholeStore", "", "COMTRADE/", true, ""},
                                           Listed{"StoreRoot", "/", "COMTRADE/", true, ""},
                                           Listed{"Folder", "COMTRADE", "COMTRADE/", false, ""},
                                           Listed{"FolderFromRoot", "/COMTRADE", "/COMTRADE/", false, ""},
                                           Listed{"Pattern", "COMTRADE/*.cfg", "COMTRADE/", false, ".cfg"}),
                         [](const ::testing::TestParamInfo<Listed> &info) { return std::string(info.param.name); });

TEST_F(FileDevice, SecondListingReplacesTheFirst) {
    list(QStringLiteral("COMTRADE"));
    ASSERT_EQ(dlg->tbmodel->rowCount(), 4);
    ASSERT_EQ(device->ask("record").substr(0, 9), "COMTRADE/");
    list(QStringLiteral("COMTRADE"));
    QStringList shown = column(0);
    EXPECT_EQ(shown.size(), 6);
    EXPECT_EQ(QSet<QString>(shown.begin(), shown.end()).size(), 6);  // nothing twice
    list(QStringLiteral("COMTRADE/*.dat"));
    shown = column(0);
    shown.sort();
    EXPECT_EQ(shown, recordings(".dat"));
    EXPECT_EQ(dlg->tbmodel->columnCount(), 3);
}

TEST_F(FileDevice, ListingOfAMissingFolderFailsAndKeepsTheTable) {
    list(QStringLiteral("COMTRADE"));
    const QStringList before = column(0);
    list(QStringLiteral("NOSUCHDIR"));
    // A folder that does not exist lists nothing, or the device refuses it;
    // a refusal leaves the table as it was.
    if (paneHas("获取文件列表失败!!!"))
        EXPECT_EQ(column(0), before);
    else
        EXPECT_EQ(dlg->tbmodel->rowCount(), 0);
    EXPECT_EQ(boxes(), std::vector<Box>());
}

// ---- send and delete --------------------------------------------------------------------

TEST_F(FileDevice, SentFileIsStoredAndListedThenDeleteRemovesIt) {
    QTemporaryDir local;
    const QString path = local.filePath(QStringLiteral("sent.dat"));
    QByteArray bytes;
    for (int i = 0; i < 70000; ++i) bytes.append(char(i * 7 % 251));  // more than one PDU
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();

    list(QStringLiteral("COMTRADE"));
    dlg->widget.lE_downfilename->setText(path);
    dlg->widget.lE_filename->setText(QStringLiteral("COMTRADE/sent.dat"));
    pane.mark();
    dlg->widget.pB_filedown->click();
    EXPECT_EQ(boxes(), std::vector<Box>({{"下装文件", "下装文件成功!"}}));
    ASSERT_TRUE(waitFor([&] { return paneHas("下装文件成功!!!") || paneHas("下装文件失败!!!"); }));
    ASSERT_TRUE(paneHas("下装文件成功!!!")) << pane.lines().join('|').toStdString();
    EXPECT_EQ(dlgtest::contents(device->file("COMTRADE/sent.dat")), bytes);
    // The listing follows by itself.
    ASSERT_TRUE(waitFor([&] { return rowOf(QStringLiteral("COMTRADE/sent.dat")) >= 0; }))
        << column(0).join('|').toStdString();
    EXPECT_EQ(dlg->tbmodel->index(rowOf("COMTRADE/sent.dat"), 1).data().toString(), QStringLiteral("70000"));
    EXPECT_EQ(dlg->tbmodel->rowCount(), 5);

    boxes().clear();
    pane.mark();
    select(QStringLiteral("COMTRADE/sent.dat"));
    dlg->widget.pB_filedel->click();
    EXPECT_EQ(boxes(), std::vector<Box>());
    ASSERT_TRUE(waitFor([&] { return paneHas("删除文件成功!!!") || paneHas("删除文件失败!!!"); }));
    ASSERT_TRUE(paneHas("删除文件成功!!!")) << pane.lines().join('|').toStdString();
    EXPECT_FALSE(QFile::exists(device->file("COMTRADE/sent.dat")));
    ASSERT_TRUE(waitFor([&] { return rowOf(QStringLiteral("COMTRADE/sent.dat")) < 0; }));
    EXPECT_EQ(dlg->tbmodel->rowCount(), 4);
}

TEST_F(FileDevice, SendUnderANameTheDeviceHasFailsAndLeavesItsFile) {
    QTemporaryDir local;
    const QString path = local.filePath(QStringLiteral("notes.txt"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("other");
    f.close();
    const QByteArray before = dlgtest::contents(device->file("notes.txt"));
    dlg->widget.lE_downfilename->setText(path);
    dlg->widget.lE_filename->setText(QStringLiteral("notes.txt"));
    dlg->widget.pB_filedown->click();
    EXPECT_EQ(boxes(), std::vector<Box>({{"下装文件", "下装文件成功!"}}));  // queued
    ASSERT_TRUE(waitFor([&] { return paneHas("下装文件成功!!!") || paneHas("下装文件失败!!!"); }));
    EXPECT_TRUE(paneHas("下装文件失败!!!")) << pane.lines().join('|').toStdString();
    EXPECT_EQ(dlg->widget.lb_transfer->text(), QStringLiteral("下装失败"));
    EXPECT_EQ(dlgtest::contents(device->file("notes.txt")), before);
    dlgtest::idle(200);
    EXPECT_FALSE(paneHas("获取文件列表成功!!!"));  // no listing after a failure
}

TEST_F(FileDevice, FileGoneFromTheDeviceFailsToFetchAndToDeleteAndLeavesNothing) {
    list(QStringLiteral("COMTRADE"));
    const QString gone = recordings(".cfg").value(0);
    ASSERT_FALSE(gone.isEmpty());
    ASSERT_TRUE(QFile::remove(device->file(gone)));  // behind the dialog's back
    const QStringList before = column(0);

    select(gone);
    dlg->widget.pB_fileupload->click();
    EXPECT_EQ(boxes(), std::vector<Box>({{"上载文件", "上载文件成功!"}}));  // queued
    ASSERT_TRUE(waitFor([&] { return paneHas("文件上载成功!!!") || paneHas("文件上载失败!!!"); }));
    EXPECT_TRUE(paneHas("文件上载失败!!!"));
    EXPECT_EQ(dlg->widget.lb_transfer->text(), QStringLiteral("上载失败"));
    const QString local = QDir::current().filePath(QFileInfo(gone).fileName());
    EXPECT_FALSE(QFile::exists(local));
    EXPECT_FALSE(QFile::exists(local + ".part"));

    boxes().clear();
    select(gone);
    dlg->widget.pB_filedel->click();
    EXPECT_EQ(boxes(), std::vector<Box>());
    ASSERT_TRUE(waitFor([&] { return paneHas("删除文件成功!!!") || paneHas("删除文件失败!!!"); }));
    EXPECT_TRUE(paneHas("删除文件失败!!!"));
    dlgtest::idle(200);
    EXPECT_EQ(column(0), before);  // no listing after a failure
}

// ---- a device naming its files in GB18030, without times ----------------------------------

class Gb18030FileDevice : public FileDevice {
protected:
    std::vector<std::string> deviceOptions() const override {
        return {"--recordings", "1", "--gb18030-names", "--file-times", "none"};
    }
    // A file of the device's store by the bytes of its name.
    QByteArray onDevice(const QByteArray &listed) const {
        std::ifstream in((QFile::encodeName(device->files) + "/" + listed).toStdString(), std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return in ? QByteArray::fromStdString(all.str()) : QByteArray("<missing>");
    }
};

TEST_F(Gb18030FileDevice, ShowsTheNameDecodedFetchesItUnderThatNameAndDeletesItByItsBytes) {
    list(QStringLiteral("COMTRADE/*.dat"));
    ASSERT_EQ(dlg->tbmodel->rowCount(), 1) << pane.lines().join('|').toStdString();
    const QByteArray listed = dlg->tbmodel->index(0, 0).data(dialog_filetran::ROLE_LISTED_NAME).toByteArray();
    const QString shown = column(0).value(0);
    EXPECT_TRUE(listed.startsWith("COMTRADE/CMIED\xb9\xca\xd5\xcf\xc2\xbc\xb2\xa8_")) << listed.toStdString();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("COMTRADE/CMIED故障录波_"))) << shown.toStdString();
    EXPECT_EQ(column(2), QStringList({QString()}));  // the device gives no time

    select(shown);
    dlg->widget.pB_fileupload->click();
    EXPECT_EQ(boxes(), std::vector<Box>({{"上载文件", "上载文件成功!"}}));
    ASSERT_TRUE(waitFor([&] { return paneHas("文件上载成功!!!") || paneHas("文件上载失败!!!"); }));
    ASSERT_TRUE(paneHas("文件上载成功!!!")) << pane.lines().join('|').toStdString();
    const QString local = QDir::current().filePath(shown.mid(shown.lastIndexOf('/') + 1));
    EXPECT_GT(onDevice(listed).size(), 1000);
    EXPECT_EQ(dlgtest::contents(local), onDevice(listed));

    boxes().clear();
    select(shown);
    dlg->widget.pB_filedel->click();
    ASSERT_TRUE(waitFor([&] { return paneHas("删除文件成功!!!") || paneHas("删除文件失败!!!"); }));
    ASSERT_TRUE(paneHas("删除文件成功!!!")) << pane.lines().join('|').toStdString();
    EXPECT_EQ(onDevice(listed), "<missing>");
    ASSERT_TRUE(waitFor([&] { return dlg->tbmodel->rowCount() == 0; }));
}

// ---- progress of long transfers ---------------------------------------------------------

struct Direction {
    const char *name;
    bool fetch;
};
void PrintTo(const Direction &d, std::ostream *os) { *os << d.name; }

class TransferProgress : public FileDevice, public ::testing::WithParamInterface<Direction> {
protected:
    // The smallest PDU the device takes: 8 MiB move in about 40,000 requests
    // (a second or more on loopback), ten ticks of the bar at least.
    std::vector<std::string> deviceOptions() const override { return {"--pdu-size", "256"}; }
};

TEST_P(TransferProgress, BarMovesWhileTheFileMovesAndEndsFull) {
    const bool fetch = GetParam().fetch;
    QByteArray bytes(8 << 20, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 13 % 251);
    QTemporaryDir here;
    // A send comes from a folder with a Chinese name.
    const QString path = fetch ? device->file("big.bin") : here.filePath(QStringLiteral("录波/big.bin"));
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();

    QProgressBar *bar = dlg->widget.prB_transfer;
    std::vector<int> values;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { values.push_back(v); });
    const char *done = fetch ? "文件上载成功!!!" : "下装文件成功!!!";
    const char *failed = fetch ? "文件上载失败!!!" : "下装文件失败!!!";
    if (fetch) {
        list(QString());
        select(QStringLiteral("big.bin"));
        dlg->widget.pB_fileupload->click();
    } else {
        dlg->widget.lE_downfilename->setText(path);
        dlg->widget.lE_filename->setText(QStringLiteral("COMTRADE/big.bin"));
        dlg->widget.pB_filedown->click();
    }
    // The button returns at once; the transfer runs on.
    EXPECT_FALSE(paneHas(done));
    EXPECT_TRUE(dlg->widget.lb_transfer->text().startsWith(fetch ? "上载 " : "下装 "))
        << dlg->widget.lb_transfer->text().toStdString();
    ASSERT_TRUE(waitFor([&] { return paneHas(done) || paneHas(failed); }, 120000));
    ASSERT_TRUE(paneHas(done)) << pane.lines().join('|').toStdString();

    // Through the middle in steps, never back, to the end.
    std::set<int> middle;
    for (int v : values)
        if (v > 0 && v < bar->maximum()) middle.insert(v);
    std::string seen;
    for (int v : values) seen += std::to_string(v) + " ";
    EXPECT_GE(middle.size(), 2u) << seen;
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << seen;
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(bar->text().startsWith(QLatin1String("100%"))) << bar->text().toStdString();
    EXPECT_EQ(dlg->widget.lb_transfer->text(), fetch ? QStringLiteral("上载完成") : QStringLiteral("下装完成"));
    EXPECT_EQ(dlgtest::contents(fetch ? QDir::current().filePath(QStringLiteral("big.bin"))
                                      : device->file(QStringLiteral("COMTRADE/big.bin"))),
              bytes);
}

INSTANTIATE_TEST_SUITE_P(Device, TransferProgress,
                         ::testing::Values(Direction{"Fetch", true}, Direction{"Send", false}),
                         [](const ::testing::TestParamInfo<Direction> &info) { return std::string(info.param.name); });

}  // namespace
