#include "audio/wave_chunk_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "audio/audio_file_reader.h"
#include "support/scratch_directory.h"

namespace bm7 {
namespace {

using testing::ScratchDirectory;

std::string chunk(const std::string& id, const std::string& body, std::uint32_t claimed) {
    std::string bytes = id;
    for (int shift = 0; shift < 32; shift += 8) bytes += char(claimed >> shift & 0xff);
    return bytes + body + (body.size() % 2 == 1 ? std::string(1, '\0') : "");
}

std::string chunk(const std::string& id, const std::string& body) {
    return chunk(id, body, static_cast<std::uint32_t>(body.size()));
}

// 16-bit mono PCM at 22050 Hz.
const std::string kFormat = chunk(
    "fmt ", std::string("\x01\x00\x01\x00\x22\x56\x00\x00\x44\xac\x00\x00\x02\x00\x10\x00", 16));
const std::string kComment = chunk("LIST", "INFO" + chunk("ICMT", "Recorded at dusk"));

class WaveChunks : public ::testing::Test {
protected:
    ScratchDirectory directory;
    std::string problem;

    std::string wave(const std::string& name, const std::string& chunks) {
        const std::string path = directory / name;
        std::ofstream(path, std::ios::binary) << chunk("RIFF", "WAVE" + chunks);
        return path;
    }
};

TEST_F(WaveChunks, FitInWellFormedAndCutShortRecordings) {
    const std::string samples(400, '\x11');
    EXPECT_TRUE(
        waveChunksFit(wave("whole.wav", kFormat + kComment + chunk("data", samples)), problem));
    EXPECT_TRUE(waveChunksFit(
        wave("cut.wav", kFormat + kComment + chunk("data", samples, 44100 * 60)), problem));
    EXPECT_TRUE(waveChunksFit(wave("odd.wav", kFormat + chunk("data", "abc") + kComment), problem));
    EXPECT_EQ(problem, "");
}

TEST_F(WaveChunks, ThatRunPastTheEndAreRefusedBeforeOrAfterTheData) {
    const std::string overrun = chunk("LIST", "INFO" + chunk("ICMT", "x"), 0x20000034);
    const std::string before = wave("before.wav", kFormat + overrun + chunk("data", "abcd"));
    EXPECT_FALSE(waveChunksFit(before, problem));
    EXPECT_EQ(problem, "Audio file \"" + before +
                           "\" is damaged: its \"LIST\" chunk claims 536870964 bytes, past the end "
                           "of the file");
    EXPECT_FALSE(
        waveChunksFit(wave("after.wav", kFormat + chunk("data", "abcd") + overrun), problem));
}

TEST_F(WaveChunks, AreNotLookedForInOtherFormats) {
    const std::string text = directory / "notes.wav";
    std::ofstream(text) << "RIFF is a container format";
    EXPECT_TRUE(waveChunksFit(text, problem));
    EXPECT_TRUE(waveChunksFit(directory / "missing.wav", problem));
    EXPECT_EQ(problem, "");
}

// The file that made libsndfile spin for minutes is refused at once.
TEST_F(WaveChunks, KeepTheReaderFromOpeningAHeaderThatStallsTheLibrary) {
    const char* source = std::getenv("BM7_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const std::string path =
        std::string(source) + "/tests/fuzz/corpus/audio_file_fuzz/list_chunk_overrun.wav";
    AudioFileReader reader;
    EXPECT_FALSE(reader.open(path, 0, 22050.0, problem));
    EXPECT_NE(problem.find("\"LIST\" chunk"), std::string::npos) << problem;
}

}  // namespace
}  // namespace bm7
