#include "report/report_pages.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "files/atomic_file.h"
#include "report/html_text.h"
#include "report/media_file.h"
#include "report/page_assets.h"
#include "report/report_sections.h"

namespace bm7::report {

namespace {

namespace fs = std::filesystem;

// Best score first; a NaN score (no ratio was ever measured) ranks last; equal scores
// keep scan order, so the ranking is the same on every run.
std::vector<RankedDetection> ranked(const std::vector<Detection>& detections) {
    std::vector<RankedDetection> rows;
    rows.reserve(detections.size());
    for (const Detection& detection : detections) rows.push_back({&detection, 0});
    std::stable_sort(rows.begin(), rows.end(),
                     [](const RankedDetection& a, const RankedDetection& b) {
                         const double x = a.detection->songRatio, y = b.detection->songRatio;
                         if (std::isnan(x) || std::isnan(y)) return !std::isnan(x) && std::isnan(y);
                         return x > y;
                     });
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i].rank = i + 1;
    return rows;
}

std::string pageLinks(std::size_t page, std::size_t pageCount) {
    if (pageCount < 2) return {};
    std::string html = "<nav class=\"pages\">Pages: ";
    if (page > 1)
        html += "<a rel=\"prev\" href=\"" + pageFileName(page - 1) + "\">&lsaquo; previous</a>";
    for (std::size_t other = 1; other <= pageCount; ++other) {
        const std::string number = std::to_string(other);
        html += other == page ? "<span aria-current=\"page\">" + number + "</span>"
                              : "<a href=\"" + pageFileName(other) + "\">" + number + "</a>";
    }
    if (page < pageCount)
        html += "<a rel=\"next\" href=\"" + pageFileName(page + 1) + "\">next &rsaquo;</a>";
    return html + "</nav>\n";
}

std::string pageHtml(const std::string& summary, const std::string& charts,
                     const std::vector<RankedDetection>& rows, std::size_t page,
                     std::size_t pageCount, std::size_t total) {
    const std::string pageText =
        "page " + std::to_string(page) + " of " + std::to_string(pageCount);
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>brakmoor7 review report, " +
        pageText + "</title>\n<style>" + kPageStyle +
        "</style>\n</head>\n<body>\n<h1>brakmoor7 review report</h1>\n";
    html += summary + charts;
    const std::size_t first = (page - 1) * kRowsPerPage + 1;
    html += "<h2>Detections</h2>\n<p>";
    html += total == 0
                ? "No detections."
                : "Rows " + std::to_string(first) + " to " +
                      std::to_string(first + rows.size() - 1) + " of " + std::to_string(total) +
                      " (" + pageText +
                      "), best Song Ratio first. Click a column header to sort this page by it.";
    html += "</p>\n" + pageLinks(page, pageCount);
    html +=
        "<p><label>Filter by file name <input id=\"filter\" type=\"search\"></label> "
        "<span id=\"shown\" class=\"note\"></span></p>\n";
    html += detectionTable(rows) + pageLinks(page, pageCount);
    return html + "<script>" + kPageScript + "</script>\n</body>\n</html>\n";
}

}  // namespace

std::string pageFileName(std::size_t page) {
    return page <= 1 ? "index.html" : "index-" + std::to_string(page) + ".html";
}

bool writeReportPages(const std::string& reportFolder, const ScanSummary& summary,
                      const std::vector<Detection>& detections, std::string& problem) {
    std::error_code error;
    fs::create_directories(reportFolder, error);
    if (error) {
        problem = "cannot create " + reportFolder + ": " + error.message();
        return false;
    }
    if (!syncMediaFolder(reportFolder, problem)) return false;
    const std::vector<RankedDetection> rows = ranked(detections);
    const std::string summaryHtml = summarySection(summary);
    const std::string charts = chartsSection(detections);
    const std::size_t pageCount =
        std::max<std::size_t>(1, (rows.size() + kRowsPerPage - 1) / kRowsPerPage);
    for (std::size_t page = 1; page <= pageCount; ++page) {
        const auto from = rows.begin() + static_cast<std::ptrdiff_t>(
                                             std::min(rows.size(), (page - 1) * kRowsPerPage));
        const auto to =
            rows.begin() + static_cast<std::ptrdiff_t>(std::min(rows.size(), page * kRowsPerPage));
        const std::string html =
            pageHtml(summaryHtml, charts, {from, to}, page, pageCount, rows.size());
        if (!writeFileAtomically(reportFolder + "/" + pageFileName(page), html, problem))
            return false;
    }
    // Pages left from an earlier, longer report would link to a ranking that is gone.
    std::size_t stale = pageCount + 1;
    while (fs::remove(reportFolder + "/" + pageFileName(stale), error)) ++stale;
    return true;
}

}  // namespace bm7::report
