// Checked single-item writes shared by the clip writers: every call writes one item and
// reports whether it was stored, so a writer can stop at the first failure.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/atomic_file.h"
#include "files/clip_writers.h"

namespace bm7 {

inline bool putBytes(std::FILE* file, const void* bytes, std::size_t size) {
    return std::fwrite(bytes, size, 1, file) == 1;
}

inline bool putBig16(std::FILE* file, std::uint16_t value) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value)};
    return putBytes(file, bytes, 2);
}

inline bool putLittle16(std::FILE* file, std::uint16_t value) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value),
                                    static_cast<unsigned char>(value >> 8)};
    return putBytes(file, bytes, 2);
}

inline bool putBig32(std::FILE* file, std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    return putBytes(file, bytes, 4);
}

inline bool putLittle32(std::FILE* file, std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return putBytes(file, bytes, 4);
}

// Stores a clip whole or not at all: `body` writes it under a temporary name in the
// clip's folder, and only a clip that was written, flushed and synced completely is
// renamed to `fileName`, which it never replaces: a name taken meanwhile fails the write
// with EEXIST. On failure nothing is left behind and `report`, when given,
// receives the file and the system's reason.
template <typename Body>
const char* writeClipFile(const char* fileName, ClipWriteReport* report, Body body) {
    AtomicFile file;
    std::string problem;
    const char* failure = nullptr;
    if (!file.open(fileName, problem)) {
        failure = kClipCreateError;
    } else {
        const bool written = body(file.stream());
        if (written && report != nullptr && report->pauseBeforeRename > 0) {
            std::fflush(file.stream());
            ::usleep(static_cast<useconds_t>(report->pauseBeforeRename) * 1000U);
        }
        // The final name is made by the rename: failing it is failing to create the clip.
        if (!file.commit(problem, written, FinalName::mustBeNew)) {
            failure = file.renameFailed() ? kClipCreateError : kClipWriteError;
        }
    }
    if (failure != nullptr && report != nullptr) {
        // The clip's own name: the temporary one means nothing to a user.
        report->detail = std::string(fileName) + ": " + std::strerror(file.error());
        report->error = file.error();
    }
    return failure;
}

}  // namespace bm7
