// Palette PNG files for decoded KZP images (kzp/kzp.h): the writer, over
// libdeflate, and the reader, over libspng.  Nothing else in quorbin sees
// either library.
//
// A PNG file is an 8-byte signature (137 'P' 'N' 'G' 13 10 26 10), then chunks:
// a 4-byte big-endian length, a 4-letter type, the data, and a CRC-32 of the
// type and the data.  The file quorbin writes for an image of W x H pixels
// holds four kinds of chunk, and the same image always gives the same bytes:
//
//   IHDR  W, H (4 bytes each), bit depth 8, colour type 3 (palette),
//         compression 0, filter method 0, no interlace              (13 bytes)
//   PLTE  the 256 palette entries in order as red, green, blue; the decoded
//         entry's unused fourth byte is dropped                    (768 bytes)
//   IDAT  one zlib stream of the H rows, top row first, each a filter byte
//         and the row's W indices filtered by it; the stream is cut into
//         chunks of at most 1 MiB
//   IEND  empty
//
// The rows go into the stream one of two ways, whichever compresses better
// on probes of rows spread over the picture (on the whole picture when it is
// small): each row with the filter (none, sub, up or average, over whole
// bytes) whose output has the smallest sum of magnitudes as signed bytes,
// which pays when the palette's order follows its colours; or every row
// unfiltered, which pays when it does not.  The file is then no larger than
// what zlib's default level makes of the unfiltered rows (Pillow's and
// libpng's way for palette pictures), but for pictures of a few pixels.
// Data that does not compress is stored in the stream as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "kzp/kzp.h"

enum PngWriteResult : int {
    kPngOk = 0,
    kPngBroken = -1,     // the layout does not fit inside the decoded bytes
    kPngNoPixels = -2,   // a width of 0 or a height of 0 or less: no PNG holds it
    kPngNoMemory = -3,   // no memory for the filtered rows or the stream
    kPngWriteError = -4, // the output refused a write
};

// Writes the decoded image of `length` bytes to `output` as a PNG file.
// Nothing is written unless the result is kPngOk or kPngWriteError.  The
// caller flushes and closes the output.
int write_png(std::FILE* output, const uint8_t* data, int64_t length);

// From now on, the writer spends `effort` on the size of its files (quorbin's
// -z): 1, the fastest, to 9, the smallest; 0 is the default, 6, as fast as
// can be at a size about 1% below zlib's default level.  Efforts 1 to 9
// compress the rows with libdeflate's level 1, 2, 3, 4, 5, 6 (7 on pictures
// of 2 MiB or more), 7, 8 or 10; up to 6, filtered rows that level 1 makes
// small enough go at level 1.  The bytes depend on the effort only.  Set it
// before any thread writes.
void png_set_effort(int effort);

// From now on, the writer hands each buffer of 4 MiB or more it allocates
// (the filtered rows, the compressed pieces) to `hint` before it touches it:
// the host's way of backing big buffers with huge pages (nullptr: none).
// Set it before any thread writes.
void png_hint_big_buffers(void (*hint)(void* memory, size_t size));

// --- reading -----------------------------------------------------------------
//
// Accepted: colour type 3 (palette, with a PLTE of up to 256 entries) and
// colour type 0 (grey, whose palette is the 2^depth levels i * 255 /
// (2^depth - 1)), at 1, 2, 4 or 8 bits, interlaced or not, any filters, the
// stream in any number of IDAT chunks.  Ancillary chunks are ignored, tRNS
// included.  Refused: other colour types and 16 bits; a bad CRC anywhere; a
// missing IHDR, PLTE, IDAT or IEND; an unknown critical chunk; a zero width
// or height, or more than kPngMaxPixels pixels; a zlib stream that does not
// hold exactly the bytes the header implies; a file cut short.  Sizes are
// checked in 64 bits before anything is allocated.

constexpr uint64_t kPngMaxPixels = uint64_t{1} << 28;

enum PngReadResult : int {
    kPngRead = 0,
    kPngNotPng = -1,     // no PNG signature
    kPngNotPalette = -2, // another colour type or 16 bits: `detail` names the kind
    kPngTooLarge = -3,   // more than kPngMaxPixels pixels
    kPngDamaged = -4,    // `detail` names the fault
    kPngReadNoMemory = -5,
};

// Reads the PNG file of `size` bytes at `file` into `image`, in the decoded
// layout: the indices top row first (indices past the file's palette kept,
// with palette entries 0 there), the palette as red, green, blue, 0, width and
// height.  `detail` receives a text for the refusals that have one.
int png_read(const uint8_t* file, size_t size, std::vector<uint8_t>* image, const char** detail);

// Reads the PNG file of `size` bytes at `file` as its colours: every kind
// png_read reads, and true colour, true colour and alpha, grey of 16 bits
// and grey and alpha, at 8 or 16 bits a sample (a 16-bit sample's high byte;
// alpha is dropped).
int png_read_colours(const uint8_t* file, size_t size, KzpColours* picture, const char** detail);
