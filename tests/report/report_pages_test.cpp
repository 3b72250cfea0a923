// The report's pages: paging and links, ranking, escaping, and charts whose bars count
// every detection.
#include "report/report_pages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <regex>

#include "support/scratch_directory.h"

namespace bm7::report {
namespace {

using bm7::testing::ScratchDirectory;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<Detection> detections(std::size_t count) {
    std::vector<Detection> all(count);
    for (std::size_t i = 0; i < count; ++i) {
        Detection& d = all[i];
        d.file = "site/rec" + std::to_string(i % 7) + ".wav";
        d.fileOffsetS = static_cast<double>(i);
        d.endS = d.fileOffsetS + 1.0;
        char dateTime[64];
        std::snprintf(dateTime, sizeof dateTime, "2026-05-%02zuT%02zu:00:00.000Z", 1 + i % 3,
                      i % 24);
        d.beginDateTime = dateTime;
        d.songRatio = static_cast<double>((i * 7919) % 1000) / 100.0;
        d.peakLevelDb = -60.0 + static_cast<double>(i % 50);
    }
    return all;
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// The sum of the data-count of every bar of the chart with this id.
long long barTotal(const std::string& page, const std::string& id) {
    const auto start = page.find("<svg id=\"" + id + "\"");
    const auto end = page.find("</svg>", start);
    const std::string chart = page.substr(start, end - start);
    static const std::regex bar("data-count=\"([0-9]+)\"");
    long long total = 0;
    for (auto it = std::sregex_iterator(chart.begin(), chart.end(), bar);
         it != std::sregex_iterator(); ++it)
        total += std::stoll((*it)[1]);
    return total;
}

std::vector<double> songRatiosInOrder(const std::string& page) {
    // The Song Ratio is the sixth cell of a row.
    static const std::regex row(
        "<tr data-file[^>]*>(?:<td[^>]*>.*?</td>){5}<td[^>]*data-sort=\"([^\"]*)\"");
    std::vector<double> ratios;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), row);
         it != std::sregex_iterator(); ++it)
        ratios.push_back(std::stod((*it)[1]));
    return ratios;
}

class Pages : public ::testing::Test {
protected:
    void write(const std::vector<Detection>& all) {
        std::string problem;
        summary.detectionCount = static_cast<long long>(all.size());
        ASSERT_TRUE(writeReportPages(folder, summary, all, problem)) << problem;
    }
    std::string page(std::size_t number) const {
        return readText(folder + "/" + pageFileName(number));
    }

    ScratchDirectory scratch;
    std::string folder = scratch / "out/report";
    ScanSummary summary;
};

TEST_F(Pages, TwelveHundredDetectionsMakeThreePagesLinkedBothWays) {
    write(detections(1200));
    EXPECT_FALSE(std::filesystem::exists(folder + "/index-4.html"));
    const std::size_t rows[] = {500, 500, 200};
    for (std::size_t number = 1; number <= 3; ++number) {
        const std::string text = page(number);
        ASSERT_FALSE(text.empty()) << pageFileName(number);
        EXPECT_EQ(countOf(text, "<tr data-file"), rows[number - 1]);
        for (std::size_t other = 1; other <= 3; ++other) {
            if (other == number) continue;
            EXPECT_NE(text.find("href=\"" + pageFileName(other) + "\""), std::string::npos)
                << pageFileName(number) << " does not link to " << pageFileName(other);
        }
    }
    EXPECT_NE(page(2).find("rel=\"prev\" href=\"index.html\""), std::string::npos);
    EXPECT_NE(page(2).find("rel=\"next\" href=\"index-3.html\""), std::string::npos);
}

TEST_F(Pages, RowsRunFromTheBestSongRatioAcrossPages) {
    std::vector<Detection> all = detections(1200);
    all[17].songRatio = std::nan("");
    write(all);
    std::vector<double> ratios;
    for (std::size_t number = 1; number <= 3; ++number) {
        const std::vector<double> onPage = songRatiosInOrder(page(number));
        ratios.insert(ratios.end(), onPage.begin(), onPage.end());
    }
    ASSERT_EQ(ratios.size(), 1200u);
    EXPECT_TRUE(std::isnan(ratios.back())) << "a detection without a ratio ranks last";
    ratios.pop_back();
    EXPECT_TRUE(std::is_sorted(ratios.rbegin(), ratios.rend()));
}

TEST_F(Pages, EveryChartCountsEveryDetection) {
    write(detections(1200));
    const std::string first = page(1);
    for (const char* id : {"by-hour", "by-day", "song-ratio", "peak-level"})
        EXPECT_EQ(barTotal(first, id), 1200) << id;
    EXPECT_EQ(barTotal(page(3), "by-hour"), 1200) << "charts cover all pages' detections";
}

TEST_F(Pages, DetectionsWithoutADateTimeAreSaidToBeLeftOutOfTheActivityCharts) {
    std::vector<Detection> all = detections(10);
    all[3].beginDateTime.clear();
    all[4].beginDateTime.clear();
    write(all);
    const std::string text = page(1);
    EXPECT_EQ(barTotal(text, "by-hour"), 8);
    EXPECT_EQ(barTotal(text, "song-ratio"), 10);
    EXPECT_NE(text.find("2 detections without a date-time are not counted"), std::string::npos);
}

TEST_F(Pages, TextFromTheDataIsEscapedEverywhere) {
    std::vector<Detection> all = detections(2);
    all[0].file = "<script>alert(1)</script>&\"'.wav";
    all[0].imageFile = "spectrograms/a \"b\" #1.png";
    summary.scannedPaths = {"/data/<b>site</b>"};
    summary.filesWithErrors = {{"x<y>.wav", "bad & <worse>"}};
    write(all);
    const std::string text = page(1);
    EXPECT_EQ(text.find("<script>alert"), std::string::npos);
    EXPECT_NE(text.find("&lt;script&gt;alert(1)&lt;/script&gt;&amp;&quot;&#39;.wav"),
              std::string::npos);
    EXPECT_EQ(text.find("<b>site"), std::string::npos);
    EXPECT_NE(text.find("x&lt;y&gt;.wav: bad &amp; &lt;worse&gt;"), std::string::npos);
    EXPECT_NE(text.find("src=\"spectrograms/a%20%22b%22%20%231.png\""), std::string::npos);
}

TEST_F(Pages, PagesOfAnEarlierLongerReportAreRemoved) {
    write(detections(1200));
    write(detections(600));
    EXPECT_TRUE(std::filesystem::exists(folder + "/index-2.html"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/index-3.html"));
    EXPECT_EQ(page(2).find("index-3.html"), std::string::npos);
}

TEST_F(Pages, NoDetectionsStillGiveOnePage) {
    write({});
    EXPECT_NE(page(1).find("No detections."), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder + "/index-2.html"));
}

}  // namespace
}  // namespace bm7::report

namespace bm7::report {
namespace {

TEST(MediaStem, MirrorsTheRecordingsFoldersAndStaysInsideTheReport) {
    EXPECT_EQ(detectionMediaStem("site 1/2026/rec.wav", 3), "media/site 1/2026/rec/003");
    EXPECT_EQ(detectionMediaStem("Dick_000.00.38_00.wav", 0), "media/Dick_000.00.38_00/000");
    EXPECT_EQ(detectionMediaStem("../../etc/x.wav", 12), "media/__/__/etc/x/012");
    EXPECT_EQ(detectionMediaStem("/abs/./y.flac", 1000), "media/abs/y/1000");
}

}  // namespace
}  // namespace bm7::report
