#include "bmp.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr size_t kStagingSize = 1 << 18; // bytes gathered per fwrite

int32_t read_le32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}

uint32_t read_le16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}

uint8_t* put_le16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    return p + 2;
}

uint8_t* put_le32(uint8_t* p, uint32_t v) {
    p = put_le16(p, v & 0xFFFF);
    return put_le16(p, v >> 16);
}

} // namespace

int64_t bmp_row_size(int32_t width) {
    return (static_cast<int64_t>(width) + 3) & ~int64_t{3};
}

void bmp_build_headers(const KzpImage& image, uint8_t* p) {
    *p++ = 'B';
    *p++ = 'M';
    p = put_le32(p, static_cast<uint32_t>(bmp_file_size(image)));
    p = put_le32(p, 0);
    p = put_le32(p, kBmpHeaderSize);
    p = put_le32(p, 40);
    p = put_le32(p, static_cast<uint32_t>(image.width));
    p = put_le32(p, static_cast<uint32_t>(image.height));
    p = put_le16(p, 1);
    p = put_le16(p, 8);
    std::memset(p, 0, 24); // compression, image size, resolutions, colour counts
    p += 24;
    for (int i = 0; i < 256; i++) {
        const uint8_t* rgbx = image.palette + 4 * i;
        *p++ = rgbx[2];
        *p++ = rgbx[1];
        *p++ = rgbx[0];
        *p++ = 0;
    }
}

int64_t bmp_file_size(const KzpImage& image) {
    if (image.height <= 0) return kBmpHeaderSize;
    return kBmpHeaderSize + image.height * bmp_row_size(image.width);
}

int write_bmp(std::FILE* output, const uint8_t* data, int64_t length) {
    KzpImage image;
    if (!kzp_image_parse(data, length, &image)) return kBmpBroken;
    std::unique_ptr<uint8_t[]> staging(new (std::nothrow) uint8_t[kStagingSize]);
    if (!staging) return kBmpWriteError;
    uint8_t* stage = staging.get();
    bmp_build_headers(image, stage);
    size_t used = kBmpHeaderSize;
    auto flush = [&]() {
        bool ok = used == 0 || std::fwrite(stage, 1, used, output) == used;
        used = 0;
        return ok;
    };
    const size_t width = image.height > 0 ? static_cast<size_t>(image.width) : 0;
    const size_t row_size = static_cast<size_t>(bmp_row_size(static_cast<int32_t>(width)));
    // Rows of width 0 hold no bytes: a huge height must not cost a pass per row.
    const int32_t rows = row_size > 0 ? image.height : 0;
    static const uint8_t zeros[4] = {0, 0, 0, 0};
    for (int32_t row = rows - 1; row >= 0; row--) {
        const uint8_t* src = image.pixels + static_cast<size_t>(row) * width;
        if (row_size > kStagingSize - used && !flush()) return kBmpWriteError;
        if (row_size <= kStagingSize) {
            std::memcpy(stage + used, src, width);
            std::memset(stage + used + width, 0, row_size - width);
            used += row_size;
        } else if (std::fwrite(src, 1, width, output) != width ||
                   std::fwrite(zeros, 1, row_size - width, output) != row_size - width) {
            return kBmpWriteError;
        }
    }
    return flush() ? kBmpOk : kBmpWriteError;
}

namespace {

// The information header's fields, whichever of its sizes the file uses.
struct BmpInfo {
    uint32_t header; // its size
    int64_t width, height;
    uint32_t bits, compression, colours;
    size_t entry; // bytes per colour table entry
};

// Reads the information header, which the caller has checked lies in the file.
BmpInfo read_info(const uint8_t* file) {
    BmpInfo info{};
    info.header = static_cast<uint32_t>(read_le32(file + 14));
    if (info.header == 12) {
        info.width = read_le16(file + 18);
        info.height = read_le16(file + 20);
        info.bits = read_le16(file + 24);
        info.entry = 3;
        return info;
    }
    info.width = read_le32(file + 18);
    info.height = read_le32(file + 22);
    info.bits = read_le16(file + 28);
    if (info.header > 16) {
        info.compression = static_cast<uint32_t>(read_le32(file + 30));
        info.colours = static_cast<uint32_t>(read_le32(file + 46));
    }
    info.entry = 4;
    return info;
}

// What a picture that is not a palette picture of 1, 4 or 8 bits is, or null.
const char* other_kind(const BmpInfo& info) {
    const bool os2 = info.header == 64; // (a 16-byte header has no compression field)
    if (info.compression == 4 && !os2) return "a BMP file holding a JPEG picture";
    if (info.compression == 5 && !os2) return "a BMP file holding a PNG picture";
    switch (info.bits) {
    case 2:
        return "a 2-bit BMP file";
    case 16:
        return "a 16-bit true-colour BMP file";
    case 24:
        return "a 24-bit true-colour BMP file";
    case 32:
        return "a 32-bit true-colour BMP file";
    case 64:
        return "a 64-bit true-colour BMP file";
    }
    if ((info.compression == 3 || info.compression == 6) && !os2)
        return "a BMP file with bit fields";
    if (info.compression > 2) return "a BMP file of a compression quorbin-pack does not know";
    return nullptr;
}

constexpr const char* kLeaves = "a run or delta of its RLE data leaves the picture";

// Decodes the RLE8 (`bits` 8) or RLE4 (`bits` 4) data at [p, end) into the
// zeroed rows at `pixels`, top row first, or only checks it when `pixels` is
// null.  Null, or the fault.
const char* read_rle(const uint8_t* p, const uint8_t* end, unsigned bits, size_t width,
                     size_t height, uint8_t* pixels) {
    size_t x = 0, y = 0; // y counts rows from the bottom
    while (end - p >= 2) {
        const unsigned n = p[0], c = p[1];
        p += 2;
        if (n > 0 || c >= 3) { // n pixels of c, or c pixels as they are
            // Pixels past the right edge are dropped: encoders let a row's
            // last run cover the row's padding.
            const size_t count = n > 0 ? n : c, kept = std::min(count, width - x);
            if (y >= height) return kLeaves;
            uint8_t* row = pixels ? pixels + (height - 1 - y) * width + x : nullptr;
            x += kept;
            if (n > 0) {
                for (size_t i = 0; row && i < kept; i++)
                    row[i] = static_cast<uint8_t>(bits == 8 ? c : i % 2 ? c & 15 : c >> 4);
                continue;
            }
            const size_t padded = ((count * bits + 7) / 8 + 1) & ~size_t{1};
            if (static_cast<size_t>(end - p) < padded) break;
            if (row) kzp_unpack_indices(p, bits, kept, row);
            p += padded;
        } else if (c == 0) { // end of line
            if (y >= height) return kLeaves;
            x = 0;
            y++;
        } else if (c == 1) { // end of bitmap
            return nullptr;
        } else { // delta
            if (end - p < 2) break;
            if (p[0] > width - x || p[1] > height - y) return kLeaves;
            x += p[0];
            y += p[1];
            p += 2;
        }
    }
    return "its RLE data ends without an end-of-bitmap mark";
}

// The fault in the layout `info` describes for a file of `size` bytes, or null.
const char* layout_fault(const BmpInfo& info, size_t size, size_t pixels, size_t colours) {
    const size_t table = 14 + info.header;
    if (colours > size_t{1} << std::min(info.bits, 24u))
        return "its colour table has more entries than its bit depth can index";
    if (info.width < 0 || info.height == INT32_MIN) return "its width or height is out of range";
    if (info.compression && info.height < 0) return "its RLE rows are stored top-down";
    if (info.compression && info.bits != (info.compression == 1 ? 8u : 4u))
        return "its RLE compression does not match its bit depth";
    if (pixels < table + info.entry * colours) return "its pixels start inside its headers";
    if (table + info.entry * colours > size) return "it ends inside its colour table";
    return pixels > size ? "it ends before its pixels start" : nullptr;
}

} // namespace

namespace {

// Whether `info` describes a true-colour picture bmp_read_colours reads.
bool true_colour(const BmpInfo& info, const uint8_t* file, size_t size) {
    if (info.compression == 0) return info.bits == 24 || info.bits == 32;
    return info.bits == 32 && (info.compression == 3 || info.compression == 6) &&
           info.header != 64 && size >= 66 && read_le32(file + 54) == 0xFF0000 &&
           read_le32(file + 58) == 0xFF00 && read_le32(file + 62) == 0xFF;
}

// Reads the picture into `image` (a palette picture, in the decoded layout)
// or, when `colours` is not null, as its colours.
int read_bmp(const uint8_t* file, size_t size, std::vector<uint8_t>* image, KzpColours* colours,
             const char** detail, uint64_t max_pixels) {
    *detail = nullptr;
    if (size < 2 || file[0] != 'B' || file[1] != 'M') return kBmpNotBmp;
    *detail = "it ends inside its headers";
    if (size < 18) return kBmpDamaged;
    const uint32_t header = static_cast<uint32_t>(read_le32(file + 14));
    if (header != 12 && header != 16 && header != 40 && header != 52 && header != 56 &&
        header != 64 && header != 108 && header != 124) {
        *detail = "a BMP file with a header of a kind quorbin-pack does not know";
        return kBmpNotPalette;
    }
    if (size < 14 + header) return kBmpDamaged;
    BmpInfo info = read_info(file);
    const bool rgb = colours && true_colour(info, file, size);
    if (!rgb && (*detail = other_kind(info))) return kBmpNotPalette;
    if (!rgb && info.bits != 1 && info.bits != 4 && info.bits != 8) {
        *detail = "its bit depth is none of 1, 2, 4, 8, 16, 24, 32 and 64";
        return kBmpDamaged;
    }
    // A true-colour picture's table, if any, is not used.
    const size_t entries = rgb ? 0 : info.colours ? info.colours : size_t{1} << info.bits;
    const size_t pixels = static_cast<uint32_t>(read_le32(file + 10));
    info.compression = rgb ? 0 : info.compression;
    if ((*detail = layout_fault(info, size, pixels, entries))) return kBmpDamaged;
    const size_t width = static_cast<size_t>(info.width);
    const size_t rows = static_cast<size_t>(info.height < 0 ? -info.height : info.height);
    if (info.compression && uint64_t{width} * rows > max_pixels) return kBmpTooLarge;
    const size_t row_size = (width * info.bits + 31) / 32 * 4;
    if (!info.compression && row_size > 0 && (size - pixels) / row_size < rows) {
        *detail = "it ends before its last row";
        return kBmpDamaged;
    }
    *detail = nullptr;
    if (rgb) { // blue, green, red, then for 32 bits a byte not used
        *colours = KzpColours{static_cast<int32_t>(width), static_cast<int32_t>(rows),
                              std::vector<uint8_t>(3 * width * rows)};
        const size_t step = info.bits / 8;
        // Rows of width 0 hold no bytes: a huge height must not cost a pass per row.
        for (size_t y = 0; width > 0 && y < rows; y++) {
            const uint8_t* from = file + pixels + (info.height > 0 ? rows - 1 - y : y) * row_size;
            for (size_t x = 0; x < width; x++, from += step) {
                uint8_t* to = &colours->rgb[3 * (y * width + x)];
                to[0] = from[2], to[1] = from[1], to[2] = from[0];
            }
        }
        return kBmpRead;
    }

    uint8_t palette[1024] = {};
    for (size_t i = 0; i < entries; i++) {
        const uint8_t* bgr = file + 14 + header + info.entry * i;
        palette[4 * i] = bgr[2];
        palette[4 * i + 1] = bgr[1];
        palette[4 * i + 2] = bgr[0];
    }
    // RLE data is checked before the picture, which it does not bound, is allocated.
    if (info.compression &&
        (*detail = read_rle(file + pixels, file + size, info.bits, width, rows, nullptr)))
        return kBmpDamaged;
    std::vector<uint8_t> top_down(rows * width);
    if (info.compression)
        read_rle(file + pixels, file + size, info.bits, width, rows, top_down.data());
    // Plain rows: a positive height stores the bottom row first.
    for (size_t y = 0; !info.compression && width > 0 && y < rows; y++) {
        const size_t from = info.height > 0 ? rows - 1 - y : y;
        kzp_unpack_indices(file + pixels + from * row_size, info.bits, width,
                           top_down.data() + y * width);
    }
    *image = kzp_image_bytes(static_cast<int32_t>(width), static_cast<int32_t>(rows),
                             top_down.data(), palette);
    if (colours) {
        KzpImage parsed;
        kzp_image_parse(image->data(), static_cast<int64_t>(image->size()), &parsed);
        *colours = kzp_image_colours(parsed);
    }
    return kBmpRead;
}

} // namespace

int bmp_read(const uint8_t* file, size_t size, std::vector<uint8_t>* image, const char** detail,
             uint64_t max_pixels) {
    return read_bmp(file, size, image, nullptr, detail, max_pixels);
}

int bmp_read_colours(const uint8_t* file, size_t size, KzpColours* picture, const char** detail,
                     uint64_t max_pixels) {
    std::vector<uint8_t> image;
    return read_bmp(file, size, &image, picture, detail, max_pixels);
}
