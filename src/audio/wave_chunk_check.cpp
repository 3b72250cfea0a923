#include "audio/wave_chunk_check.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

namespace bm7 {

namespace {

// Enough for any real file; a file of more, tiny chunks is junk that libsndfile refuses
// by itself.
constexpr int kMostChunks = 100000;

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

std::uint32_t littleEndian32(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

bool hasId(const unsigned char* bytes, std::string_view id) {
    return std::string_view(reinterpret_cast<const char*>(bytes), id.size()) == id;
}

std::string printableId(const unsigned char* id) {
    std::string text;
    for (int i = 0; i < 4; ++i) text += id[i] >= 0x20 && id[i] < 0x7f ? char(id[i]) : '?';
    return text;
}

}  // namespace

bool waveChunksFit(const std::string& path, std::string& problem) {
    File file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (file == nullptr) return true;  // the opener reports what is wrong
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return true;
    const long long fileSize = std::ftell(file.get());
    unsigned char header[12];
    if (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
        std::fread(header, 1, sizeof header, file.get()) != sizeof header ||
        !hasId(header, "RIFF") || !hasId(header + 8, "WAVE")) {
        return true;
    }
    long long offset = sizeof header;
    for (int chunk = 0; chunk < kMostChunks && offset + 8 <= fileSize; ++chunk) {
        unsigned char head[8];
        if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0 ||
            std::fread(head, 1, sizeof head, file.get()) != sizeof head) {
            return true;
        }
        const long long size = littleEndian32(head + 4);
        const long long end = offset + 8 + size;
        if (end > fileSize) {
            if (hasId(head, "data")) return true;
            problem = "Audio file \"" + path + "\" is damaged: its \"" + printableId(head) +
                      "\" chunk claims " + std::to_string(size) +
                      " bytes, past the end of the file";
            return false;
        }
        offset = end + (size & 1);
    }
    return true;
}

}  // namespace bm7
