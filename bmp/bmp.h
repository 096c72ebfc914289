// Decoded KZP image layout and the 8-bit BMP writer.
//
// A decoded image of L bytes is read from its end:
//
//   L-4    .. L-1     H, height in pixels, signed 32-bit little-endian
//   L-8    .. L-5     W, width in pixels,  signed 32-bit little-endian
//   L-1032 .. L-9     palette: 256 entries of red, green, blue, unused
//   before that       H rows of W palette indices, top row first, ending at L-1033
//
// Bytes in front of the pixel rows are ignored.  An image is accepted when
// L >= 1032 and, for H > 0, W >= 0 and W * H <= L - 1032; anything else would
// send the writer outside the decoded bytes and is refused.
//
// The BMP written (little-endian throughout):
//
//   0     "BM", file size, 0, 0, pixel data offset 1078          (14 bytes)
//   14    header size 40, W, H, planes 1, 8 bits per pixel,
//         compression 0, image size 0, resolution 0 0,
//         colours used 0, important colours 0                   (40 bytes)
//   54    colour table: 256 x (blue, green, red, 0)              (1024 bytes)
//   1078  H rows, the last decoded row first, each padded with
//         zero bytes to a multiple of four                       (only when H > 0)
//
// The file size field is the file's real length: 1078 + H * padded row when
// H > 0, otherwise 1078 (headers and colour table only; the height field still
// holds H as read).
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int64_t kKzpTrailerSize = 1032; // palette + width + height
constexpr int kBmpHeaderSize = 1078;      // file header + info header + colour table

enum BmpResult : int {
    kBmpOk = 0,
    kBmpBroken = -1,     // the layout does not fit inside the decoded bytes
    kBmpWriteError = -2, // the output refused a write
};

struct KzpImage {
    int32_t width;
    int32_t height;
    const uint8_t* palette; // 1024 bytes
    const uint8_t* pixels;  // height rows of width bytes, top row first (when height > 0)
};

// Locates the parts of a decoded image; kBmpOk or kBmpBroken.
int kzp_image_parse(const uint8_t* data, int64_t length, KzpImage* image);

// Length of the BMP file written for `image`.
int64_t bmp_file_size(const KzpImage& image);

// The 1078 bytes in front of the pixel rows: both headers and the colour table.
void bmp_build_headers(const KzpImage& image, uint8_t* headers);

// Bytes of one row in the file: the width rounded up to a multiple of four.
int64_t bmp_row_size(int32_t width);

// Writes the decoded image of `length` bytes to `output` as a BMP file.
// Returns kBmpOk, kBmpBroken (nothing written) or kBmpWriteError.  The caller
// flushes and closes the output.
int write_bmp(std::FILE* output, const uint8_t* data, int64_t length);
