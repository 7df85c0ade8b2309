// The live trend on the sample station's model (the stack library loaded by
// path, nothing connected): which attributes it takes, and a point per
// attribute every second from the model.
#include <gtest/gtest.h>

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>

#include <QTableWidget>

#include <cstring>

#include "zvt/app_env.h"
#include "dialog_livetrend.h"
#include "view_support.h"

namespace {

AI_OBJ_ID idOf(const char *ref) {
    AI_IED_CTRL *ied = ac_get_srvm_ied_ad ? ac_get_srvm_ied_ad(0) : nullptr;
    return ied && ai_obj_ref_to_id_ad ? ai_obj_ref_to_id_ad(ied, ref) : AI_OBJ_ID_NONE;
}

struct AttrRow {
    const char *name;
    const char *ref;
    bool numeric;
};

class LiveTrendAttributes : public ::testing::TestWithParam<AttrRow> {
protected:
    void SetUp() override { ASSERT_TRUE(dlgtest::loadSampleStation()) << "the sample station's model did not load"; }
};

TEST_P(LiveTrendAttributes, TakesSingleNumbersOnly) {
    const AttrRow &row = GetParam();
    const AI_OBJ_ID id = idOf(row.ref);
    ASSERT_NE(id, AI_OBJ_ID_NONE) << row.ref;
    dialog_livetrend trend;
    QString why;
    EXPECT_EQ(trend.addAttribute(0, id, &why), row.numeric) << why.toStdString();
    EXPECT_EQ(trend.attributes(), row.numeric ? 1 : 0);
    if (!row.numeric) {
        EXPECT_TRUE(why.contains(QLatin1String(row.ref))) << why.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Model, LiveTrendAttributes,
                         ::testing::Values(AttrRow{"Float", "CMIEDMON/STMP1$MX$Tmp$mag$f", true},
                                           AttrRow{"Integer", "CMIEDMON/SPDC1$ST$OpCnt$stVal", true},
                                           AttrRow{"Quality", "CMIEDMON/STMP1$MX$Tmp$q", false},
                                           AttrRow{"TimeStamp", "CMIEDMON/STMP1$MX$Tmp$t", false},
                                           AttrRow{"Structure", "CMIEDMON/STMP1$MX$Tmp", false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(LiveTrend, AddsAPointPerAttributeEverySecond) {
    ASSERT_TRUE(dlgtest::loadSampleStation());
    dialog_livetrend trend;
    trend.show();
    ASSERT_TRUE(trend.addAttribute(0, idOf("CMIEDMON/STMP1$MX$Tmp$mag$f")));
    ASSERT_TRUE(trend.addAttribute(0, idOf("CMIEDMON/STMP2$MX$Tmp$mag$f")));
    EXPECT_TRUE(trend.addAttribute(0, idOf("CMIEDMON/STMP1$MX$Tmp$mag$f")));  // once only
    EXPECT_EQ(trend.attributes(), 2);
    QList<QLineSeries *> series;
    for (QAbstractSeries *s : trend.ui.view_trend->chart()->series()) series << qobject_cast<QLineSeries *>(s);
    ASSERT_EQ(series.size(), 2);
    // Each addition reads every attribute once; then the timer reads them a second apart.
    const int first = series[0]->count();
    ASSERT_TRUE(
        viewtest::waitFor([&] { return series[0]->count() >= first + 2 && series[1]->count() >= first + 1; }, 10000));
    EXPECT_GE(series[0]->at(first + 1).x() - series[0]->at(first).x(), 900);
    EXPECT_EQ(trend.ui.table_attrs->item(0, 0)->text(), QStringLiteral("CMIEDMON/STMP1$MX$Tmp$mag$f"));
    EXPECT_FALSE(trend.ui.table_attrs->item(0, 1)->text().isEmpty());
    trend.ui.table_attrs->setCurrentCell(0, 0);
    trend.ui.btn_remove->click();
    EXPECT_EQ(trend.attributes(), 1);
    EXPECT_EQ(trend.ui.view_trend->chart()->series().size(), 1);
}

// zv_numeric_value on the stored forms of the stack (zorvan/ai_values.h).
TEST(LiveTrend, NumbersOfEveryNumericTypeAndNothingElse) {
    struct Row {
        AI_VAL_TYPE type;
        std::vector<unsigned char> bytes;
        bool numeric;
        double value;
    };
    float nan = std::nanf(""), f = -2.5f;
    double d = 1e300;
    std::vector<unsigned char> nanBytes(4), fBytes(4), dBytes(8);
    std::memcpy(nanBytes.data(), &nan, 4);
    std::memcpy(fBytes.data(), &f, 4);
    std::memcpy(dBytes.data(), &d, 8);
    const Row rows[] = {
        {VAL_TYPE_INT8, {0xFB}, true, -5},
        {VAL_TYPE_INT16U, {0xFF, 0xFF}, true, 65535},
        {VAL_TYPE_INT32U, {0x00, 0x28, 0x6B, 0xEE}, true, 4000000000.0},
        {VAL_TYPE_INT128, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true, -1},
        {VAL_TYPE_FLOAT32, fBytes, true, -2.5},
        {VAL_TYPE_FLOAT64, dBytes, true, 1e300},
        {VAL_TYPE_FLOAT32, nanBytes, false, 0},
        {VAL_TYPE_INT16, {0x01}, false, 0},  // a size that is not the type's
        {VAL_TYPE_BOOLEAN, {1}, false, 0},
        {VAL_TYPE_QUALITY, {0, 0, 0, 0}, false, 0},
    };
    for (const Row &r : rows) {
        std::vector<unsigned char> data = r.bytes;
        AI_PRIM_VAL p{r.type, ST_INT32(data.size()), data.data()};
        AI_OBJ_VAL v;
        std::memset(&v, 0, sizeof v);
        v.prim_num = 1;
        v.prim_vals = &p;
        double out = 0;
        EXPECT_EQ(zv_numeric_value(v, &out), r.numeric) << int(r.type);
        if (r.numeric) {
            EXPECT_DOUBLE_EQ(out, r.value) << int(r.type);
        }
        v.prim_num = 2;  // a structure of two is no number
        EXPECT_FALSE(zv_numeric_value(v, &out));
    }
}

}  // namespace
