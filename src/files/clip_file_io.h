// Checked single-item writes shared by the clip writers: every call writes one item and
// reports whether it was stored, so a writer can stop at the first failure.
#pragma once

#include <cstdint>
#include <cstdio>

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

// Closes a clip file. A buffered write that failed is often only seen by the close, so
// its result counts like any write: a full disk must not pass for a saved clip.
inline const char* finishClipFile(std::FILE* file, bool written) {
    const bool closed = std::fclose(file) == 0;
    return written && closed ? nullptr : kClipWriteError;
}

// Opens `fileName` with `mode`, lets `body` write it and closes it.
template <typename Body>
const char* writeClipFile(const char* fileName, const char* mode, Body body) {
    std::FILE* file = std::fopen(fileName, mode);
    if (file == nullptr) return kClipCreateError;
    return finishClipFile(file, body(file));
}

}  // namespace bm7
