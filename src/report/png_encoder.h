// Encodes images of 8-bit colour indices into a palette of 256 colours as PNG, into a
// byte buffer the encoder keeps, so an encoder used for image after image stops
// allocating once its buffer has grown (libpng's own working memory aside). One byte a
// pixel keeps compression, the costliest part of a spectrogram, three times cheaper
// than RGB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bm7::report {

struct Rgb {
    std::uint8_t red, green, blue;
    bool operator==(const Rgb&) const = default;
};

class PngEncoder {
public:
    // `indices` holds height rows of width bytes, top row first, each an entry of
    // `palette` (256 colours). On failure returns false and says why in `problem`.
    bool encode(const std::uint8_t* indices, int width, int height, const Rgb* palette,
                std::string& problem);
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::vector<const std::uint8_t*> rows_;
};

}  // namespace bm7::report
