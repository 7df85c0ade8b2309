// The file transfer dialog without a device: the table and the server list,
// directory results arriving from a stack thread, the name rules, the boxes,
// the refresh after a send or delete, the file chooser.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <cstring>
#include <thread>
#include <vector>

#include "devicefilename.h"
#include "zvt/app_env.h"
#include "dialog_filetran.h"

namespace {

using dlgtest::Box;
using dlgtest::boxes;

struct Entry {
    QByteArray name;
    int size;
    quint32 secs;
};

// Hands a directory result to the completion function on a thread of its
// own, as the stack does; the request control is gone once it returns.
void completeListing(const std::vector<Entry> &entries, int result = 0) {
    auto *req = new AC_REQ_CTRL;
    std::memset(req, 0, sizeof *req);
    req->op = IEC61850_OP_GETFAV;
    req->result = result;
    std::vector<AC_FILE_ATTR> attrs(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        std::memset(&attrs[i], 0, sizeof attrs[i]);
        qstrncpy(attrs[i].file_name, entries[i].name.constData(), sizeof attrs[i].file_name);
        attrs[i].file_size = entries[i].size;
        attrs[i].last_modified.secs = entries[i].secs;
    }
    req->u.getfavCtrl.file_num = static_cast<ST_INT32>(entries.size());
    req->u.getfavCtrl.file_attrs = attrs.data();
    std::thread stack_thread(_getf_handle, req);
    stack_thread.join();
    if (!attrs.empty()) std::memset(attrs.data(), 0xA5, attrs.size() * sizeof(AC_FILE_ATTR));  // memory reused
    std::memset(req, 0xA5, sizeof *req);
    delete req;
}

void complete(void (*done)(AC_REQ_CTRL *), int result) {
    AC_REQ_CTRL req;
    std::memset(&req, 0, sizeof req);
    req.result = result;
    std::thread stack_thread(done, &req);
    stack_thread.join();
}

class FileDialog : public ::testing::Test {
protected:
    void SetUp() override {
        dialog_filetran::box_hook = dlgtest::recordBox;
        boxes().clear();
        ASSERT_TRUE(dlgtest::loadStack());  // no station: no server takes a request
        dlg = new dialog_filetran();
        dlg_filetran = dlg;
    }
    void TearDown() override {
        delete dlg;
        dialog_filetran::box_hook = nullptr;
    }

    QStringList column(dialog_filetran *d, int col) const {
        QStringList r;
        for (int i = 0; i < d->tbmodel->rowCount(); ++i) r << d->tbmodel->index(i, col).data().toString();
        return r;
    }
    void setRows(const QStringList &names) {
        dlg->tbmodel->removeRows(0, dlg->tbmodel->rowCount());
        for (int i = 0; i < names.size(); ++i) dlg->tbmodel->setItem(i, 0, new QStandardItem(names[i]));
    }
    void select(int row) { dlg->widget.tV_file->setCurrentIndex(dlg->tbmodel->index(row, 0)); }

    dlgtest::MainWindowPane pane;
    dialog_filetran *dlg = nullptr;
};

TEST_F(FileDialog, TableHasItsThreeColumnsAndIsNotEditable) {
    ASSERT_EQ(dlg->tbmodel->columnCount(), 3);
    EXPECT_EQ(dlg->tbmodel->horizontalHeaderItem(0)->text(), QStringLiteral("文件名"));
    EXPECT_EQ(dlg->tbmodel->horizontalHeaderItem(1)->text(), QStringLiteral("大小(K)"));
    EXPECT_EQ(dlg->tbmodel->horizontalHeaderItem(2)->text(), QStringLiteral("修改日期"));
    EXPECT_EQ(dlg->widget.tV_file->columnWidth(0), 350);
    EXPECT_EQ(dlg->widget.tV_file->columnWidth(1), 100);
    EXPECT_EQ(dlg->widget.tV_file->columnWidth(2), 200);
    EXPECT_EQ(dlg->widget.tV_file->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(FileDialog, ServerListNamesEveryServerOfTheStationWithItsIndex) {
    ASSERT_TRUE(dlgtest::loadSampleStation()) << "the stack cannot load the sample station";
    dialog_filetran fresh;
    ASSERT_EQ(fresh.widget.cB_server->count(), 2);
    EXPECT_EQ(fresh.widget.cB_server->itemText(0), QStringLiteral("CMIED"));
    EXPECT_EQ(fresh.widget.cB_server->itemText(1), QStringLiteral("BAYIED"));
    EXPECT_EQ(fresh.widget.cB_server->itemData(1).toInt(), 1);
    EXPECT_EQ(fresh.tbmodel->rowCount(), 0);
}

// ---- directory results ------------------------------------------------------------

TEST_F(FileDialog, ListingFromAStackThreadFillsTheTableInOrder) {
    completeListing({{"COMTRADE/rec001.cfg", 1024, 0}, {"COMTRADE/rec001.dat", 20480, 1700000000}});
    EXPECT_EQ(dlg->tbmodel->rowCount(), 0);  // the table changes on the GUI thread only
    dlgtest::settle();
    EXPECT_EQ(column(dlg, 0), QStringList({"COMTRADE/rec001.cfg", "COMTRADE/rec001.dat"}));
    EXPECT_EQ(column(dlg, 1), QStringList({"1024", "20480"}));
    // Local time of Asia/Shanghai (UTC+8), set for the tests; no date for
    // a file listed without a time.
    EXPECT_EQ(column(dlg, 2), QStringList({"", "2023-11-15 06:13:20"}));
    EXPECT_EQ(pane.lines(), QStringList({"获取文件列表成功!!!"}));
}

TEST_F(FileDialog, SecondListingReplacesTheFirstAndAnEmptyOneKeepsTheHeaders) {
    completeListing({{"a.cfg", 1, 0}, {"a.dat", 2, 0}, {"b.cfg", 3, 0}});
    completeListing({{"c.cfg", 4, 0}});
    dlgtest::settle();
    EXPECT_EQ(column(dlg, 0), QStringList({"c.cfg"}));
    completeListing({});
    dlgtest::settle();
    EXPECT_EQ(dlg->tbmodel->rowCount(), 0);
    EXPECT_EQ(dlg->tbmodel->columnCount(), 3);
    EXPECT_EQ(dlg->tbmodel->horizontalHeaderItem(2)->text(), QStringLiteral("修改日期"));
}

TEST_F(FileDialog, FailedListingLeavesTheTableAndSaysSo) {
    completeListing({{"a.cfg", 1, 0}});
    dlgtest::settle();
    completeListing({{"other.cfg", 1, 0}}, 7);
    dlgtest::settle();
    EXPECT_EQ(column(dlg, 0), QStringList({"a.cfg"}));
    EXPECT_EQ(pane.lines(), QStringList({"获取文件列表成功!!!", "获取文件列表失败!!!"}));
}

TEST_F(FileDialog, ListingReachesTheDialogOpenedLast) {
    auto *second = new dialog_filetran();
    dlg_filetran = second;
    completeListing({{"x.cfg", 1, 0}});
    dlgtest::settle();
    EXPECT_EQ(column(second, 0), QStringList({"x.cfg"}));
    EXPECT_EQ(dlg->tbmodel->rowCount(), 0);
    // A listing that arrives after the dialog went is dropped.
    completeListing({{"y.cfg", 1, 0}});
    delete second;
    EXPECT_EQ(dlg_filetran, nullptr);
    dlgtest::settle();
    EXPECT_EQ(dlg->tbmodel->rowCount(), 0);
}

TEST_F(FileDialog, MenuOpensAFreshDialogEachTimeAndListingsGoToTheNewOne) {
    w->ui.action_filetran->trigger();
    dialog_filetran *first = dlg_filetran;
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    completeListing({{"a.cfg", 1, 0}});
    dlgtest::settle();
    EXPECT_EQ(column(first, 0), QStringList({"a.cfg"}));
    first->close();
    w->ui.action_filetran->trigger();
    dialog_filetran *second = dlg_filetran;
    ASSERT_NE(second, first);
    EXPECT_EQ(second->tbmodel->rowCount(), 0);
    completeListing({{"b.cfg", 1, 0}});
    dlgtest::settle();
    EXPECT_EQ(column(second, 0), QStringList({"b.cfg"}));
    EXPECT_EQ(column(first, 0), QStringList({"a.cfg"}));
    second->close();
}

TEST_F(FileDialog, ListedNameIsKeptByteForByteAndShownDecoded) {
    const QByteArray raw("COMTRADE/\xb5\xe7rec.cfg");  // GB18030, not UTF-8
    const QByteArray garbage("COMTRADE/\xff\x01.cfg");
    completeListing({{raw, 1, 0}, {garbage, 2, 1796646896}});
    dlgtest::settle();
    EXPECT_EQ(dlg->tbmodel->index(0, 0).data(dialog_filetran::ROLE_LISTED_NAME).toByteArray(), raw);
    EXPECT_EQ(dlg->tbmodel->index(0, 0).data().toString(), QStringLiteral("COMTRADE/电rec.cfg"));
    EXPECT_EQ(dlg->tbmodel->index(1, 0).data(dialog_filetran::ROLE_LISTED_NAME).toByteArray(), garbage);
    EXPECT_EQ(dlg->tbmodel->index(1, 0).data().toString(), QStringLiteral("COMTRADE/\\xFF\\x01.cfg"));
    // No time from the device: no date rather than 1970.
    EXPECT_EQ(dlg->tbmodel->index(0, 2).data().toString(), QString());
    EXPECT_EQ(dlg->tbmodel->index(1, 2).data().toString(),
              QDateTime::fromSecsSinceEpoch(1796646896).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

// ---- names ---------------------------------------------------------------------------

struct NameRow {
    const char *name;
    QByteArray listed;
    QString local;    // empty: refused
    const char *why;  // part of the reason when refused
};
void PrintTo(const NameRow &r, std::ostream *os) { *os << r.name; }

class LocalNames : public ::testing::TestWithParam<NameRow> {};

TEST_P(LocalNames, LocalNameIsTheDecodedPartAfterTheLastSlashWhenItIsASafeFileName) {
    const NameRow &r = GetParam();
    QString why;
    EXPECT_EQ(devfile::localName(r.listed, &why), r.local);
    EXPECT_EQ(dialog_filetran::LocalFileName(r.listed), r.local.toUtf8());
    if (r.local.isEmpty()) {
        EXPECT_TRUE(why.contains(QLatin1String(r.why))) << why.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LocalNames,
    ::testing::Values(
        NameRow{"FolderFromRoot", "/COMTRADE/a.cfg", "a.cfg", ""}, NameRow{"Folder", "COMTRADE/a.cfg", "a.cfg", ""},
        NameRow{"Bare", "a.cfg", "a.cfg", ""}, NameRow{"DeepWithSpace", "/a/b/c/rec 1.dat", "rec 1.dat", ""},
        NameRow{"Utf8", "COMTRADE/\xe6\x95\x85\xe9\x9a\x9c_1.dat", QStringLiteral("故障_1.dat"), ""},
        NameRow{"Gb18030", "COMTRADE/CMIED\xb9\xca\xd5\xcf\xc2\xbc\xb2\xa8_1.dat",
                QStringLiteral("CMIED故障录波_1.dat"), ""},
        NameRow{"Gb18030FourBytes", "\x95\x32\x82\x36_1.dat", QString::fromUtf8("\xf0\xa0\x80\x80_1.dat"), ""},
        // 0x5C is a trail byte of GB18030 characters; it is no backslash there.
        NameRow{"Gb18030TrailByteBackslash", "\x81\x5c_1.dat", QString::fromUtf8("\xe4\xb9\x97_1.dat"), ""},
        NameRow{"Longest", QByteArray(246, 'n') + ".dat", QString(246, QLatin1Char('n')) + ".dat", ""},
        NameRow{"NothingAfterSlash", "COMTRADE/", "", "no file name"},
        NameRow{"NeitherCharacterSet", "COMTRADE/\xff\xfe_1.dat", "", "neither UTF-8 nor GB18030"},
        NameRow{"TruncatedGb18030", "COMTRADE/rec_1.dat\xb9", "", "neither UTF-8 nor GB18030"},
        NameRow{"Parent", "COMTRADE/..", "", "names a folder"},
        NameRow{"Hidden", "COMTRADE/.rec_1.dat", "", "begins with '.'"},
        NameRow{"Backslash", "COMTRADE/..\\..\\rec_1.dat", "", "begins with '.'"},
        NameRow{"BackslashInside", "COMTRADE/a\\rec_1.dat", "", "contains '\\'"},
        NameRow{"ControlCharacter", "COMTRADE/rec\t1.dat", "", "U+0009"},
        NameRow{"C1Control",
                "COMTRADE/rec\xc2\x85"
                "1.dat",
                "", "U+0085"},
        NameRow{"BidiOverride", "COMTRADE/rec\xe2\x80\xaetad.exe", "", "U+202E"},
        NameRow{"ReplacementCharacter", "COMTRADE/rec\xef\xbf\xbd.dat", "", "U+FFFD"},
        NameRow{"TooLong", QByteArray(247, 'n') + ".dat", "", "longer than 250 bytes"},
        // 84 characters of 2 GB18030 bytes are 252 bytes of UTF-8.
        NameRow{"TooLongOnceDecoded", QByteArray("\xb5\xe7").repeated(84), "", "longer than 250 bytes"}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- boxes -------------------------------------------------------------------------

struct Click {
    const char *name;
    QStringList rows;  // table rows; the first is selected when `select` is set
    bool select;
    QString downfile, storename;
    const char *button;
    std::vector<Box> expected;
};

// Without a station no server takes a request, so every request is refused.
TEST_F(FileDialog, ButtonsShowWhatTheDialogKnowsAtOnce) {
    const QString longName = QStringLiteral("COMTRADE/") + QString(250, QLatin1Char('r'));  // 259 characters
    const Click rows[] = {
        {"FetchWithoutSelection",
         {"a.cfg"},
         false,
         {},
         {},
         "pB_fileupload",
         {{"上载文件", "未选择要上载的文件,请选择要上载的文件!"}}},
        {"FetchOfEmptyName", {""}, true, {}, {}, "pB_fileupload", {{"上载文件", "要上载的文件名称为空!"}}},
        {"FetchNotQueued", {"COMTRADE/a.cfg"}, true, {}, {}, "pB_fileupload", {{"上载文件", "上载文件失败!"}}},
        {"FetchOfOverlongName", {longName}, true, {}, {}, "pB_fileupload", {{"上载文件", "上载文件失败!"}}},
        {"FetchOfAFolder", {"COMTRADE/"}, true, {}, {}, "pB_fileupload", {{"上载文件", "上载文件失败!"}}},
        {"DeleteWithoutSelection",
         {"a.cfg"},
         false,
         {},
         {},
         "pB_filedel",
         {{"warning", "未选择要删除的文件,请选择要删除的文件!"}}},
        {"DeleteOfEmptyName", {""}, true, {}, {}, "pB_filedel", {{"错误", "要删除的文件名称为空!"}}},
        {"DeleteNotQueued", {"a.cfg"}, true, {}, {}, "pB_filedel", {{"warning", "删除文件失败!"}}},
        {"DeleteOfOverlongName", {longName}, true, {}, {}, "pB_filedel", {{"warning", "删除文件失败!"}}},
        {"ListNotQueued", {}, false, {}, {}, "pB_getfilelist", {{"warning", "获取文件列表失败!"}}},
        {"SendNotQueued", {}, false, "/tmp/x.dat", "x.dat", "pB_filedown", {{"下装文件", "下装文件失败!"}}},
        {"SendOfOverlongLocalPath",
         {},
         false,
         "/tmp/" + longName,
         "x.dat",
         "pB_filedown",
         {{"下装文件", "下装文件失败!"}}},
        {"SendWithoutLocalFile", {}, false, {}, "x.dat", "pB_filedown", {}},
        {"SendWithoutStoreName", {}, false, "/tmp/x.dat", {}, "pB_filedown", {}},
    };
    for (const Click &c : rows) {
        SCOPED_TRACE(c.name);
        boxes().clear();
        setRows(c.rows);
        dlg->widget.tV_file->setCurrentIndex(QModelIndex());
        if (c.select) select(0);
        dlg->widget.lE_downfilename->setText(c.downfile);
        dlg->widget.lE_filename->setText(c.storename);
        dlg->findChild<QPushButton *>(c.button)->click();
        dlgtest::settle();
        EXPECT_EQ(boxes(), c.expected);
    }
    EXPECT_EQ(pane.lines(), QStringList());
}

TEST_F(FileDialog, OverlongPathIsRefusedWithTheListingFailure) {
    dlg->widget.lE_path->setText(QString(300, QLatin1Char('d')));
    dlg->widget.pB_getfilelist->click();
    EXPECT_EQ(boxes(), std::vector<Box>({{"warning", "获取文件列表失败!"}}));
}

// ---- completions -----------------------------------------------------------------

TEST_F(FileDialog, CompletionsWriteTheirLineAndListAgainAfterASuccessfulChange) {
    const struct {
        void (*done)(AC_REQ_CTRL *);
        int result;
        const char *line;
        bool refreshes;
    } rows[] = {{_set_handle, 0, "下装文件成功!!!", true},    {_set_handle, 2, "下装文件失败!!!", false},
                {_delete_handle, 0, "删除文件成功!!!", true}, {_delete_handle, -1, "删除文件失败!!!", false},
                {_get_handle, 0, "文件上载成功!!!", false},   {_get_handle, 1, "文件上载失败!!!", false}};
    // The new listing goes to a server that takes no request: its box shows it was asked for.
    const std::vector<Box> refreshed{{"warning", "获取文件列表失败!"}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.line);
        boxes().clear();
        pane.mark();
        complete(r.done, r.result);
        dlgtest::settle();
        EXPECT_EQ(pane.lines(), QStringList({QString::fromUtf8(r.line)}));
        EXPECT_EQ(boxes(), r.refreshes ? refreshed : std::vector<Box>());
    }
}

// ---- file chooser -------------------------------------------------------------------

// Answers the open-file dialog once it is up: picks `path`, or cancels when empty.
void answerFileChooser(const QString &path) {
    QTimer::singleShot(0, [path] {
        auto *fd = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (fd == nullptr) {
            answerFileChooser(path);  // not up yet
            return;
        }
        if (path.isEmpty()) {
            fd->reject();
        } else {
            fd->selectFile(path);
            static_cast<QDialog *>(fd)->accept();  // QFileDialog::accept, as the Open button does
        }
    });
}

TEST_F(FileDialog, ChosenFileGivesFullPathAndItsName) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.dat"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    answerFileChooser(path);
    dlg->widget.pB_filebrowser->click();
    EXPECT_EQ(dlg->widget.lE_downfilename->text(), path);
    EXPECT_EQ(dlg->widget.lE_filename->text(), QStringLiteral("x.dat"));

    answerFileChooser(QString());
    dlg->widget.pB_filebrowser->click();
    EXPECT_EQ(dlg->widget.lE_downfilename->text(), path);
    EXPECT_EQ(dlg->widget.lE_filename->text(), QStringLiteral("x.dat"));
}

}  // namespace
