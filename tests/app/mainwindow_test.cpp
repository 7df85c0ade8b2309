// The main window, headless: start-up messages, the message pane and shutdown.
#include <QAction>
#include <QCoreApplication>
#include <QPointer>
#include <QTextEdit>

#include <gtest/gtest.h>

#include "DataDeal.h"
#include "dlunix.h"
#include "gui_srv.h"
#include "testdir.h"
#include "zvt/wiring.h"

namespace {

void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

QStringList paneLines(gui_srv *win) { return win->ui.textEdit->toPlainText().split('\n', Qt::SkipEmptyParts); }

// Each test runs in a process of its own (ctest runs the cases one by one),
// so the process-wide objects start fresh every time.
class MainWindow : public ::testing::Test {
protected:
    ScopedWorkDir dir;  // no library, no configuration
};

TEST_F(MainWindow, WithoutLibraryShowsLoadFailureKeepsTreeEmptyAndStartsWorker) {
    auto *win = new gui_srv();
    w = win;
    settle();
    EXPECT_EQ(paneLines(win),
              QStringList({QStringLiteral("开始启动61850集成平台！"), QStringLiteral("加载61850库文件失败！")}));
    EXPECT_EQ(dp, nullptr);
    EXPECT_EQ(win->model->rowCount(), 0);
    EXPECT_TRUE(datedeal->isRunning());
    delete win;
    EXPECT_TRUE(datedeal->isFinished());
}

TEST_F(MainWindow, FormCarriesHeadersAndDisablesSettingAction) {
    auto *win = new gui_srv();
    w = win;
    settle();
    EXPECT_EQ(win->windowTitle(), QStringLiteral("gui_srv"));
    EXPECT_EQ(win->model->horizontalHeaderItem(0)->text(), QStringLiteral("目录"));
    ASSERT_EQ(win->tbmodel->columnCount(), 6);
    EXPECT_EQ(win->tbmodel->horizontalHeaderItem(1)->text(), QStringLiteral("路径"));
    EXPECT_EQ(win->tbmodel->horizontalHeaderItem(5)->text(), QStringLiteral("描述"));
    EXPECT_FALSE(win->ui.action_sg->isEnabled());
    EXPECT_EQ(win->ui.treeView->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(win->ui.tableView->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(win->ui.centralWidget->font().family(), QStringLiteral("Ar Pl Ukai Cn"));
    delete win;
}

// Each menu action runs its handler once: connected by type, not also by name.
TEST_F(MainWindow, EveryActionHandlerIsConnectedOnceByType) {
    auto *win = new gui_srv();
    w = win;
    settle();
    EXPECT_EQ(zvt::miswiredHandlers(win), QStringList());
    delete win;
}

TEST_F(MainWindow, The1001stPaneLineClearsThePaneAndStandsAlone) {
    auto *win = new gui_srv();
    w = win;
    settle();
    const int start = paneLines(win).size();  // the start-up messages count too
    for (int i = start; i < 1000; ++i) win->print_log(QStringLiteral("line %1").arg(i + 1));
    EXPECT_EQ(paneLines(win).size(), 1000);
    win->print_log(QStringLiteral("line 1001"));
    EXPECT_EQ(paneLines(win), QStringList({QStringLiteral("line 1001")}));
    // From then on every 1001st line clears; the user's clearing does not
    // reset the count.
    win->ui.action_clear->trigger();
    for (int i = 0; i < 1000; ++i) win->print_log(QStringLiteral("more"));
    EXPECT_EQ(paneLines(win).size(), 1000);
    win->print_log(QStringLiteral("alone"));
    EXPECT_EQ(paneLines(win), QStringList({QStringLiteral("alone")}));
    delete win;
}

TEST_F(MainWindow, OutPutFromAnotherThreadReachesThePaneInOrder) {
    auto *win = new gui_srv();
    w = win;
    settle();
    QThread *t = QThread::create([win] {
        for (int i = 0; i < 50; ++i) win->out_put(QStringLiteral("from worker %1").arg(i));
    });
    t->start();
    t->wait();
    delete t;
    settle();
    const QStringList lines = paneLines(win);
    ASSERT_EQ(lines.size(), 52);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(lines[2 + i], QStringLiteral("from worker %1").arg(i));
    delete win;
}

struct CloseWay {
    const char *name;
    void (*close)(gui_srv *);
};
void PrintTo(const CloseWay &c, std::ostream *os) { *os << c.name; }

class ShutdownOnce : public MainWindow, public ::testing::WithParamInterface<CloseWay> {};

TEST_P(ShutdownOnce, WindowGoesOnceAndWorkerStops) {
    auto *win = new gui_srv();
    w = win;
    win->setAttribute(Qt::WA_DeleteOnClose);
    win->show();
    settle();
    int destroyed = 0;
    QObject::connect(win, &QObject::destroyed, [&destroyed] { ++destroyed; });
    QPointer<gui_srv> alive(win);
    GetParam().close(win);
    settle();
    EXPECT_TRUE(alive.isNull());
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(datedeal->isFinished());
    EXPECT_FALSE(doIt);
}

INSTANTIATE_TEST_SUITE_P(Ways, ShutdownOnce,
                         ::testing::Values(CloseWay{"ExitAction", [](gui_srv *win) { win->ui.action_exit->trigger(); }},
                                           CloseWay{"CloseButton", [](gui_srv *win) { win->close(); }},
                                           CloseWay{"ExitActionTwice",
                                                    [](gui_srv *win) {
                                                        win->ui.action_exit->trigger();
                                                        win->ui.action_exit->trigger();
                                                    }},
                                           CloseWay{"ExitThenClose",
                                                    [](gui_srv *win) {
                                                        win->ui.action_exit->trigger();
                                                        win->close();
                                                    }}),
                         [](const ::testing::TestParamInfo<CloseWay> &info) { return std::string(info.param.name); });

}  // namespace
