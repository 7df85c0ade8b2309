// tarnmon's main window opens the new windows from its menus: the
// recordings list (file menu) and both trends (service menu).
#include <gtest/gtest.h>

#include <QMenu>

#include "zvt/app_env.h"
#include "dialog_livetrend.h"
#include "dialog_recordings.h"
#include "dialog_trend.h"
#include "view_support.h"

namespace {

QStringList menuTexts(QMenu *menu) {
    QStringList t;
    for (QAction *a : menu->actions())
        if (!a->isSeparator()) t << a->text();
    return t;
}

TEST(MainWindowMenus, OpenTheRecordingsAndTrendWindows) {
    dlgtest::MainWindowPane pane;  // no station, no database: the windows say so
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(menuTexts(w->ui.menu).contains(QStringLiteral("打开录波文件")));
    EXPECT_TRUE(menuTexts(w->ui.menu).contains(QStringLiteral("录波记录")));
    EXPECT_TRUE(menuTexts(w->ui.menu_3).contains(QStringLiteral("历史趋势")));
    EXPECT_TRUE(menuTexts(w->ui.menu_3).contains(QStringLiteral("实时趋势")));

    w->ui.action_recordings->trigger();
    auto *list = w->findChild<dialog_recordings *>();
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(list->ui.label_status->text(), QStringLiteral("数据库不可用"));

    w->ui.action_trend->trigger();
    auto *trend = w->findChild<dialog_trend *>();
    ASSERT_NE(trend, nullptr);
    EXPECT_TRUE(trend->isVisible());

    w->ui.action_livetrend->trigger();
    w->ui.action_livetrend->trigger();  // one live trend window, shown again
    ASSERT_EQ(w->findChildren<dialog_livetrend *>().size(), 1);
    EXPECT_TRUE(w->findChild<dialog_livetrend *>()->isVisible());
}

}  // namespace
