#include "report/chart_data.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>

#include "report/html_text.h"

namespace bm7::report {

namespace {

// Over longer spans a bar per calendar day would be too thin to read.
constexpr int kMaxDaysWithGaps = 400;

bool isDigits(const std::string& text, std::size_t from, std::size_t count) {
    if (text.size() < from + count) return false;
    for (std::size_t i = from; i < from + count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

int number(const std::string& text, std::size_t from, std::size_t count) {
    return std::stoi(text.substr(from, count));
}

std::chrono::sys_days toDays(const std::string& day) {
    using namespace std::chrono;
    return sys_days{year{number(day, 0, 4)} / month{static_cast<unsigned>(number(day, 5, 2))} /
                    static_cast<unsigned>(number(day, 8, 2))};
}

std::string dayText(std::chrono::sys_days days) {
    const std::chrono::year_month_day date{days};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

std::vector<Bar> dayBars(const std::map<std::string, long long>& perDay) {
    std::vector<Bar> bars;
    if (perDay.empty()) return bars;
    const auto first = toDays(perDay.begin()->first);
    const auto last = toDays(perDay.rbegin()->first);
    if ((last - first).count() >= kMaxDaysWithGaps) {
        for (const auto& [day, count] : perDay) bars.push_back({day, day, count});
        return bars;
    }
    for (auto days = first; days <= last; days += std::chrono::days{1}) {
        const std::string day = dayText(days);
        const auto found = perDay.find(day);
        bars.push_back({day, day, found == perDay.end() ? 0 : found->second});
    }
    return bars;
}

double roundStep(double rough) {
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 2.5, 5.0})
        if (factor * power >= rough) return factor * power;
    return 10.0 * power;
}

int decimalsFor(double step) {
    for (int decimals = 0; decimals < 8; ++decimals) {
        const double scaled = step * std::pow(10.0, decimals);
        if (std::fabs(scaled - std::round(scaled)) < 1e-9 * scaled) return decimals;
    }
    return 8;
}

}  // namespace

bool dayAndHour(const std::string& dateTime, std::string& day, int& hour) {
    const bool shaped = isDigits(dateTime, 0, 4) && dateTime[4] == '-' &&
                        isDigits(dateTime, 5, 2) && dateTime[7] == '-' &&
                        isDigits(dateTime, 8, 2) && dateTime[10] == 'T' &&
                        isDigits(dateTime, 11, 2);
    if (!shaped) return false;
    const int month = number(dateTime, 5, 2);
    const int dayOfMonth = number(dateTime, 8, 2);
    hour = number(dateTime, 11, 2);
    if (month < 1 || month > 12 || dayOfMonth < 1 || dayOfMonth > 31 || hour > 23) return false;
    day = dateTime.substr(0, 10);
    return std::chrono::year_month_day{toDays(day)}.ok() && dayText(toDays(day)) == day;
}

Activity countActivity(const std::vector<Detection>& detections) {
    Activity activity;
    for (int hour = 0; hour < 24; ++hour) {
        char label[8];
        std::snprintf(label, sizeof label, "%02d", hour);
        activity.byHour.push_back({label, std::string(label) + ":00-" + label + ":59", 0});
    }
    std::map<std::string, long long> perDay;
    for (const Detection& detection : detections) {
        std::string day;
        int hour = 0;
        if (!dayAndHour(detection.beginDateTime, day, hour)) {
            ++activity.undated;
            continue;
        }
        ++activity.byHour[static_cast<std::size_t>(hour)].count;
        ++perDay[day];
    }
    activity.byDay = dayBars(perDay);
    return activity;
}

Histogram histogram(const std::vector<double>& values, int targetBins) {
    Histogram result;
    std::vector<double> finite;
    for (const double value : values) {
        if (std::isfinite(value))
            finite.push_back(value);
        else
            ++result.notCounted;
    }
    if (finite.empty()) return result;
    const auto [low, high] = std::minmax_element(finite.begin(), finite.end());
    const double span = *high - *low;
    const double step =
        roundStep(span > 0 ? span / targetBins : std::max(std::fabs(*low), 1.0) / 10);
    const double start = std::floor(*low / step) * step;
    const auto binCount = static_cast<std::size_t>(std::floor((*high - start) / step)) + 1;
    const int decimals = decimalsFor(step);
    for (std::size_t bin = 0; bin < binCount; ++bin) {
        // Adding 0.0 turns a lower edge of -0 into 0, which reads better.
        const double edge = start + static_cast<double>(bin) * step + 0.0;
        result.bins.push_back({fixed(edge, decimals),
                               fixed(edge, decimals) + " to " + fixed(edge + step, decimals), 0});
    }
    for (const double value : finite) {
        const auto bin = static_cast<std::size_t>(std::floor((value - start) / step));
        ++result.bins[std::min(bin, binCount - 1)].count;
    }
    return result;
}

}  // namespace bm7::report
