// The counts behind the charts: hours and days as the date-time text gives them, and
// histogram bins of round width that hold every finite value.
#include "report/chart_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

namespace bm7::report {
namespace {

long long total(const std::vector<Bar>& bars) {
    return std::accumulate(bars.begin(), bars.end(), 0LL,
                           [](long long sum, const Bar& bar) { return sum + bar.count; });
}

Detection at(const std::string& dateTime) {
    Detection detection;
    detection.beginDateTime = dateTime;
    return detection;
}

TEST(DateTimeText, HourAndDayAreTakenAsWrittenInTheRecordingsZone) {
    std::string day;
    int hour = -1;
    ASSERT_TRUE(dayAndHour("2026-05-12T04:31:07.250-05:00", day, hour));
    EXPECT_EQ(day, "2026-05-12");
    EXPECT_EQ(hour, 4);
    ASSERT_TRUE(dayAndHour("2026-12-31T23:59:59.999Z", day, hour));
    EXPECT_EQ(hour, 23);
}

TEST(DateTimeText, AnythingElseIsRefused) {
    std::string day;
    int hour = 0;
    for (const char* text : {"", "2026-05-12", "2026-05-12 04:31:07", "2026-13-01T00:00:00Z",
                             "2026-02-30T00:00:00Z", "2026-05-12T24:00:00Z", "abcd-ef-ghTij"})
        EXPECT_FALSE(dayAndHour(text, day, hour)) << text;
}

TEST(Activity, CountsByHourAndFillsTheDaysBetween) {
    const Activity activity =
        countActivity({at("2026-05-30T04:00:00.000Z"), at("2026-06-02T04:10:00.000Z"),
                       at("2026-06-02T23:00:00.000+02:00"), at("")});
    ASSERT_EQ(activity.byHour.size(), 24u);
    EXPECT_EQ(activity.byHour[4].count, 2);
    EXPECT_EQ(activity.byHour[23].count, 1);
    EXPECT_EQ(activity.undated, 1);
    ASSERT_EQ(activity.byDay.size(), 4u);
    EXPECT_EQ(activity.byDay[0].label, "2026-05-30");
    EXPECT_EQ(activity.byDay[1].count, 0);
    EXPECT_EQ(activity.byDay[3].label, "2026-06-02");
    EXPECT_EQ(activity.byDay[3].count, 2);
}

TEST(Activity, OverYearsOnlyDaysWithDetectionsGetABar) {
    const Activity activity =
        countActivity({at("2024-05-01T04:00:00.000Z"), at("2026-05-01T04:00:00.000Z")});
    EXPECT_EQ(activity.byDay.size(), 2u);
}

TEST(Histogram, BinsAreRoundAndHoldEveryFiniteValue) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> ratio(1.2, 8.7);
    std::vector<double> values(1000);
    for (double& value : values) value = ratio(random);
    values.push_back(std::nan(""));
    values.push_back(INFINITY);
    const Histogram result = histogram(values, 20);
    EXPECT_EQ(total(result.bins), 1000);
    EXPECT_EQ(result.notCounted, 2);
    ASSERT_FALSE(result.bins.empty());
    EXPECT_EQ(result.bins.front().label, "1.0");
    EXPECT_EQ(result.bins[1].label, "1.5");
    EXPECT_EQ(result.bins.front().detail, "1.0 to 1.5");
    EXPECT_EQ(result.bins.back().label, "8.5");
}

TEST(Histogram, EqualValuesShareOneBin) {
    const Histogram result = histogram({-23.5, -23.5, -23.5}, 20);
    EXPECT_EQ(total(result.bins), 3);
    EXPECT_EQ(result.bins.size(), 1u);
}

TEST(Histogram, NoValuesGiveNoBins) {
    EXPECT_TRUE(histogram({}, 20).bins.empty());
}

}  // namespace
}  // namespace bm7::report
