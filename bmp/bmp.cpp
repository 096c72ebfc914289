#include "bmp.h"

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

int bmp_read(const uint8_t* file, size_t size, std::vector<uint8_t>* image, int* bits) {
    *bits = 0;
    if (size < 2 || file[0] != 'B' || file[1] != 'M') return kBmpNotBmp;
    if (size < 18) return kBmpTruncated;
    const uint32_t header = static_cast<uint32_t>(read_le32(file + 14));
    if (header != 40 && header != 52 && header != 56 && header != 108 && header != 124)
        return kBmpNotBmp;
    if (size < 14 + header) return kBmpTruncated;
    const int32_t width = read_le32(file + 18), height = read_le32(file + 22);
    *bits = static_cast<int>(read_le16(file + 28));
    if (*bits != 8) return kBmpNot8Bit;
    if (read_le32(file + 30) != 0) return kBmpCompressed;
    const uint32_t used = static_cast<uint32_t>(read_le32(file + 46));
    const size_t colours = used == 0 ? 256 : used;
    if (colours > 256) return kBmpTooManyColours;
    const size_t table = 14 + header, pixels = static_cast<uint32_t>(read_le32(file + 10));
    if (width < 0 || height == INT32_MIN || pixels < table + 4 * colours) return kBmpBadLayout;
    const size_t rows = static_cast<size_t>(height < 0 ? -static_cast<int64_t>(height) : height);
    const size_t row_size = static_cast<size_t>(bmp_row_size(width));
    if (table + 4 * colours > size || pixels > size ||
        (row_size > 0 && (size - pixels) / row_size < rows))
        return kBmpTruncated;
    uint8_t palette[1024] = {};
    for (size_t i = 0; i < colours; i++) {
        const uint8_t* bgrx = file + table + 4 * i;
        palette[4 * i] = bgrx[2];
        palette[4 * i + 1] = bgrx[1];
        palette[4 * i + 2] = bgrx[0];
    }
    // The rows top row first: a positive height stores the bottom row first.
    std::vector<uint8_t> top_down(rows * static_cast<size_t>(width));
    for (size_t y = 0; width > 0 && y < rows; y++) {
        const size_t from = height > 0 ? rows - 1 - y : y;
        std::memcpy(top_down.data() + y * static_cast<size_t>(width),
                    file + pixels + from * row_size, static_cast<size_t>(width));
    }
    *image = kzp_image_bytes(width, static_cast<int32_t>(rows), top_down.data(), palette);
    return kBmpRead;
}
