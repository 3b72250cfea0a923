// Encodes 8-bit RGB images as PNG into a byte buffer the encoder keeps, so an encoder
// used for image after image stops allocating once its buffer has grown (libpng's own
// working memory aside).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bm7::report {

class PngEncoder {
public:
    // `rgb` holds height rows of width * 3 bytes, top row first. On failure returns
    // false and says why in `problem`.
    bool encode(const std::uint8_t* rgb, int width, int height, std::string& problem);
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::vector<const std::uint8_t*> rows_;
};

}  // namespace bm7::report
