// The decoded KZP image: what a KZP stream decodes to, and what the picture
// writers (bmp/, png/) read and the readers produce.
//
// A decoded image of L bytes is read from its end:
//
//   L-4    .. L-1     H, height in pixels, signed 32-bit little-endian
//   L-8    .. L-5     W, width in pixels,  signed 32-bit little-endian
//   L-1032 .. L-9     palette: 256 entries of red, green, blue, unused
//   before that       H rows of W palette indices, top row first, ending at L-1033
//
// Bytes in front of the pixel rows are ignored.  A layout fits when
// L >= 1032 and, for H > 0, W >= 0 and W * H <= L - 1032 (in 64 bits);
// anything else would send a writer outside the decoded bytes and is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int64_t kKzpTrailerSize = 1032; // palette + width + height

struct KzpImage {
    int32_t width;
    int32_t height;
    const uint8_t* palette; // 1024 bytes
    const uint8_t* pixels;  // height rows of width bytes, top row first (when height > 0)
};

// Locates the parts of the decoded image of `length` bytes at `data`.  False
// when its layout does not fit inside those bytes.
bool kzp_image_parse(const uint8_t* data, int64_t length, KzpImage* image);

// The decoded layout of an image: `width * height` pixel bytes (top row
// first), the 1024-byte palette (red, green, blue, unused), then width and
// height.  With a width or height of 0 or less there are no pixel bytes.
std::vector<uint8_t> kzp_image_bytes(int32_t width, int32_t height, const uint8_t* pixels,
                                     const uint8_t* palette);

// Spreads `count` indices of `bits` bits each (1, 2, 4 or 8), packed from the
// most significant bit of `packed` on, into one byte each at `out`.
void kzp_unpack_indices(const uint8_t* packed, unsigned bits, size_t count, uint8_t* out);
