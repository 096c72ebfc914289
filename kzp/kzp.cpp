#include "kzp.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace

bool kzp_image_parse(const uint8_t* data, int64_t length, KzpImage* image) {
    if (length < kKzpTrailerSize) return false;
    image->width = static_cast<int32_t>(read_le32(data + length - 8));
    image->height = static_cast<int32_t>(read_le32(data + length - 4));
    image->palette = data + length - kKzpTrailerSize;
    image->pixels = nullptr;
    if (image->height > 0) {
        const int64_t pixel_bytes = static_cast<int64_t>(image->width) * image->height;
        if (image->width < 0 || pixel_bytes > length - kKzpTrailerSize) return false;
        image->pixels = image->palette - pixel_bytes;
    }
    return true;
}

std::vector<uint8_t> kzp_image_bytes(int32_t width, int32_t height, const uint8_t* pixels,
                                     const uint8_t* palette) {
    const size_t pixel_bytes =
        width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;
    std::vector<uint8_t> image(pixels, pixels + pixel_bytes);
    image.insert(image.end(), palette, palette + 1024);
    image.resize(image.size() + 8);
    put_le32(&image[image.size() - 8], static_cast<uint32_t>(width));
    put_le32(&image[image.size() - 4], static_cast<uint32_t>(height));
    return image;
}

void kzp_unpack_indices(const uint8_t* packed, unsigned bits, size_t count, uint8_t* out) {
    if (bits == 8) {
        std::memcpy(out, packed, count);
        return;
    }
    const unsigned mask = (1u << bits) - 1;
    for (size_t i = 0; i < count; i++) {
        const size_t bit = i * bits;
        out[i] = static_cast<uint8_t>(packed[bit / 8] >> (8 - bits - bit % 8) & mask);
    }
}

KzpColours kzp_image_colours(const KzpImage& image) {
    const size_t count = image.height > 0 ? static_cast<size_t>(image.width) * image.height : 0;
    KzpColours colours{image.width, image.height, std::vector<uint8_t>(3 * count)};
    for (size_t i = 0; i < count; i++)
        std::memcpy(&colours.rgb[3 * i], image.palette + 4 * image.pixels[i], 3);
    return colours;
}

std::vector<uint8_t> kzp_with_pixels(const std::vector<uint8_t>& target, const uint8_t* pixels,
                                     const uint8_t* palette) {
    KzpImage image;
    kzp_image_parse(target.data(), static_cast<int64_t>(target.size()), &image);
    std::vector<uint8_t> out(target);
    const size_t at = static_cast<size_t>(image.palette - target.data());
    if (image.pixels) {
        const size_t from = static_cast<size_t>(image.pixels - target.data());
        std::memcpy(&out[from], pixels, at - from);
    }
    if (palette) std::memcpy(&out[at], palette, 1024);
    return out;
}

namespace {

uint32_t colour_at(const uint8_t* p) {
    return uint32_t{p[0]} << 16 | p[1] << 8 | p[2];
}

// The index each colour of a palette maps to where the image's own index at
// a pixel does not have it: of the indices with that colour, the one the
// image's pixels use most (ties: the lowest).  A key colour that fills a
// sprite's background thus stays the key where a real colour repeats it.
// An open-addressed table of colours (red, green, blue as 24 bits; 1 << 24:
// empty).
struct Preferred {
    static constexpr size_t kSlots = 1024;
    uint32_t colours[kSlots];
    uint8_t index[kSlots] = {};
    uint64_t uses[kSlots] = {};

    Preferred(const uint8_t* palette, const uint64_t* counts) {
        std::fill_n(colours, kSlots, 1u << 24);
        for (int i = 0; i < 256; i++) {
            const uint32_t colour = colour_at(palette + 4 * i);
            const size_t at = slot(colour);
            if (colours[at] == colour && uses[at] >= counts[i]) continue;
            colours[at] = colour;
            index[at] = static_cast<uint8_t>(i);
            uses[at] = counts[i];
        }
    }
    size_t slot(uint32_t colour) const {
        size_t at = (colour * 2654435761u) >> 22;
        while (colours[at] != colour && colours[at] != 1u << 24)
            at = (at + 1) % kSlots;
        return at;
    }
    // The index `colour` maps to, or -1.
    int find(uint32_t colour) const {
        const size_t at = slot(colour);
        return colours[at] == colour ? index[at] : -1;
    }
};

// Maps the picture whose pixel i has the colour colour_of(i) onto `target`.
template <typename ColourOf>
bool map_pixels(const std::vector<uint8_t>& target, ColourOf colour_of, std::vector<uint8_t>* out,
                KzpUnmapped* unmapped) {
    KzpImage image;
    kzp_image_parse(target.data(), static_cast<int64_t>(target.size()), &image);
    const size_t count = image.pixels ? static_cast<size_t>(image.width) * image.height : 0;
    uint64_t uses[256] = {};
    for (size_t i = 0; i < count; i++)
        uses[image.pixels[i]]++;
    const Preferred preferred(image.palette, uses);
    uint32_t own[256]; // the colour of each of target's indices
    for (int i = 0; i < 256; i++)
        own[i] = colour_at(image.palette + 4 * i);
    std::vector<uint8_t> indices(count);
    *unmapped = KzpUnmapped{};
    for (size_t i = 0; i < count; i++) {
        const uint32_t colour = colour_of(i);
        const int index = own[image.pixels[i]] == colour ? image.pixels[i] : preferred.find(colour);
        indices[i] = static_cast<uint8_t>(index);
        if (index >= 0 || unmapped->pixels++) continue;
        unmapped->x = static_cast<int32_t>(i % static_cast<size_t>(image.width));
        unmapped->y = static_cast<int32_t>(i / static_cast<size_t>(image.width));
        unmapped->red = static_cast<uint8_t>(colour >> 16);
        unmapped->green = static_cast<uint8_t>(colour >> 8), unmapped->blue = colour & 0xFF;
    }
    if (unmapped->pixels) return false;
    *out = kzp_with_pixels(target, indices.data());
    return true;
}

} // namespace

bool kzp_map_picture(const std::vector<uint8_t>& target, const KzpColours& picture,
                     std::vector<uint8_t>* out, KzpUnmapped* unmapped) {
    const uint8_t* rgb = picture.rgb.data();
    return map_pixels(
        target, [rgb](size_t i) { return colour_at(rgb + 3 * i); }, out, unmapped);
}

bool kzp_map_image(const std::vector<uint8_t>& target, const KzpImage& picture,
                   std::vector<uint8_t>* out, KzpUnmapped* unmapped) {
    uint32_t colour[256];
    for (int i = 0; i < 256; i++)
        colour[i] = colour_at(picture.palette + 4 * i);
    const uint8_t* pixels = picture.pixels;
    return map_pixels(
        target, [&colour, pixels](size_t i) { return colour[pixels[i]]; }, out, unmapped);
}
