// The 8-bit BMP writer for decoded KZP images (kzp/kzp.h), and the reader that
// turns such a BMP file back into the decoded layout.
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
#include <vector>

#include "kzp/kzp.h"

constexpr int kBmpHeaderSize = 1078; // file header + info header + colour table

enum BmpResult : int {
    kBmpOk = 0,
    kBmpBroken = -1,     // the layout does not fit inside the decoded bytes
    kBmpWriteError = -2, // the output refused a write
};

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

// --- reading ---------------------------------------------------------------
//
// Accepted: uncompressed 8-bit palette BMP files with a BITMAPINFOHEADER or
// a later version (52, 56, 108 or 124 bytes), rows bottom-up (height > 0) or
// top-down (height < 0), padded to four bytes, a colour table of 1 to 256
// entries (colours used 0 means 256), pixel data at the offset the file
// header gives.

enum BmpReadResult : int {
    kBmpRead = 0,
    kBmpNotBmp = -1,         // no "BM", or a header of a kind not listed above
    kBmpTruncated = -2,      // the file ends before its headers, table or rows do
    kBmpNot8Bit = -3,        // another bit depth (the `bits` out-parameter tells it)
    kBmpCompressed = -4,     // RLE or bit fields
    kBmpTooManyColours = -5, // a colour table of more than 256 entries
    kBmpBadLayout = -6,      // negative width, height -2^31, pixels inside the headers
};

// Reads the BMP file of `size` bytes at `file` into `image`, in the decoded
// layout (see kzp_image_bytes): rows top row first, the palette as red,
// green, blue, 0 (entries beyond the file's table 0, 0, 0, 0), width and
// height (the number of rows, positive).  `bits` receives the bit depth.
int bmp_read(const uint8_t* file, size_t size, std::vector<uint8_t>* image, int* bits);
