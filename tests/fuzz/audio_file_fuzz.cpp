// Opens arbitrary bytes as an audio file the way a scan does: its start time from the
// metadata, then its samples at the model's rate. Reading stops after a few minutes of
// output, so that a rate damaged to a few hertz costs time, not a false alarm.
#include <sndfile.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/audio_file_reader.h"
#include "scan/start_time.h"

namespace {

constexpr double kModelRate = 22050.0;
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

void readStartTime(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return;
    const auto start = bm7::scan::readRecordingStart(file, path, bm7::scan::TimeZone{});
    bm7::scan::formatDateTime(start, 1.5, bm7::scan::TimeZone{});
    sf_close(file);
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
    readStartTime(path);
    readSamples(path);
    return 0;
}
