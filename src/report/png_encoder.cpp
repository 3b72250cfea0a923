#include "report/png_encoder.h"

#include <png.h>
#include <zlib.h>

#include <cstring>

namespace bm7::report {

namespace {

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    bytes->insert(bytes->end(), data, data + length);
}

void flushNothing(png_structp) {}

// libpng reports errors by longjmp; this frame holds nothing that needs destroying, so
// the jump leaves no C++ object half-alive.
bool writeImage(png_structp png, png_infop info, std::vector<std::uint8_t>* bytes,
                const std::uint8_t* const* rows, int width, int height, const png_color* palette) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, bytes, appendBytes, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, palette, 256);
    // Fast compression and no row filter: a spectrogram per detection is made while
    // the scan runs, and palette indices do not predict from their neighbours anyway.
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_HUFFMAN_ONLY);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_rows(png, info, const_cast<png_bytepp>(rows));
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

}  // namespace

bool PngEncoder::encode(const std::uint8_t* indices, int width, int height, const Rgb* palette,
                        std::string& problem) {
    if (width <= 0 || height <= 0) {
        problem = "an image needs at least one pixel";
        return false;
    }
    bytes_.clear();
    rows_.resize(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        rows_[static_cast<std::size_t>(y)] = indices + std::size_t(y) * width;
    png_color colours[256];
    for (int i = 0; i < 256; ++i) colours[i] = {palette[i].red, palette[i].green, palette[i].blue};

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool written =
        info && writeImage(png, info, &bytes_, rows_.data(), width, height, colours);
    png_destroy_write_struct(&png, &info);
    if (!written) problem = "the PNG encoder failed";
    return written;
}

}  // namespace bm7::report
