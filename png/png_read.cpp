#include <libdeflate.h>
#include <spng.h>

#include <cstring>
#include <memory>
#include <new>

#include "kzp/kzp.h"
#include "png.h"

namespace {

constexpr size_t kChunkLimit = size_t{1} << 26; // ancillary chunk data kept by libspng

struct FreeContext {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
struct FreeDecompressor {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

uint32_t be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// The kind of a picture that cannot be packed, or null.
const char* unsupported_kind(const spng_ihdr& ihdr) {
    switch (ihdr.color_type) {
    case SPNG_COLOR_TYPE_GRAYSCALE:
    case SPNG_COLOR_TYPE_INDEXED:
        return ihdr.bit_depth <= 8 ? nullptr : "16-bit grey";
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
        return "grey and alpha";
    case SPNG_COLOR_TYPE_TRUECOLOR:
        return "true-colour";
    default:
        return "true-colour and alpha";
    }
}

// Bytes of the filtered rows the zlib stream must hold: one filter byte per
// row, in each of the seven passes of an interlaced picture.  libspng has
// checked the colour type.
uint64_t filtered_size(const spng_ihdr& ihdr) {
    static const uint32_t kX0[7] = {0, 4, 0, 2, 0, 1, 0}, kY0[7] = {0, 0, 4, 0, 2, 0, 1},
                          kDx[7] = {8, 8, 4, 4, 2, 2, 1}, kDy[7] = {8, 8, 8, 4, 4, 2, 2};
    const int passes = ihdr.interlace_method ? 7 : 1;
    // Samples a pixel: grey, true colour, palette, grey and alpha, true colour and alpha.
    static const uint64_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    const uint64_t channels = kChannels[ihdr.color_type % 7];
    uint64_t size = 0;
    for (int p = 0; p < passes; p++) {
        const uint32_t x0 = passes > 1 ? kX0[p] : 0, dx = passes > 1 ? kDx[p] : 1;
        const uint32_t y0 = passes > 1 ? kY0[p] : 0, dy = passes > 1 ? kDy[p] : 1;
        if (ihdr.width <= x0 || ihdr.height <= y0) continue;
        const uint64_t columns = (ihdr.width - x0 + dx - 1) / dx,
                       rows = (ihdr.height - y0 + dy - 1) / dy;
        size += rows * (1 + (columns * ihdr.bit_depth * channels + 7) / 8);
    }
    return size;
}

// The data of the IDAT chunks, as far as the chunks lie inside the file.
std::vector<uint8_t> idat_data(const uint8_t* file, size_t size) {
    std::vector<uint8_t> stream;
    for (size_t at = 8; size - at >= 12 && be32(file + at) <= size - at - 12;
         at += 12 + be32(file + at))
        if (std::memcmp(file + at + 4, "IDAT", 4) == 0)
            stream.insert(stream.end(), file + at + 8, file + at + 8 + be32(file + at));
    return stream;
}

// Whether `stream` is one zlib stream of exactly `expected` bytes with
// nothing after it.
bool stream_is_exact(const std::vector<uint8_t>& stream, uint64_t expected) {
    std::unique_ptr<libdeflate_decompressor, FreeDecompressor> d(libdeflate_alloc_decompressor());
    std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[expected + 1]);
    size_t used = 0, produced = 0;
    return d && out &&
           libdeflate_zlib_decompress_ex(d.get(), stream.data(), stream.size(), out.get(),
                                         expected + 1, &used, &produced) == LIBDEFLATE_SUCCESS &&
           produced == expected && used == stream.size();
}

} // namespace

namespace {

// Reads the picture into `image` (a palette or grey picture of up to 8 bits,
// in the decoded layout) or, when `colours` is not null, as its colours.
int read_png(const uint8_t* file, size_t size, std::vector<uint8_t>* image, KzpColours* colours,
             const char** detail) {
    static const uint8_t kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    *detail = nullptr;
    if (size < 8 || std::memcmp(file, kSignature, 8) != 0) return kPngNotPng;
    std::unique_ptr<spng_ctx, FreeContext> ctx(spng_ctx_new(0));
    if (!ctx) return kPngReadNoMemory;
    spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkLimit);
    spng_set_image_limits(ctx.get(), kPngMaxPixels, kPngMaxPixels);
    spng_set_png_buffer(ctx.get(), file, size);
    spng_ihdr ihdr;
    int error = spng_get_ihdr(ctx.get(), &ihdr);
    if (error == SPNG_EUSER_WIDTH || error == SPNG_EUSER_HEIGHT) return kPngTooLarge;
    const char* kind = error ? nullptr : unsupported_kind(ihdr);
    if (kind && !colours) {
        *detail = kind;
        return kPngNotPalette;
    }
    if (!error && uint64_t{ihdr.width} * ihdr.height > kPngMaxPixels) return kPngTooLarge;
    // Deflate makes at most 1032 bytes of 2 bits: image data far too short
    // for the picture is refused before its pixels take any memory.
    const std::vector<uint8_t> stream = idat_data(file, size);
    if (!error && (stream.size() + 8) * 1032 < filtered_size(ihdr)) {
        *detail = "its image data does not match its width and height";
        return kPngDamaged;
    }
    // True colour (and grey of 16 bits) as 8-bit red, green and blue: a
    // 16-bit sample's high byte, alpha dropped.
    const int format = kind ? SPNG_FMT_RGB8 : SPNG_FMT_PNG;
    size_t packed_size = 0;
    if (!error) error = spng_decoded_image_size(ctx.get(), format, &packed_size);
    // Zeroed: libspng puts the pixels of an interlaced picture of fewer than
    // 8 bits into their bytes bit by bit.
    std::unique_ptr<uint8_t[]> packed(new (std::nothrow) uint8_t[error ? 1 : packed_size]());
    if (!packed) return kPngReadNoMemory;
    if (!error) error = spng_decode_image(ctx.get(), packed.get(), packed_size, format, 0);
    if (!error) error = spng_decode_chunks(ctx.get());
    spng_plte plte{};
    if (!error && ihdr.color_type == SPNG_COLOR_TYPE_INDEXED)
        error = spng_get_plte(ctx.get(), &plte);
    if (error) {
        *detail = error == SPNG_IO_EOF || error == SPNG_EOF ? "it ends before its IEND chunk"
                                                            : spng_strerror(error);
        return kPngDamaged;
    }
    if (!stream_is_exact(stream, filtered_size(ihdr))) {
        *detail = "its image data does not match its width and height";
        return kPngDamaged;
    }
    if (kind) {
        *colours = KzpColours{static_cast<int32_t>(ihdr.width), static_cast<int32_t>(ihdr.height),
                              std::vector<uint8_t>(packed.get(), packed.get() + packed_size)};
        return kPngRead;
    }

    const unsigned depth = ihdr.bit_depth, levels = 1u << depth;
    uint8_t palette[1024] = {};
    for (unsigned i = 0; i < 256; i++) {
        uint8_t* entry = palette + 4 * i;
        if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED && i < plte.n_entries)
            entry[0] = plte.entries[i].red, entry[1] = plte.entries[i].green,
            entry[2] = plte.entries[i].blue;
        else if (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE && i < levels)
            std::memset(entry, static_cast<int>(i * 255 / (levels - 1)), 3);
    }
    // Rows of fewer than 8 bits a pixel come packed, the leftmost pixel in the
    // highest bits of a byte.
    const size_t width = ihdr.width, row_size = packed_size / ihdr.height;
    std::vector<uint8_t> pixels(width * ihdr.height);
    for (size_t y = 0; y < ihdr.height; y++)
        kzp_unpack_indices(packed.get() + y * row_size, depth, width, &pixels[y * width]);
    *image = kzp_image_bytes(static_cast<int32_t>(ihdr.width), static_cast<int32_t>(ihdr.height),
                             pixels.data(), palette);
    if (colours) {
        KzpImage parsed;
        kzp_image_parse(image->data(), static_cast<int64_t>(image->size()), &parsed);
        *colours = kzp_image_colours(parsed);
    }
    return kPngRead;
}

} // namespace

int png_read(const uint8_t* file, size_t size, std::vector<uint8_t>* image, const char** detail) {
    return read_png(file, size, image, nullptr, detail);
}

int png_read_colours(const uint8_t* file, size_t size, KzpColours* picture, const char** detail) {
    std::vector<uint8_t> image;
    return read_png(file, size, &image, picture, detail);
}
