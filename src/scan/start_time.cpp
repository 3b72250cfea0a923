#include "scan/start_time.h"

#include <cstdio>

#include "scan/wall_clock.h"

namespace bm7::scan {

namespace {

// Real offsets lie within -12:00 ... +14:00; anything past this is damage, not a zone.
constexpr int kMaxOffsetMinutes = 18 * 60;
// Recorders that name their files postdate 1970; a year past 2100 is damage.
constexpr int kEarliestYear = 1970;
constexpr int kLatestYear = 2100;
// GUANO texts are a few hundred bytes; a chunk claiming more is not read into memory.
constexpr unsigned kMaxGuanoBytes = 1 << 20;

// Reads fixed-width fields left to right; every failed step leaves the whole parse failed.
class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool digits(int count, int& value) {
        if (text_.size() < static_cast<std::size_t>(count)) return false;
        value = 0;
        for (int i = 0; i < count; ++i) {
            const char c = text_[static_cast<std::size_t>(i)];
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        text_.remove_prefix(static_cast<std::size_t>(count));
        return true;
    }
    bool literal(char expected) {
        if (text_.empty() || text_.front() != expected) return false;
        text_.remove_prefix(1);
        return true;
    }
    bool literal(std::string_view expected) {
        if (!text_.starts_with(expected)) return false;
        text_.remove_prefix(expected.size());
        return true;
    }
    bool nextIsDigit() const {
        return !text_.empty() && text_.front() >= '0' && text_.front() <= '9';
    }
    bool atEnd() const { return text_.empty(); }
    char next() const { return text_.empty() ? '\0' : text_.front(); }
    void skip() { text_.remove_prefix(1); }

private:
    std::string_view text_;
};

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// "HH:MM:SS" into `clock`.
bool readTimeOfDay(Cursor& cursor, WallClock& clock) {
    return cursor.digits(2, clock.hour) && cursor.literal(':') && cursor.digits(2, clock.minute) &&
           cursor.literal(':') && cursor.digits(2, clock.second);
}

// A decimal fraction of a second, rounded to milliseconds (1000 carries into the second).
bool readFraction(Cursor& cursor, int& milliseconds) {
    if (!cursor.nextIsDigit()) return false;
    int tenThousandths = 0;
    int scale = 1000;
    while (cursor.nextIsDigit()) {
        const int digit = cursor.next() - '0';
        tenThousandths += digit * scale;
        scale /= 10;
        cursor.skip();
    }
    milliseconds = (tenThousandths + 5) / 10;
    return true;
}

// "+HH:MM", "+HHMM" or "+HH" (or "-"), as signed minutes.
bool readIsoOffset(Cursor& cursor, int& minutes) {
    const int sign = cursor.literal('-') ? -1 : (cursor.literal('+') ? 1 : 0);
    int hours = 0;
    int extra = 0;
    if (sign == 0 || !cursor.digits(2, hours)) return false;
    if (cursor.literal(':')) {
        if (!cursor.digits(2, extra)) return false;
    } else if (cursor.nextIsDigit() && !cursor.digits(2, extra)) {
        return false;
    }
    minutes = sign * (hours * 60 + extra);
    return extra < 60 && hours * 60 + extra <= kMaxOffsetMinutes;
}

std::optional<RecordingStart> atOffset(TimeSource source, const WallClock& clock, int milliseconds,
                                       int offsetMinutes) {
    const auto local = localSecondsOf(clock);
    if (!local) return std::nullopt;
    const std::int64_t unixSeconds = *local - std::int64_t{offsetMinutes} * 60;
    return RecordingStart{source, unixSeconds * 1000 + milliseconds, true, offsetMinutes, {}};
}

std::optional<RecordingStart> inZone(TimeSource source, const WallClock& clock, int milliseconds,
                                     const TimeZone& zone) {
    const auto local = localSecondsOf(clock);
    if (!local) return std::nullopt;
    const std::int64_t unixSeconds = zone.unixSecondsOfLocal(*local);
    return RecordingStart{
        source, unixSeconds * 1000 + milliseconds, false, zone.offsetMinutesAt(unixSeconds), {}};
}

std::optional<RecordingStart> parseIsoTimestamp(std::string_view text, const TimeZone& zone) {
    Cursor cursor(trimmed(text));
    WallClock clock;
    if (!(cursor.digits(4, clock.year) && cursor.literal('-') && cursor.digits(2, clock.month) &&
          cursor.literal('-') && cursor.digits(2, clock.day))) {
        return std::nullopt;
    }
    if (!cursor.literal('T') && !cursor.literal(' ')) return std::nullopt;
    if (!readTimeOfDay(cursor, clock)) return std::nullopt;
    int milliseconds = 0;
    if (cursor.literal('.') && !readFraction(cursor, milliseconds)) return std::nullopt;
    if (cursor.atEnd()) return inZone(TimeSource::guano, clock, milliseconds, zone);
    int offsetMinutes = 0;
    if (!cursor.literal('Z') && !readIsoOffset(cursor, offsetMinutes)) return std::nullopt;
    if (!cursor.atEnd()) return std::nullopt;
    return atOffset(TimeSource::guano, clock, milliseconds, offsetMinutes);
}

// "UTC", "UTC+H", "UTC-HH" or "UTC+H:MM", then ")".
bool readRecorderOffset(Cursor& cursor, int& minutes) {
    minutes = 0;
    if (!cursor.literal("UTC")) return false;
    if (cursor.literal(')')) return true;
    const int sign = cursor.literal('-') ? -1 : (cursor.literal('+') ? 1 : 0);
    int hours = 0;
    int extra = 0;
    if (sign == 0 || !cursor.digits(1, hours)) return false;
    int secondDigit = 0;
    if (cursor.nextIsDigit() && cursor.digits(1, secondDigit)) hours = hours * 10 + secondDigit;
    if (cursor.literal(':') && !cursor.digits(2, extra)) return false;
    minutes = sign * (hours * 60 + extra);
    return cursor.literal(')') && extra < 60 && hours * 60 + extra <= kMaxOffsetMinutes;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Eight hexadecimal digits of Unix time. Eight decimal digits that make a calendar date
// are a date-only name instead: as hexadecimal they would put the recording in the 1980s,
// decades before recorders named files this way.
std::optional<RecordingStart> parseHexName(std::string_view stem, const TimeZone& zone) {
    if (stem.size() != 8) return std::nullopt;
    std::int64_t seconds = 0;
    bool allDecimal = true;
    for (const char c : stem) {
        if (!isHexDigit(c)) return std::nullopt;
        allDecimal = allDecimal && c >= '0' && c <= '9';
        const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        seconds = seconds * 16 + digit;
    }
    if (allDecimal) {
        Cursor cursor(stem);
        WallClock day;
        if (cursor.digits(4, day.year) && cursor.digits(2, day.month) &&
            cursor.digits(2, day.day) && localSecondsOf(day)) {
            return std::nullopt;
        }
    }
    return RecordingStart{
        TimeSource::name, seconds * 1000, false, zone.offsetMinutesAt(seconds), {}};
}

std::optional<RecordingStart> parseDateTimeName(std::string_view stem, const TimeZone& zone) {
    if (stem.ends_with('T')) stem.remove_suffix(1);
    constexpr std::size_t kDateTimeLength = 15;  // YYYYMMDD_HHMMSS
    if (stem.size() < kDateTimeLength) return std::nullopt;
    const std::string_view prefix = stem.substr(0, stem.size() - kDateTimeLength);
    if (!prefix.empty() && !prefix.ends_with('_')) return std::nullopt;
    Cursor cursor(stem.substr(prefix.size()));
    WallClock clock;
    if (!(cursor.digits(4, clock.year) && cursor.digits(2, clock.month) &&
          cursor.digits(2, clock.day))) {
        return std::nullopt;
    }
    if (!cursor.literal('_') && !cursor.literal('$') && !cursor.literal('-')) return std::nullopt;
    if (!(cursor.digits(2, clock.hour) && cursor.digits(2, clock.minute) &&
          cursor.digits(2, clock.second))) {
        return std::nullopt;
    }
    return inZone(TimeSource::name, clock, 0, zone);
}

std::optional<RecordingStart> readGuanoChunk(SNDFILE* file, const TimeZone& zone) {
    SF_CHUNK_INFO wanted{};
    const std::string_view id = "guan";
    id.copy(wanted.id, id.size());
    wanted.id_size = static_cast<unsigned>(id.size());
    for (SF_CHUNK_ITERATOR* chunk = sf_get_chunk_iterator(file, &wanted); chunk != nullptr;
         chunk = sf_next_chunk_iterator(chunk)) {
        SF_CHUNK_INFO info{};
        if (sf_get_chunk_size(chunk, &info) != SF_ERR_NO_ERROR) continue;
        if (info.datalen == 0 || info.datalen > kMaxGuanoBytes) continue;
        std::string text(info.datalen, '\0');
        info.data = text.data();
        if (sf_get_chunk_data(chunk, &info) != SF_ERR_NO_ERROR) continue;
        if (auto start = parseGuanoTimestamp(text, zone)) return start;
    }
    return std::nullopt;
}

// Takes a source's start when its year is plausible; else notes why not in `ignored`.
bool plausible(const std::optional<RecordingStart>& start, std::string& ignored) {
    if (!start) return false;
    const std::int64_t seconds = start->unixMilliseconds / 1000 -
                                 (start->unixMilliseconds % 1000 < 0 ? 1 : 0) +
                                 std::int64_t{start->offsetMinutes} * 60;
    const int year = wallClockOf(seconds).year;
    if (year >= kEarliestYear && year <= kLatestYear) return true;
    if (ignored.empty()) {
        char text[160];
        std::snprintf(text, sizeof text, "ignored the year %04d in the %s, outside %d-%d", year,
                      std::string(timeSourceName(start->source)).c_str(), kEarliestYear,
                      kLatestYear);
        ignored = text;
    }
    return false;
}

}  // namespace

std::string_view timeSourceName(TimeSource source) {
    switch (source) {
    case TimeSource::guano:
        return "guano";
    case TimeSource::comment:
        return "comment";
    case TimeSource::name:
        return "name";
    case TimeSource::none:
        break;
    }
    return "";
}

std::optional<RecordingStart> parseGuanoTimestamp(std::string_view guanoText,
                                                  const TimeZone& zone) {
    // Writers pad the chunk with NULs to an even or word length.
    guanoText = guanoText.substr(0, guanoText.find('\0'));
    while (!guanoText.empty()) {
        const std::size_t end = guanoText.find('\n');
        const std::string_view line = guanoText.substr(0, end);
        guanoText.remove_prefix(end == std::string_view::npos ? guanoText.size() : end + 1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || trimmed(line.substr(0, colon)) != "Timestamp") {
            continue;
        }
        return parseIsoTimestamp(line.substr(colon + 1), zone);
    }
    return std::nullopt;
}

std::optional<RecordingStart> parseRecorderComment(std::string_view comment) {
    const std::string_view lead = "Recorded at ";
    const std::size_t at = comment.find(lead);
    if (at == std::string_view::npos) return std::nullopt;
    Cursor cursor(comment.substr(at + lead.size()));
    WallClock clock;
    if (!(readTimeOfDay(cursor, clock) && cursor.literal(' ') && cursor.digits(2, clock.day) &&
          cursor.literal('/') && cursor.digits(2, clock.month) && cursor.literal('/') &&
          cursor.digits(4, clock.year) && cursor.literal(" ("))) {
        return std::nullopt;
    }
    int offsetMinutes = 0;
    if (!readRecorderOffset(cursor, offsetMinutes)) return std::nullopt;
    return atOffset(TimeSource::comment, clock, 0, offsetMinutes);
}

std::optional<RecordingStart> parseFileNameTime(std::string_view baseName, const TimeZone& zone) {
    const std::size_t dot = baseName.rfind('.');
    const std::string_view stem =
        dot == std::string_view::npos ? baseName : baseName.substr(0, dot);
    if (auto start = parseDateTimeName(stem, zone)) return start;
    return parseHexName(stem, zone);
}

RecordingStart readRecordingStart(SNDFILE* file, const std::string& path, const TimeZone& zone) {
    RecordingStart chosen;
    const auto unchosen = [&chosen] { return chosen.source == TimeSource::none; };
    const auto consider = [&chosen](const std::optional<RecordingStart>& start) {
        if (!plausible(start, chosen.ignored)) return;
        std::string ignored = std::move(chosen.ignored);
        chosen = *start;
        chosen.ignored = std::move(ignored);
    };
    if (file != nullptr) {
        consider(readGuanoChunk(file, zone));
        const char* comment = sf_get_string(file, SF_STR_COMMENT);
        if (unchosen() && comment != nullptr) consider(parseRecorderComment(comment));
    }
    const std::size_t slash = path.rfind('/');
    const std::string_view baseName = slash == std::string::npos
                                          ? std::string_view(path)
                                          : std::string_view(path).substr(slash + 1);
    if (unchosen()) consider(parseFileNameTime(baseName, zone));
    return chosen;
}

}  // namespace bm7::scan
