#include "scan/start_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "support/scratch_directory.h"

namespace bm7::scan {
namespace {

using testing::ScratchDirectory;

TimeZone zoneNamed(const std::string& name) {
    TimeZone zone;
    std::string problem;
    EXPECT_TRUE(TimeZone::find(name, zone, problem)) << problem;
    return zone;
}

// Renders at offset zero in `zone`, or "none" when there is no start.
std::string at(const std::optional<RecordingStart>& start, const TimeZone& zone = TimeZone{}) {
    return start ? formatDateTime(*start, 0.0, zone) : "none";
}

std::string guano(const std::string& timestamp) {
    return "GUANO|Version:1.0\nMake:Field kit\nTimestamp:" + timestamp + "\nNote:x\n";
}

TEST(TimeZones, UtcNeedsNoDatabaseAndUnknownNamesAreRefusedWithTheName) {
    TimeZone zone = zoneNamed("UTC");
    EXPECT_TRUE(zone.isUtc());
    std::string problem;
    EXPECT_FALSE(TimeZone::find("America/Atlantis", zone, problem));
    EXPECT_NE(problem.find("\"America/Atlantis\""), std::string::npos) << problem;
    EXPECT_TRUE(zone.isUtc());
    for (const char* bad : {"", "../zoneinfo/UTC", "/etc/localtime", "America"}) {
        EXPECT_FALSE(TimeZone::find(bad, zone, problem)) << bad;
    }
}

TEST(TimeSources, HaveTheNamesTheFileTableUses) {
    EXPECT_EQ(timeSourceName(TimeSource::guano), "guano");
    EXPECT_EQ(timeSourceName(TimeSource::comment), "comment");
    EXPECT_EQ(timeSourceName(TimeSource::name), "name");
    EXPECT_EQ(timeSourceName(TimeSource::none), "");
}

TEST(GuanoTimestamps, KeepTheOffsetTheyState) {
    EXPECT_EQ(at(parseGuanoTimestamp(guano("2026-05-12T04:31:07Z"), {})),
              "2026-05-12T04:31:07.000Z");
    EXPECT_EQ(at(parseGuanoTimestamp(guano("2026-05-12T04:31:07-05:00"), {})),
              "2026-05-12T04:31:07.000-05:00");
    EXPECT_EQ(at(parseGuanoTimestamp(guano("2026-05-12 04:31:07+0530"), {})),
              "2026-05-12T04:31:07.000+05:30");
    const auto start = parseGuanoTimestamp(guano("2026-05-12T04:31:07-05:00"), {});
    ASSERT_TRUE(start);
    EXPECT_EQ(start->source, TimeSource::guano);
    EXPECT_TRUE(start->fixedOffset);
    EXPECT_EQ(start->offsetMinutes, -300);
    EXPECT_EQ(start->unixMilliseconds, 1778578267000);
}

TEST(GuanoTimestamps, WithoutAnOffsetAreWallClockTimesOfTheZone) {
    const TimeZone chicago = zoneNamed("America/Chicago");
    const auto start = parseGuanoTimestamp(guano("2026-07-01T22:00:00"), chicago);
    ASSERT_TRUE(start);
    EXPECT_FALSE(start->fixedOffset);
    EXPECT_EQ(at(start, chicago), "2026-07-01T22:00:00.000-05:00");
    EXPECT_EQ(at(start), "2026-07-02T03:00:00.000Z");
}

TEST(GuanoTimestamps, RoundFractionsToTheMillisecond) {
    EXPECT_EQ(at(parseGuanoTimestamp(guano("2026-05-12T04:31:07.2504Z"), {})),
              "2026-05-12T04:31:07.250Z");
    EXPECT_EQ(at(parseGuanoTimestamp(guano("2026-05-12T04:31:07.25051234Z"), {})),
              "2026-05-12T04:31:07.251Z");
    EXPECT_EQ(at(parseGuanoTimestamp(guano("2026-12-31T23:59:59.9996Z"), {})),
              "2027-01-01T00:00:00.000Z");
}

TEST(GuanoTimestamps, AreFoundInPaddedWindowsStyleText) {
    const std::string text = "GUANO|Version:1.0\r\n Timestamp : 2026-05-12T04:31:07Z \r\n";
    EXPECT_EQ(at(parseGuanoTimestamp(text + std::string(3, '\0'), {})), "2026-05-12T04:31:07.000Z");
}

TEST(GuanoTimestamps, RefuseImpossibleOrMalformedValues) {
    for (const char* bad :
         {"2026-13-12T04:31:07Z", "2026-02-30T04:31:07Z", "2026-05-12T25:31:07Z",
          "2026-05-12T04:60:07Z", "2026-05-12T04:31:60Z", "2026-05-12T04:31:07+25:00",
          "2026-05-12T04:31:07+05:75", "2026-05-12T04:31:07.Z", "2026-05-12T04:31:07Zjunk",
          "2026-5-12T04:31:07Z", "2026-05-12", ""}) {
        EXPECT_EQ(at(parseGuanoTimestamp(guano(bad), {})), "none") << bad;
    }
    EXPECT_EQ(at(parseGuanoTimestamp("GUANO|Version:1.0\nMake:x\n", {})), "none");
}

TEST(RecorderComments, GiveTheStatedOffsetWithOrWithoutMinutes) {
    EXPECT_EQ(at(parseRecorderComment("Recorded at 21:00:00 24/02/2019 (UTC) by recorder 0FE0")),
              "2019-02-24T21:00:00.000Z");
    EXPECT_EQ(at(parseRecorderComment("Recorded at 04:31:07 12/05/2026 (UTC-5)")),
              "2026-05-12T04:31:07.000-05:00");
    EXPECT_EQ(at(parseRecorderComment("Recorded at 04:31:07 12/05/2026 (UTC+10) at gain 2")),
              "2026-05-12T04:31:07.000+10:00");
    const auto start = parseRecorderComment("Recorded at 04:31:07 12/05/2026 (UTC+5:30)");
    EXPECT_EQ(at(start), "2026-05-12T04:31:07.000+05:30");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->source, TimeSource::comment);
    EXPECT_EQ(start->unixMilliseconds, 1778540467000);
}

TEST(RecorderComments, RefuseOtherTextAndImpossibleDates) {
    for (const char* bad :
         {"Recorded at 04:31:07 30/02/2026 (UTC)", "Recorded at 25:31:07 12/05/2026 (UTC)",
          "Recorded at 04:31:07 12/13/2026 (UTC)", "Recorded at 04:31:07 12/05/2026 (UTC+5",
          "Recorded at 04:31:07 12/05/2026 (UTC+123)", "Recorded at 04:31:07 12/05/2026 (GMT)",
          "Recorded at 4:31:07 12/05/2026 (UTC)", "Recorded on 04:31:07 12/05/2026 (UTC)",
          "Recorded at 04:31:07 12/05/2026 (UTC+5:3)", ""}) {
        EXPECT_EQ(at(parseRecorderComment(bad)), "none") << bad;
    }
}

TEST(FileNames, GiveWallClockTimesWithAnySeparatorAndPrefix) {
    for (const char* name :
         {"20260512_043107.wav", "20260512$043107.WAV", "20260512-043107.flac",
          "SMM03873_20260512_043107.wav", "SITE_0_20260512_043107.wav", "20260512_043107T.wav",
          "S4A01234_20260512-043107T.aif", "20260512_043107"}) {
        EXPECT_EQ(at(parseFileNameTime(name, {})), "2026-05-12T04:31:07.000Z") << name;
    }
    const TimeZone chicago = zoneNamed("America/Chicago");
    const auto start = parseFileNameTime("SMM03873_20260115_230000.wav", chicago);
    EXPECT_EQ(at(start, chicago), "2026-01-15T23:00:00.000-06:00");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->source, TimeSource::name);
    EXPECT_FALSE(start->fixedOffset);
    EXPECT_EQ(start->offsetMinutes, -360);
}

TEST(FileNames, OfEightHexadecimalDigitsGiveUnixTime) {
    EXPECT_EQ(at(parseFileNameTime("6A02AD0B.WAV", {})), "2026-05-12T04:31:07.000Z");
    EXPECT_EQ(at(parseFileNameTime("6a02ad0b.wav", {})), "2026-05-12T04:31:07.000Z");
    EXPECT_EQ(at(parseFileNameTime("6A02AD0B.WAV", zoneNamed("America/New_York")),
                 zoneNamed("America/New_York")),
              "2026-05-12T00:31:07.000-04:00");
    // Decimal digits that are not a date are still hexadecimal time.
    EXPECT_EQ(at(parseFileNameTime("60000000.wav", {})), "2021-01-14T08:25:36.000Z");
}

TEST(FileNames, RefuseImpossibleDatesAndOtherShapes) {
    for (const char* bad :
         {"20261312_043107.wav", "20260230_043107.wav", "20260512_253107.wav",
          "20260512_046007.wav", "20260512_043160.wav", "SITE-20260512_043107.wav",
          "20260512_043107_extra.wav", "20260512 043107.wav", "2026051_043107.wav",
          "20260512_043107TT.wav", "recording.wav", "6A02AD5.wav", "6A02AD5G.wav", "x6A02AD0B.wav",
          "20260512.wav", ""}) {
        EXPECT_EQ(at(parseFileNameTime(bad, {})), "none") << bad;
    }
}

class NewYorkDaylightSaving : public ::testing::Test {
protected:
    TimeZone newYork = zoneNamed("America/New_York");

    std::string nameAt(const std::string& name, double offsetSeconds = 0.0) {
        const auto start = parseFileNameTime(name, newYork);
        return start ? formatDateTime(*start, offsetSeconds, newYork) : "none";
    }
};

TEST_F(NewYorkDaylightSaving, ADayLongRecordingChangesOffsetWhenTheClocksDo) {
    EXPECT_EQ(nameAt("20260307_120000.wav"), "2026-03-07T12:00:00.000-05:00");
    EXPECT_EQ(nameAt("20260307_120000.wav", 13.0 * 3600), "2026-03-08T01:00:00.000-05:00");
    EXPECT_EQ(nameAt("20260307_120000.wav", 14.0 * 3600), "2026-03-08T03:00:00.000-04:00");
    EXPECT_EQ(nameAt("20260307_120000.wav", 86400.0), "2026-03-08T13:00:00.000-04:00");
    EXPECT_EQ(nameAt("20261031_120000.wav", 13.0 * 3600 + 1800), "2026-11-01T01:30:00.000-04:00");
    EXPECT_EQ(nameAt("20261031_120000.wav", 14.0 * 3600 + 1800), "2026-11-01T01:30:00.000-05:00");
    EXPECT_EQ(nameAt("20261031_120000.wav", 86400.0), "2026-11-01T11:00:00.000-05:00");
}

TEST_F(NewYorkDaylightSaving, ARepeatedReadingMeansItsFirstOccurrence) {
    EXPECT_EQ(nameAt("20261101_013000.wav"), "2026-11-01T01:30:00.000-04:00");
    EXPECT_EQ(at(parseFileNameTime("20261101_013000.wav", newYork)), "2026-11-01T05:30:00.000Z");
}

TEST_F(NewYorkDaylightSaving, ASkippedReadingIsReadWithTheOffsetBeforeTheChange) {
    EXPECT_EQ(nameAt("20260308_023000.wav"), "2026-03-08T03:30:00.000-04:00");
    EXPECT_EQ(at(parseFileNameTime("20260308_023000.wav", newYork)), "2026-03-08T07:30:00.000Z");
}

TEST_F(NewYorkDaylightSaving, AStatedOffsetHoldsForTheWholeRecording) {
    const auto start = parseRecorderComment("Recorded at 12:00:00 31/10/2026 (UTC-4)");
    ASSERT_TRUE(start);
    EXPECT_EQ(formatDateTime(*start, 86400.0, newYork), "2026-11-01T12:00:00.000-04:00");
}

TEST(DateTimeText, RoundsTheOffsetToTheNearestMillisecond) {
    const auto start = parseFileNameTime("20260512_043107.wav", {});
    ASSERT_TRUE(start);
    EXPECT_EQ(formatDateTime(*start, 0.2504, {}), "2026-05-12T04:31:07.250Z");
    EXPECT_EQ(formatDateTime(*start, 0.2506, {}), "2026-05-12T04:31:07.251Z");
    EXPECT_EQ(formatDateTime(*start, 52.9999, {}), "2026-05-12T04:32:00.000Z");
    EXPECT_EQ(formatDateTime(*start, -7.5, {}), "2026-05-12T04:30:59.500Z");
}

TEST(DateTimeText, IsEmptyWithoutAStartOrAUsableOffset) {
    const auto start = parseFileNameTime("20260512_043107.wav", {});
    ASSERT_TRUE(start);
    EXPECT_EQ(formatDateTime(RecordingStart{}, 1.0, {}), "");
    EXPECT_EQ(formatClipStamp(RecordingStart{}, 1.0, nullptr), "");
    EXPECT_EQ(formatDateTime(*start, std::nan(""), {}), "");
    EXPECT_EQ(formatDateTime(*start, 1e300, {}), "");
    EXPECT_EQ(formatClipStamp(*start, -std::numeric_limits<double>::infinity(), nullptr), "");
}

TEST(ClipStamps, NameTheSecondOfTheClipsFirstSampleInUtcOrTheLocalZone) {
    const TimeZone chicago = zoneNamed("America/Chicago");
    const auto start = parseFileNameTime("20260512_233107.wav", chicago);
    ASSERT_TRUE(start);
    EXPECT_EQ(formatClipStamp(*start, 12.9, nullptr), "_2026-05-13_04.31.19");
    EXPECT_EQ(formatClipStamp(*start, 12.9, &chicago), "_2026-05-12_23.31.19");
    const auto stated = parseRecorderComment("Recorded at 04:31:07 12/05/2026 (UTC+5:30)");
    ASSERT_TRUE(stated);
    EXPECT_EQ(formatClipStamp(*stated, 0.0, nullptr), "_2026-05-11_23.01.07");
}

// Writes a second of silence with the given metadata, the way recorders leave it.
class RecorderFiles : public ::testing::Test {
protected:
    ScratchDirectory directory;

    std::string write(const std::string& name, const std::string& guanoText,
                      const std::string& comment) {
        const std::string path = directory / name;
        SF_INFO info{};
        info.samplerate = 22050;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        if (file == nullptr) return path;
        if (!guanoText.empty()) {
            SF_CHUNK_INFO chunk{};
            std::memcpy(chunk.id, "guan", 4);
            chunk.id_size = 4;
            chunk.datalen = static_cast<unsigned>(guanoText.size());
            chunk.data = const_cast<char*>(guanoText.data());
            EXPECT_EQ(sf_set_chunk(file, &chunk), SF_ERR_NO_ERROR);
        }
        if (!comment.empty()) sf_set_string(file, SF_STR_COMMENT, comment.c_str());
        const std::vector<short> silence(22050);
        sf_write_short(file, silence.data(), static_cast<sf_count_t>(silence.size()));
        sf_close(file);
        return path;
    }

    // The start read from the file as the scan opens it.
    std::pair<std::string, std::string_view> startOf(const std::string& path) {
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        if (file == nullptr) return {};
        const RecordingStart start = readRecordingStart(file, path, TimeZone{});
        sf_close(file);
        return {formatDateTime(start, 0.0, TimeZone{}), timeSourceName(start.source)};
    }
};

const std::string kComment = "Recorded at 06:00:00 12/05/2026 (UTC-5) by recorder 24F3";

TEST_F(RecorderFiles, PreferTheGuanoChunkToTheCommentAndTheCommentToTheName) {
    const std::string all =
        write("SMM03873_20260512_080000.wav", guano("2026-05-12T05:00:00-05:00"), kComment);
    EXPECT_EQ(startOf(all), std::make_pair(std::string("2026-05-12T05:00:00.000-05:00"),
                                           std::string_view("guano")));
    const std::string commented = write("SMM03873_20260512_080001.wav", "", kComment);
    EXPECT_EQ(startOf(commented), std::make_pair(std::string("2026-05-12T06:00:00.000-05:00"),
                                                 std::string_view("comment")));
    const std::string named = write("SMM03873_20260512_080002.wav", "", "");
    EXPECT_EQ(startOf(named),
              std::make_pair(std::string("2026-05-12T08:00:02.000Z"), std::string_view("name")));
    const std::string nothing = write("dawn chorus.wav", "", "Made by hand");
    EXPECT_EQ(startOf(nothing), std::make_pair(std::string(), std::string_view("")));
}

TEST_F(RecorderFiles, FallBackPastADamagedTimestamp) {
    const std::string path =
        write("20260512_080000.wav", guano("2026-02-30T05:00:00Z"), "Recorded at 31/12/2026");
    EXPECT_EQ(startOf(path),
              std::make_pair(std::string("2026-05-12T08:00:00.000Z"), std::string_view("name")));
}

TEST(RecordingStarts, OfNoOpenFileComeFromTheBaseNameAlone) {
    const RecordingStart start =
        readRecordingStart(nullptr, "/data/2026/20260512_080000/6A02AD0B.wav", TimeZone{});
    EXPECT_EQ(formatDateTime(start, 0.0, TimeZone{}), "2026-05-12T04:31:07.000Z");
}

TEST(RecordingStarts, OutsideTheYears1970To2100AreNoStartAndSayWhy) {
    for (const char* path : {"SITE_00000101_000000.wav", "SITE_21010101_000000.wav", "FFFFFFFF.wav",
                             "SITE_19691231_235959.wav"}) {
        const RecordingStart start = readRecordingStart(nullptr, path, TimeZone{});
        EXPECT_EQ(start.source, TimeSource::none) << path;
        EXPECT_NE(start.ignored.find(" in the name, outside 1970-2100"), std::string::npos) << path;
    }
    EXPECT_EQ(readRecordingStart(nullptr, "SITE_00000101_000000.wav", TimeZone{}).ignored,
              "ignored the year 0000 in the name, outside 1970-2100");
    for (const char* path : {"SITE_21001231_235959.wav", "SITE_19700101_000000.wav"}) {
        const RecordingStart start = readRecordingStart(nullptr, path, TimeZone{});
        EXPECT_EQ(start.source, TimeSource::name) << path;
        EXPECT_EQ(start.ignored, "") << path;
    }
}

}  // namespace
}  // namespace bm7::scan
