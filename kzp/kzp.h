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

// A picture given by its colours: red, green, blue per pixel, top row first.
struct KzpColours {
    int32_t width, height;
    std::vector<uint8_t> rgb;
};

// The colours of an image's pixels through its palette (none for a height of
// 0 or less).
KzpColours kzp_image_colours(const KzpImage& image);

// The decoded image `target` (its layout fits) with `pixels` (as many as it
// has) in place of its pixels and, when `palette` is not null, those 1024
// bytes in place of its palette: the bytes in front of the pixels and the
// width and height are kept, and so the length.
std::vector<uint8_t> kzp_with_pixels(const std::vector<uint8_t>& target, const uint8_t* pixels,
                                     const uint8_t* palette = nullptr);

// What becomes of a picture's colours that a palette does not hold.
enum KzpMapMode : int {
    kKzpExact,   // the picture is refused
    kKzpNearest, // each takes the palette colour nearest to it (delta E OK, colour.h)
    kKzpDither,  // the same, with each pixel's error diffused onto its neighbours that lack
                 // their colours too (Floyd-Steinberg, rows in turn each way, in linear light)
};

// The pixels of a picture whose colours a palette does not hold.
struct KzpUnmapped {
    uint64_t pixels;          // how many
    int32_t x, y;             // the first of them, counted from the top left
    uint8_t red, green, blue; // its colour
    float largest;            // the largest delta E OK from a pixel's colour to the one it took
    // Of them, those that took the index of the colour of the picture's four corners (when
    // they have one, which the palette holds: likely a transparency key), the first of those
    // and that index.
    uint64_t keyed;
    int32_t key_x, key_y;
    uint8_t key;
};

// Puts a picture of target's width and height into the decoded image
// `target` (its layout fits) with target's palette: each pixel becomes the index target's
// pixel at its place has, when that index has the pixel's colour (so that
// unchanged pixels keep their indices where the palette repeats a colour),
// else, of the indices with its colour, the one target's pixels use most
// (ties: the lowest), so that a key colour that a real colour repeats stays
// the key where key pixels move.  The result is kzp_with_pixels of those
// indices.  `*unmapped` tells which pixels have colours that the palette
// lacks; kKzpExact refuses them (false), the other modes give them the
// nearest colours by the same rule.  `*edited`, when given, has a byte per
// pixel: 1 where the picture's colour is not target's at that place.
bool kzp_map_picture(const std::vector<uint8_t>& target, const KzpColours& picture,
                     std::vector<uint8_t>* out, KzpUnmapped* unmapped, KzpMapMode mode = kKzpExact,
                     std::vector<uint8_t>* edited = nullptr);

// The same for a palette picture (of target's width and height), whose
// pixels' colours are those of its indices.
bool kzp_map_image(const std::vector<uint8_t>& target, const KzpImage& picture,
                   std::vector<uint8_t>* out, KzpUnmapped* unmapped, KzpMapMode mode = kKzpExact,
                   std::vector<uint8_t>* edited = nullptr);
