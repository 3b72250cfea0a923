// `brakmoor7 scan` over a tree of recordings made here from the bundled recording, run
// as a user runs it: what it finds, what it writes, and how it resumes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "model/detector_harness.h"
#include "scan_program.h"
#include "support/scratch_directory.h"
#include "support/small_tmpfs.h"

namespace bm7::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFilesHeader =
    "file,status,duration_s,sample_rate,channels,detections,start_time,time_source,message";
constexpr const char* kSelectionHeader =
    "Selection\tView\tChannel\tBegin Time (s)\tEnd Time (s)\tLow Freq (Hz)\tHigh Freq (Hz)\t"
    "Begin File\tBegin Path\tFile Offset (s)\tBegin Date Time\tSong Ratio\tPeak Level (dB)\tClip";

std::vector<std::int16_t> demo() {
    static const std::vector<std::int16_t> samples =
        readWave(std::string(BM7_SOURCE_DIR) + "/data/demo.wav");
    return samples;
}

std::vector<std::int16_t> demoPart(double fromS, double toS) {
    const std::vector<std::int16_t> all = demo();
    const auto from = static_cast<std::size_t>(fromS * kRate);
    const auto to = std::min(all.size(), static_cast<std::size_t>(toS * kRate));
    return {all.begin() + static_cast<long>(from), all.begin() + static_cast<long>(to)};
}

void writeGuanoWave(const std::string& path, const std::vector<std::int16_t>& samples,
                    std::string guano) {
    guano.resize((guano.size() + 3) / 4 * 4, '\n');
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    SF_CHUNK_INFO chunk{};
    std::snprintf(chunk.id, sizeof chunk.id, "guan");
    chunk.id_size = 4;
    chunk.datalen = static_cast<unsigned>(guano.size());
    chunk.data = guano.data();
    sf_set_chunk(file, &chunk);
    sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Two hours of silence as a sparse file: the header of a 16-bit mono file at the
// model's rate, then zeros the file system need not store.
void writeTwoHoursOfSilence(const fs::path& recording) {
    fs::create_directories(recording.parent_path());
    writeWave(recording, std::vector<std::int16_t>(2, 0));
    const std::uintmax_t samples = 2ULL * 3600 * kRate;
    std::string header = fileText(recording).substr(0, 44);
    const auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (int b = 0; b < 4; ++b) header[at + b] = static_cast<char>(value >> (8 * b));
    };
    put32(4, static_cast<std::uint32_t>(36 + 2 * samples));
    put32(40, static_cast<std::uint32_t>(2 * samples));
    writeText(recording, header);
    fs::resize_file(recording, 44 + 2 * samples);
}

// Recorder files in nested folders, named in each time pattern, with the faults the
// field brings: an empty file, a text file named .wav, a recording cut short by a power
// loss, one too slow to hold the song, and hidden files that must not be scanned.
void makeTree(const fs::path& root) {
    for (const char* folder : {"siteA/deep", "siteB", "guano", "siteC", "bad", ".hidden"}) {
        fs::create_directories(root / folder);
    }
    writeWave(root / "siteA/SMM03873_20260512_043000.wav", demo());
    writeWave(root / "siteA/deep/20260308_015930.wav", demo());  // across the spring change
    writeWave(root / "siteB/20260512$043100T.wav", demoPart(10, 25));
    writeWave(root / "siteB/SITE_0_20260512-043200.wav", demoPart(0, 15));
    writeWave(root / "siteB/6A0B1C2D.wav", demoPart(28, 52));
    writeGuanoWave(root / "guano/bat.wav", demoPart(40, 52),
                   "GUANO|Version: 1.0\nTimestamp: 2026-05-12T04:31:07-05:00\n");
    const std::string stereo = "sox '" + std::string(BM7_SOURCE_DIR) +
                               "/data/demo.wav' -r 48000 -c 2 '" +
                               (root / "siteC/stereo48k.flac").string() + "'";
    ASSERT_EQ(std::system(stereo.c_str()), 0);
    // Its LIST chunk runs past its end: libsndfile alone would spin on it for minutes.
    const std::string corpus = std::string(BM7_SOURCE_DIR) + "/tests/fuzz/corpus/audio_file_fuzz";
    fs::copy_file(corpus + "/list_chunk_overrun.wav", root / "bad/damaged.wav");
    writeText(root / "bad/empty.wav", "");
    writeText(root / "bad/notes.wav", "field notes: two singing males at the gate\n");
    writeWave(root / "bad/cut.wav", demoPart(0, 20));
    fs::resize_file(root / "bad/cut.wav", 44 + 2 * 300000);  // header still says 20 s
    std::vector<double> tone(16000);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = 0.2 * std::sin(0.5 * double(i));
    SF_INFO slow{};
    slow.samplerate = 8000;
    slow.channels = 1;
    slow.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open((root / "bad/slow.wav").c_str(), SFM_WRITE, &slow);
    sf_write_double(file, tone.data(), static_cast<sf_count_t>(tone.size()));
    sf_close(file);
    writeWave(root / ".hidden/x.wav", demo());
    writeWave(root / "siteA/.x.wav", demo());
}

const std::vector<std::string> kScanned = {
    "bad/cut.wav",
    "bad/damaged.wav",
    "bad/empty.wav",
    "bad/notes.wav",
    "bad/slow.wav",
    "guano/bat.wav",
    "siteA/SMM03873_20260512_043000.wav",
    "siteA/deep/20260308_015930.wav",
    "siteB/20260512$043100T.wav",
    "siteB/6A0B1C2D.wav",
    "siteB/SITE_0_20260512-043200.wav",
    "siteC/stereo48k.flac",
};

// One table, as rows of fields. Handles the quoting of RFC 4180 and tab separation.
std::vector<std::vector<std::string>> readTable(const std::string& text, char separator) {
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && separator == ',') {
            quoted = true;
        } else if (c == separator) {
            rows.back().push_back(field);
            field.clear();
        } else if (c == '\n') {
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
        } else {
            field += c;
        }
    }
    rows.pop_back();
    return rows;
}

// Every file below `folder`, by relative path, with its bytes.
std::map<std::string, std::string> filesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), folder).generic_string()] = fileText(entry.path());
        }
    }
    return files;
}

// What a scan leaves that users keep: the tables and the clips, the journal aside.
std::map<std::string, std::string> outputsOf(const fs::path& out) {
    std::map<std::string, std::string> outputs = filesBelow(out / "clips");
    for (const char* table : {"detections.selections.txt", "detections.csv", "files.csv"}) {
        outputs[table] = fileText(out / table);
    }
    return outputs;
}

// The clips that a run of the program over one file saves, in time order.
std::vector<std::string> clipsOfInput(const fs::path& recording, const fs::path& folder) {
    const Finished run =
        runToEnd({"--input", recording.string(), "--clip-dir", folder.string(), "--log-file",
                  (folder / "log.txt").string(), "--stop-file", (folder / "stop.txt").string()},
                 (folder / "stdout.txt").string());
    EXPECT_EQ(run.status, 0) << recording << run.err;
    std::vector<std::string> clips;
    for (const auto& [name, bytes] : filesBelow(folder)) {
        if (name.rfind("Dick_", 0) == 0) clips.push_back(bytes);
    }
    return clips;
}

class ScanOfATree : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = new ScratchDirectory;
        makeTree(tree());
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
    }
    static fs::path tree() { return scratch_->path() / "tree"; }

    // A scan of the tree (as given: "<scratch>/tree") into `out` with more options.
    Finished scan(const fs::path& out, std::vector<std::string> options) {
        options.insert(options.end(), {"--out", out.string(), tree().string()});
        options.insert(options.begin(), "scan");
        return runToEnd(options, (work_.path() / "stdout.txt").string());
    }

    static ScratchDirectory* scratch_;
    ScratchDirectory work_;
};

ScratchDirectory* ScanOfATree::scratch_ = nullptr;

TEST_F(ScanOfATree, ListsEveryRecordingFoundWithItsStatusAndExitsTwoForTheBadOnes) {
    const fs::path out = work_.path() / "out";
    const Finished run = scan(out, {"--jobs", "2", "--time-zone", "America/New_York"});
    EXPECT_EQ(run.status, 2) << run.err;
    const auto files = readTable(fileText(out / "files.csv"), ',');
    ASSERT_EQ(files.size(), kScanned.size() + 1);
    EXPECT_EQ(fileText(out / "files.csv").substr(0, std::string(kFilesHeader).size() + 1),
              std::string(kFilesHeader) + "\n");
    std::map<std::string, std::vector<std::string>> byFile;
    for (std::size_t k = 0; k < kScanned.size(); ++k) {
        EXPECT_EQ(files[k + 1][0], kScanned[k]);
        byFile[files[k + 1][0]] = files[k + 1];
    }
    for (const char* bad : {"bad/damaged.wav", "bad/empty.wav", "bad/notes.wav"}) {
        EXPECT_EQ(byFile[bad][1], "error") << bad;
        EXPECT_NE(run.err.find((tree() / bad).string() + ": error: "), std::string::npos) << bad;
    }
    EXPECT_EQ(byFile["bad/slow.wav"][1], "skipped");
    EXPECT_NE(byFile["bad/slow.wav"][8].find("cannot hold the song band (4.0-5.5 kHz)"),
              std::string::npos);
    EXPECT_EQ(byFile["bad/cut.wav"][1], "ok");
    EXPECT_EQ(byFile["bad/cut.wav"][2], "13.605442");  // 300000 samples of the 20 s announced
    EXPECT_NE(byFile["bad/cut.wav"][8].find("holds 13.605 s (300000 frames) of the 20.000 s"),
              std::string::npos)
        << byFile["bad/cut.wav"][8];
    EXPECT_EQ(byFile["siteC/stereo48k.flac"][3], "48000");
    EXPECT_EQ(byFile["siteC/stereo48k.flac"][4], "2");
    EXPECT_EQ(byFile["guano/bat.wav"][6], "2026-05-12T04:31:07.000-05:00");
    EXPECT_EQ(byFile["guano/bat.wav"][7], "guano");
    EXPECT_EQ(byFile["siteB/6A0B1C2D.wav"][7], "name");
    EXPECT_EQ(byFile["siteB/20260512$043100T.wav"][6], "2026-05-12T04:31:00.000-04:00");
    EXPECT_EQ(byFile["siteC/stereo48k.flac"][7], "");
    EXPECT_NE(run.out.find("Files: 8 ok, 3 with errors, 1 skipped"), std::string::npos) << run.out;
}

TEST_F(ScanOfATree, FindsInEachRecordingExactlyTheClipsThatTheProgramSavesForIt) {
    const fs::path out = work_.path() / "out";
    ASSERT_EQ(scan(out, {"--clips"}).status, 2);
    const auto rows = readTable(fileText(out / "detections.csv"), ',');
    ASSERT_GT(rows.size(), 1U);
    EXPECT_EQ(fileText(out / "detections.csv").substr(0, 64),
              "file,start_s,end_s,begin_date_time,song_ratio,peak_level_db,clip");
    std::map<std::string, std::vector<std::string>> scanClips;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        ASSERT_FALSE(rows[r][6].empty()) << rows[r][0];
        scanClips[rows[r][0]].push_back(fileText(out / rows[r][6]));
    }
    for (const std::string& file : kScanned) {
        if (file.starts_with("bad/") && file != "bad/cut.wav") continue;  // no audio to compare
        const fs::path folder = work_.path() / "input" / file;
        fs::create_directories(folder);
        const std::vector<std::string> expected = clipsOfInput(tree() / file, folder);
        EXPECT_EQ(scanClips[file].size(), expected.size()) << file;
        EXPECT_TRUE(scanClips[file] == expected) << file << ": the clips' audio differs";
    }
    EXPECT_EQ(scanClips["siteA/SMM03873_20260512_043000.wav"].size(), 5U);
}

TEST_F(ScanOfATree, PlacesEveryFileEndToEndAndGivesLocalDateTimesAcrossTheSpringChange) {
    const fs::path out = work_.path() / "out";
    ASSERT_EQ(scan(out, {"--time-zone", "America/New_York"}).status, 2);
    const std::string selections = fileText(out / "detections.selections.txt");
    EXPECT_EQ(selections.substr(0, selections.find('\n')), kSelectionHeader);
    const auto files = readTable(fileText(out / "files.csv"), ',');
    std::map<std::string, double> filesBefore;  // seconds of every earlier file
    double sum = 0.0;
    for (std::size_t k = 1; k < files.size(); ++k) {
        filesBefore[files[k][0]] = sum;
        sum += files[k][2].empty() ? 0.0 : std::stod(files[k][2]);
    }
    const auto rows = readTable(selections, '\t');
    std::vector<std::string> daylightChange;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const std::string file = fs::relative(rows[r][8], tree()).generic_string();
        EXPECT_EQ(rows[r][0], std::to_string(r));
        EXPECT_NEAR(std::stod(rows[r][3]), filesBefore[file] + std::stod(rows[r][9]), 2e-6);
        if (file == "siteA/deep/20260308_015930.wav") daylightChange.push_back(rows[r][10]);
    }
    ASSERT_EQ(daylightChange.size(), 5U);
    EXPECT_EQ(daylightChange.front(), "2026-03-08T01:59:32.779-05:00");
    EXPECT_EQ(daylightChange.back(), "2026-03-08T03:00:13.779-04:00");
}

TEST_F(ScanOfATree, GivesByteIdenticalOutputsOnOneJobAndOnFour) {
    const fs::path one = work_.path() / "one";
    const fs::path four = work_.path() / "four";
    ASSERT_EQ(scan(one, {"--jobs", "1", "--clips"}).status, 2);
    ASSERT_EQ(scan(four, {"--jobs", "4", "--clips"}).status, 2);
    const auto outputs = outputsOf(one);
    EXPECT_GT(outputs.size(), 20U);
    EXPECT_TRUE(outputs == outputsOf(four));
}

// The per-file lines of a scan's error stream: the recordings it analysed.
std::set<std::string> analysedIn(const std::string& errors) {
    std::set<std::string> analysed;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("[", 0) == 0) analysed.insert(line.substr(line.find(' ') + 1));
    }
    return analysed;
}

TEST_F(ScanOfATree, ResumesAKilledScanWithoutRedoingFinishedFilesAndRedoesATouchedOne) {
    const fs::path reference = work_.path() / "reference";
    ASSERT_EQ(scan(reference, {"--jobs", "1", "--clips"}).status, 2);

    const fs::path out = work_.path() / "out";
    const std::vector<std::string> arguments = {
        "scan", "--jobs", "1", "--clips", "--out", out.string(), tree().string()};
    std::string killedErrors;
    {
        Child killed(arguments);
        std::string line;
        while (killed.readLine(line) && line.rfind("[", 0) != 0) continue;
        killed.signal(SIGKILL);
        killedErrors = line + "\n";
        while (killed.readLine(line)) killedErrors += line + "\n";
        EXPECT_EQ(killed.wait(), 128 + SIGKILL);
    }
    const std::set<std::string> before = analysedIn(killedErrors);
    ASSERT_GE(before.size(), 1U);
    ASSERT_LT(before.size(), kScanned.size()) << "the scan ended before it was killed";

    const Finished resumed = runToEnd(arguments, (work_.path() / "stdout.txt").string());
    EXPECT_EQ(resumed.status, 2) << resumed.err;
    const std::set<std::string> after = analysedIn(resumed.err);
    // A file is journalled as finished just before its line is written, so the kill may
    // fall between the two for one file, which neither run then lists as analysed.
    EXPECT_LE(before.size() + after.size(), kScanned.size()) << killedErrors << resumed.err;
    EXPECT_GE(before.size() + after.size() + 1, kScanned.size()) << killedErrors << resumed.err;
    for (const std::string& line : after) EXPECT_EQ(before.count(line), 0U) << line;
    EXPECT_TRUE(outputsOf(out) == outputsOf(reference));

    const fs::path touched = tree() / "siteB/6A0B1C2D.wav";
    fs::last_write_time(touched, fs::last_write_time(touched) + std::chrono::seconds(5));
    const Finished again = runToEnd(arguments, (work_.path() / "stdout.txt").string());
    const std::set<std::string> redone = analysedIn(again.err);
    ASSERT_EQ(redone.size(), 1U) << again.err;
    EXPECT_EQ(redone.begin()->rfind(touched.string() + ": ok", 0), 0U) << *redone.begin();
    EXPECT_TRUE(outputsOf(out) == outputsOf(reference));
}

TEST(ScanCommandLine, RefusesWhatCannotRunWithStatusOneAndHelpsWithEveryOption) {
    const ScratchDirectory scratch;
    const std::string output = scratch / "stdout.txt";
    const std::vector<std::vector<std::string>> refused = {
        {"scan"},
        {"scan", "--frobnicate", "."},
        {"scan", "-x", "."},  // an unknown dash is refused, never scanned as a folder
        {"scan", "--jobs", "0", "."},
        {"scan", "--shard", "3/2", "."},
        {"scan", "--stamp", "stream", "."},
        {"scan", "--min-free", "lots", "."},
        {"scan", "--prefix", "Zaun\xe4mmer", "."},  // Latin-1, not UTF-8
        {"scan", "--time-zone", "Mars/Olympus_Mons", "."},
        {"scan", "--out", scratch / "out", scratch / "nowhere", scratch / "nothing"},
    };
    for (const auto& arguments : refused) {
        const Finished run = runToEnd(arguments, output);
        EXPECT_EQ(run.status, 1) << arguments[1];
        EXPECT_EQ(run.err.rfind("brakmoor7 scan: ", 0), 0U) << run.err;
    }
    const Finished help = runToEnd({"scan", "-h"}, output);
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"-o, --out DIR", "-j, --jobs N", "--channel N", "--clips", "--clip-format", "--prefix",
          "--min-free SIZE", "--stamp", "--time-zone", "--force", "-q, --quiet", "--shard K/N",
          "-h, --help", "-V, --version"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(runToEnd({"scan", "-V"}, output).out, "brakmoor7 " BM7_VERSION "\n");
    // Short options with their values, and a PATH that begins with a dash after "--".
    fs::create_directories(scratch.path() / "-odd");
    writeWave(scratch / "-odd/a.wav", demoPart(0, 5));
    const fs::path before = fs::current_path();
    fs::current_path(scratch.path());
    const Finished shortForms = runToEnd({"scan", "-q", "-j", "1", "-oout", "--", "-odd"}, output);
    fs::current_path(before);
    EXPECT_EQ(shortForms.status, 0) << shortForms.err;
    EXPECT_TRUE(fs::exists(scratch.path() / "out/files.csv"));
}

// Song notes close enough together that the clip gate stays open for seconds.
TEST(ScanOfALongBout, GivesTheWholeRunInTheTableWhileTheClipKeepsItsWindow) {
    const ScratchDirectory scratch;
    std::vector<double> signal = quietNoise(12 * kRate, 11);
    for (double t = 2.0; t < 8.0; t += 0.3) addPulsedNote(signal, t, 0.15, 4700, 67, 0.25);
    fs::create_directories(scratch.path() / "in");
    writeWave(scratch / "in/bout.wav", toPcm(signal));
    const fs::path out = scratch.path() / "out";
    const Finished run = runToEnd({"scan", "--clips", "--out", out.string(), scratch / "in"},
                                  scratch / "stdout.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto rows = readTable(fileText(out / "detections.csv"), ',');
    const auto longest = std::max_element(rows.begin() + 1, rows.end(), [](auto& a, auto& b) {
        return std::stod(a[2]) - std::stod(a[1]) < std::stod(b[2]) - std::stod(b[1]);
    });
    ASSERT_NE(longest, rows.end());
    EXPECT_GT(std::stod((*longest)[2]) - std::stod((*longest)[1]), 3.0);
    // The clip keeps what of the run lies in the window of the frame it ends in.
    const std::size_t clipSamples = readWave(out / (*longest)[6]).size();
    EXPECT_GT(clipSamples, 32768U - 8192U);
    EXPECT_LE(clipSamples, 32768U);
}

// The output folder around the archive, the archive itself, and inside it: the archive's
// recordings are analysed, and nothing a scan wrote is taken for one on the next run.
TEST(ScanOfAFolderHoldingItsOutput, AnalysesItsRecordingsButNeverItsOwnClips) {
    const ScratchDirectory scratch;
    const std::vector<std::string> outputs = {".", "rec", "rec/out"};
    for (std::size_t k = 0; k < outputs.size(); ++k) {
        const fs::path place = scratch.path() / std::to_string(k);
        fs::create_directories(place / "rec/site");
        writeWave(place / "rec/site/SMM03873_20260512_043000.wav", demo());
        const fs::path out = place / outputs[k];
        const std::vector<std::string> arguments = {"scan", "--clips", "--out", out.string(),
                                                    (place / "rec").string()};
        ASSERT_EQ(runToEnd(arguments, scratch / "stdout.txt").status, 0) << outputs[k];
        const std::string files = fileText(out / "files.csv");
        EXPECT_EQ(std::count(files.begin(), files.end(), '\n'), 2) << files;
        EXPECT_NE(files.find("\nsite/SMM03873_20260512_043000.wav,ok,"), std::string::npos);
        const Finished again = runToEnd(arguments, scratch / "stdout.txt");
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(fileText(out / "files.csv"), files) << outputs[k];
    }
}

// A scan must not pass for done when it analysed nothing; a shard whose share is empty has.
TEST(ScanThatFindsNothing, SaysSoAndExitsOneWhileAShardWithNoShareExitsZero) {
    const ScratchDirectory scratch;
    fs::create_directories(scratch.path() / "empty/sub");
    writeText(scratch.path() / "empty/notes.txt", "two males at the gate");
    const Finished nothing =
        runToEnd({"scan", "--out", scratch / "out", scratch / "empty"}, scratch / "stdout.txt");
    EXPECT_EQ(nothing.status, 1);
    EXPECT_EQ(nothing.err, "brakmoor7 scan: no recording found under the PATHs given\n");
    EXPECT_FALSE(fs::exists(scratch.path() / "out"));
    fs::create_directories(scratch.path() / "one");
    writeWave(scratch / "one/a.wav", demoPart(0, 5));
    const Finished idle =
        runToEnd({"scan", "--shard", "2/2", "--out", scratch / "out", scratch / "one"},
                 scratch / "stdout.txt");
    EXPECT_EQ(idle.status, 0) << idle.err;
}

// Two recorders' folders holding the same names stay apart in every table, and resume.
TEST(ScanOfTwoPaths, NamesEachRecordingBelowTheFolderHoldingBoth) {
    const ScratchDirectory scratch;
    for (const char* site : {"dup/siteA", "dup/siteB"})
        fs::create_directories(scratch.path() / site);
    writeWave(scratch / "dup/siteA/rec.wav", demoPart(0, 26));
    writeWave(scratch / "dup/siteB/rec.wav", demoPart(26, 52));
    const fs::path out = scratch.path() / "out";
    const std::vector<std::string> arguments = {"scan", "--out", out.string(),
                                                scratch / "dup/siteA", scratch / "dup/siteB"};
    ASSERT_EQ(runToEnd(arguments, scratch / "stdout.txt").status, 0);
    const auto files = readTable(fileText(out / "files.csv"), ',');
    ASSERT_EQ(files.size(), 3U);
    EXPECT_EQ(files[1][0], "siteA/rec.wav");
    EXPECT_EQ(files[2][0], "siteB/rec.wav");
    std::set<std::string> named;
    for (const auto& row : readTable(fileText(out / "detections.csv"), ',')) named.insert(row[0]);
    EXPECT_EQ(named, (std::set<std::string>{"file", "siteA/rec.wav", "siteB/rec.wav"}));
    const std::string tables = fileText(out / "files.csv") + fileText(out / "detections.csv");
    const Finished resumed = runToEnd(arguments, scratch / "stdout.txt");
    EXPECT_EQ(resumed.status, 0);
    EXPECT_TRUE(analysedIn(resumed.err).empty()) << resumed.err;
    EXPECT_EQ(fileText(out / "files.csv") + fileText(out / "detections.csv"), tables);
}

// Every name in the archive gets its line: a FIFO is never opened, and a second name of a
// recording already in the scan is not analysed twice.
TEST(ScanOfOtherNames, ListsAFifoAndSecondNamesOfARecordingAsSkippedWithTheReason) {
    const ScratchDirectory scratch;
    const fs::path in = scratch.path() / "in";
    fs::create_directories(in);
    writeWave(in / "a.wav", demoPart(0, 5));
    fs::create_hard_link(in / "a.wav", in / "b-hard.wav");
    fs::create_symlink(in / "a.wav", in / "c-symbolic.wav");
    ASSERT_EQ(::mkfifo((in / "d-pipe.wav").c_str(), 0644), 0);
    const Finished run =
        runToEnd({"scan", "--out", scratch / "out", in.string()}, scratch / "stdout.txt");
    EXPECT_EQ(run.status, 0) << run.err;
    const auto files = readTable(fileText(scratch.path() / "out/files.csv"), ',');
    const std::string sameFile = "same file as " + (in / "a.wav").string();
    const std::vector<std::vector<std::string>> expected = {
        {"a.wav", "ok", ""},
        {"b-hard.wav", "skipped", sameFile},
        {"c-symbolic.wav", "skipped", sameFile},
        {"d-pipe.wav", "skipped", "not a regular file"}};
    ASSERT_EQ(files.size(), expected.size() + 1);
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ((std::vector<std::string>{files[k + 1][0], files[k + 1][1], files[k + 1][8]}),
                  expected[k]);
    }
}

// A folder whose path is too long to open is an error named on the error stream, and the
// rest of the archive is still analysed.
TEST(ScanOfADeepFolder, NamesAPathLongerThanPathMaxAndExitsTwo) {
    const ScratchDirectory scratch;
    const fs::path in = scratch.path() / "in";
    fs::create_directories(in);
    writeWave(in / "a.wav", demoPart(0, 5));
    const std::string level(200, 'd');
    int folder = ::open(in.c_str(), O_DIRECTORY);
    for (std::size_t length = in.string().size(); length <= PATH_MAX; length += level.size() + 1) {
        ASSERT_EQ(::mkdirat(folder, level.c_str(), 0755), 0);
        const int deeper = ::openat(folder, level.c_str(), O_DIRECTORY);
        ::close(folder);
        folder = deeper;
    }
    ::close(::openat(folder, "x.wav", O_CREAT | O_WRONLY, 0644));
    ::close(folder);
    const Finished run =
        runToEnd({"scan", "--out", scratch / "out", in.string()}, scratch / "stdout.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("brakmoor7 scan: " + (in / level / level).string()), std::string::npos);
    EXPECT_NE(run.err.find(": File name too long\n"), std::string::npos) << run.err;
    EXPECT_NE(fileText(scratch.path() / "out/files.csv").find("\na.wav,ok,"), std::string::npos);
    // Deeper than the scratch folder's own removal reaches.
    EXPECT_EQ(std::system(("rm -rf '" + (in / level).string() + "'").c_str()), 0);
}

// Two scans writing into one folder would spoil each other's clips and journal: a second
// one refuses at once, naming the holder, while the shards of one scan share the folder.
TEST(ScanOfAFolderInUse, RefusesASecondScanNamingItsHolderButLetsShardsShareIt) {
    const ScratchDirectory scratch;
    writeTwoHoursOfSilence(scratch.path() / "in/a-long.wav");
    writeWave(scratch / "in/b.wav", demoPart(0, 5));
    const std::string out = scratch / "out";
    const auto scanInto = [&](std::vector<std::string> options) {
        options.insert(options.begin(), "scan");
        options.insert(options.end(), {"--out", out, scratch / "in"});
        return options;
    };
    for (const bool sharded : {false, true}) {
        // Stopped once it names itself in the lock file, it holds the lock while the test runs.
        Child holder(scanInto(sharded ? std::vector<std::string>{"--shard", "1/2"}
                                      : std::vector<std::string>{}));
        const std::string holderLine = "\n" + std::to_string(holder.pid()) + " ";
        const auto holds = [&] { return ("\n" + fileText(out + "/scan.lock")).find(holderLine); };
        for (int wait = 0; wait < 6000 && holds() == std::string::npos; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        holder.signal(SIGSTOP);
        const Finished plain = runToEnd(scanInto({}), scratch / "stdout.txt");
        EXPECT_EQ(plain.status, 1);
        EXPECT_EQ(plain.err.rfind("brakmoor7 scan: output folder \"" + out +
                                      "\" is in use by another scan (process " +
                                      std::to_string(holder.pid()) + " on ",
                                  0),
                  0U)
            << plain.err;
        const Finished otherShard = runToEnd(scanInto({"--shard", "2/2"}), scratch / "stdout.txt");
        EXPECT_EQ(otherShard.status, sharded ? 0 : 1) << otherShard.err;
        holder.signal(SIGKILL);
        holder.wait();
    }
    // The lock file that the killed scans left keeps out nobody, and the next one removes it.
    EXPECT_EQ(runToEnd(scanInto({"--shard", "2/2"}), scratch / "stdout.txt").status, 0);
    EXPECT_FALSE(fs::exists(out + "/scan.lock"));
}

// A SIGTERM while a long recording is under way, once it has saved a clip: the scan ends
// with status 143 and the tables of the files finished, keeps nothing of the recording it
// stopped, and a resume ends with the outputs of an undisturbed scan.
// SIGTERM from a service manager and SIGHUP from a closed terminal both stop a scan
// cleanly: its tables hold what it finished, and nothing of the recording under way.
TEST(ScanStoppedMidRecording, KeepsNothingOfItAndAResumeGivesTheUndisturbedOutputs) {
    const ScratchDirectory scratch;
    fs::create_directories(scratch.path() / "in");
    writeWave(scratch / "in/a.wav", demoPart(0, 15));
    const std::vector<std::int16_t> once = demo();
    std::vector<std::int16_t> five;
    for (int k = 0; k < 5; ++k) five.insert(five.end(), once.begin(), once.end());
    writeWave(scratch / "in/long.wav", five);
    const auto arguments = [&](const fs::path& out) {
        return std::vector<std::string>{"scan",  "--jobs", "1",           "--clips",
                                        "--out", out,      scratch / "in"};
    };
    const fs::path reference = scratch.path() / "reference";
    ASSERT_EQ(runToEnd(arguments(reference), scratch / "stdout.txt").status, 0);

    for (const int stop : {SIGTERM, SIGHUP}) {
        const fs::path out = scratch.path() / ("out" + std::to_string(stop));
        {
            Child stopped(arguments(out));
            for (int wait = 0; wait < 20000 && filesBelow(out / "clips/long").empty(); ++wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            stopped.signal(stop);
            EXPECT_EQ(stopped.wait(), 128 + stop);
        }
        const auto files = readTable(fileText(out / "files.csv"), ',');
        ASSERT_EQ(files.size(), 2U) << stop;
        EXPECT_EQ(files[1][0], "a.wav");
        EXPECT_FALSE(fs::exists(out / "clips/long")) << "clips without rows";

        const Finished resumed = runToEnd(arguments(out), scratch / "stdout.txt");
        EXPECT_EQ(resumed.status, 0) << resumed.err;
        EXPECT_TRUE(outputsOf(out) == outputsOf(reference)) << stop;
    }
}

// Read by a pipe that closes early, the scan loses only its summary, never its tables.
TEST(ScanIntoAClosedPipe, FinishesAndWritesItsTables) {
    const ScratchDirectory scratch;
    fs::create_directories(scratch.path() / "in");
    writeWave(scratch / "in/a.wav", demoPart(0, 15));
    const std::string command = "set -o pipefail; '" + std::string(BM7_PROGRAM) +
                                "' scan --quiet --out '" + scratch / "out" + "' '" +
                                scratch / "in" + "' 2>/dev/null | true";
    const int raw = std::system(("bash -c \"" + command + "\"").c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0);
    EXPECT_EQ(readTable(fileText(scratch.path() / "out/files.csv"), ',').size(), 2U);
}

// A name from an old card, in Latin-1: R and pandas read the tables, and every path a
// program opens still leads to its file.
TEST(ScanOfANameThatIsNotUtf8, EscapesItInTheTablesButNotInThePathsProgramsOpen) {
    const ScratchDirectory scratch;
    const std::string recording = scratch / "in/caf\xe9_20260512_043000.wav";
    fs::create_directories(scratch.path() / "in");
    writeWave(recording, demo());
    const fs::path out = scratch.path() / "out";
    ASSERT_EQ(
        runToEnd({"scan", "--clips", "--out", out, scratch / "in"}, scratch / "stdout.txt").status,
        0);
    const auto rows = readTable(fileText(out / "detections.csv"), ',');
    ASSERT_EQ(rows.size(), 6U);
    for (std::size_t r = 1; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r][0], "caf\\xE9_20260512_043000.wav");
        EXPECT_TRUE(fs::exists(out / rows[r][6])) << rows[r][6];
    }
    EXPECT_EQ(readTable(fileText(out / "detections.selections.txt"), '\t')[1][8], recording);
}

// The clips of two recordings need about 500 kB; 300 kB hold some of them. The tables
// are kept on another disk, so that only the clips meet the full one.
TEST(ScanOfAFullDisk, FailsTheRecordingsWhoseClipsFoundNoRoomAndARerunMakesThem) {
    SmallTmpfs disk("300k");
    if (!disk.available()) GTEST_SKIP() << "no tmpfs: " << disk.why();
    const ScratchDirectory scratch;
    fs::create_directories(scratch.path() / "in");
    for (const char* name : {"SMM03873_20260512_043000.wav", "SMM03873_20260512_053000.wav"}) {
        writeWave(scratch / (std::string("in/") + name), demo());
    }
    const auto scanInto = [&](const std::string& out) {
        return runToEnd({"scan", "--jobs", "1", "--clips", "--out", out, scratch / "in"},
                        scratch / "stdout.txt");
    };
    const fs::path reference = scratch.path() / "reference";
    ASSERT_EQ(scanInto(reference).status, 0);

    const fs::path out = scratch.path() / "out";
    fs::create_directories(out);
    fs::create_directory_symlink(disk.path(), out / "clips");
    const Finished full = scanInto(out);
    EXPECT_EQ(full.status, 2) << full.err;
    const auto files = readTable(fileText(out / "files.csv"), ',');
    ASSERT_EQ(files.size(), 3U);
    EXPECT_EQ(files[2][1], "error");
    EXPECT_EQ(files[2][5], "5");  // its detections are still counted and listed
    EXPECT_NE(files[2][8].find(" of 5 clips not saved: "), std::string::npos) << files[2][8];
    EXPECT_NE(files[2][8].find("No space left on device"), std::string::npos) << files[2][8];
    EXPECT_EQ(readTable(fileText(out / "detections.csv"), ',').size(), 11U);

    ASSERT_TRUE(disk.resize("4m"));
    const Finished rerun = scanInto(out);
    EXPECT_EQ(rerun.status, 0) << rerun.err;
    EXPECT_TRUE(outputsOf(out) == outputsOf(reference));

    // A forced run that saves no clip must not leave the earlier results to stand in for
    // its own: their clips are gone.
    const Finished refused =
        runToEnd({"scan", "--force", "--clips", "--min-free", "100%", "--out", out, scratch / "in"},
                 scratch / "stdout.txt");
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_NE(refused.err.find("5 of 5 clips not saved: only "), std::string::npos) << refused.err;
    EXPECT_EQ(scanInto(out).status, 0);
    EXPECT_TRUE(outputsOf(out) == outputsOf(reference));
}

TEST(ScanOfALongRecording, StreamsTwoHoursInFlatMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' own memory hides the scan's";
#endif
    const ScratchDirectory scratch;
    const fs::path recording = scratch.path() / "in/two-hours.wav";
    writeTwoHoursOfSilence(recording);
    const Finished run = runToEnd(
        {"scan", "--quiet", "--out", scratch / "out", recording.parent_path()}, scratch / "stdout");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Audio: 2.000 hours"), std::string::npos) << run.out;
    EXPECT_LT(run.peakKilobytes, 64 * 1024);
}

}  // namespace
}  // namespace bm7::testing
