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
// The palette BMP files editors write (little-endian throughout):
//
//   0          "BM", file size, 4 reserved bytes (all three ignored), offset of the pixels
//   14         information header, its first field its size in bytes:
//                12             OS/2 1.x: size, width and height (16 bits each, unsigned),
//                               planes, bits per pixel; colour entries of 3 bytes
//                40, 52, 56,    Windows: size, width, height (negative: rows top-down),
//                108, 124       planes, bits per pixel, compression, image size, two
//                               resolutions, colours used, colours important, then masks
//                               and colour space fields (ignored)
//                16, 64         OS/2 2.x: the 40-byte header's first fields (a 16-byte
//                               header ends after bits per pixel: compression 0, colours 0)
//   14+size    colour table: `colours used` entries (0: 2^bits) of blue, green, red,
//              and an unused byte unless the header is 12 bytes
//   offset     the pixels: 1, 4 or 8 bits each, packed from the most significant bit
//
// Compression 0: rows of ((width * bits + 31) / 32) * 4 bytes, the bottom row first,
// or the top row first when the height is negative.  Compression 1 (RLE8, 8 bits) and
// 2 (RLE4, 4 bits): the bottom row first, coded in byte pairs:
//
//   n, c           (n > 0) n pixels of index c; for RLE4 c's high and low nibble in turn
//   0, 0           end of line: go to the start of the next row up
//   0, 1           end of bitmap
//   0, 2, dx, dy   delta: go dx pixels right and dy rows up
//   0, n           (n >= 3) n indices follow, one per byte (RLE8) or two (RLE4), the
//                  whole padded to an even number of bytes
//
// Pixels that a delta or the end of the bitmap skips are index 0.  The pixels
// of a run that lie past the right edge are dropped (ImageMagick, GraphicsMagick
// and GIMP let a row's last run cover the row's padding); they never wrap onto
// the next row.  A delta that leaves the picture, data for a row above the top,
// or data ending without the end of the bitmap, is damage.

// RLE pictures of more pixels than this are refused by default: their files do
// not bound them (an early end of bitmap stands for any number of zeros).
constexpr uint64_t kBmpMaxPixels = uint64_t{1} << 28;

enum BmpReadResult : int {
    kBmpRead = 0,
    kBmpNotBmp = -1,     // no "BM"
    kBmpNotPalette = -2, // true colour, bit fields, JPEG or PNG inside, ...: `detail` says what
    kBmpDamaged = -3,    // `detail` names the fault
    kBmpTooLarge = -4,   // an RLE picture of more than `max_pixels` pixels
};

// Reads the BMP file of `size` bytes at `file` into `image`, in the decoded
// layout (see kzp_image_bytes): rows top row first, the palette as red,
// green, blue, 0 (entries beyond the file's table 0, 0, 0, 0), width and
// height (the number of rows, positive).  `detail` receives a text for the
// refusals that have one.  RLE pictures of more than `max_pixels` pixels are
// refused before anything is allocated.
int bmp_read(const uint8_t* file, size_t size, std::vector<uint8_t>* image, const char** detail,
             uint64_t max_pixels = kBmpMaxPixels);

// Reads the BMP file of `size` bytes at `file` as its colours: every kind
// bmp_read reads, and true-colour pictures of 24 bits or of 32 bits (blue,
// green, red and an unused or alpha byte: uncompressed, or with bit fields
// of those bytes, the masks 0xFF0000, 0xFF00 and 0xFF at offset 54), rows
// either way up.  Other kinds are refused with kBmpNotPalette, naming them.
int bmp_read_colours(const uint8_t* file, size_t size, KzpColours* picture, const char** detail,
                     uint64_t max_pixels = kBmpMaxPixels);
