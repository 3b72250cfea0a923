// Opens arbitrary bytes as an audio file the way a scan does: its start time from the
// metadata, then its samples at the model's rate. Rates too low to hold the song band are
// refused before reading, as a scan refuses them: resampling a rate damaged to a few hertz
// takes many seconds for one input, which the fuzzer would report as a hang.
#include <sndfile.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/audio_file_reader.h"
#include "audio/wave_chunk_check.h"
#include "scan/start_time.h"

namespace {

constexpr double kModelRate = 22050.0;
constexpr int kLowestSongRate = 11025;
constexpr std::size_t kMostSamples = std::size_t{1} << 22;

// One file per fuzzing process, rewritten for each input and removed at exit.
class InputFile {
public:
    InputFile() {
        const char* directory = std::getenv("TMPDIR");
        path_ = std::string(directory != nullptr ? directory : "/tmp") + "/bm7-fuzz-XXXXXX.wav";
        const int descriptor = mkstemps(path_.data(), 4);
        if (descriptor < 0) {
            std::perror("mkstemps");
            std::abort();
        }
        ::close(descriptor);
    }
    ~InputFile() { std::remove(path_.c_str()); }

    const std::string& holding(const std::uint8_t* data, std::size_t size) const {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
            std::perror(path_.c_str());
            std::abort();
        }
        return path_;
    }

private:
    std::string path_;
};

// Reads the start time; true when the file's rate can hold song.
bool readStartTime(const std::string& path) {
    std::string problem;
    if (!bm7::waveChunksFit(path, problem)) return false;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return true;  // the reader must refuse it cleanly
    const auto start = bm7::scan::readRecordingStart(file, path, bm7::scan::TimeZone{});
    bm7::scan::formatDateTime(start, 1.5, bm7::scan::TimeZone{});
    sf_close(file);
    return info.samplerate >= kLowestSongRate;
}

void readSamples(const std::string& path) {
    bm7::AudioFileReader reader;
    std::string problem;
    if (!reader.open(path, 0, kModelRate, problem)) return;
    std::vector<std::int16_t> samples(4096);
    std::size_t total = 0;
    while (total < kMostSamples) {
        const std::size_t got = reader.read(samples.data(), samples.size());
        if (got == 0) break;
        total += got;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const InputFile input;
    const std::string& path = input.holding(data, size);
    if (readStartTime(path)) readSamples(path);
    return 0;
}
