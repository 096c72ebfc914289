#include "kzp.h"

#include <algorithm>
#include <cstring>

#include "colour.h"

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

// The index for `colour` at a pixel whose own index is `at`: that one when
// it has the colour, else the preferred one; -1 when none has it.
int index_for(uint32_t colour, uint8_t at, const uint32_t* own, const Preferred& preferred) {
    return own[at] == colour ? at : preferred.find(colour);
}

// Gives each pixel that the palette lacks (index -1) the index of the
// palette colour nearest to its own in OKLab.  With `dither`, rows are taken
// in turn left to right and right to left, and each pixel's error (in linear
// light: what it wanted less what it took) goes to its neighbours that lack
// their colours too, by Floyd and Steinberg's weights: 7/16 to the next
// pixel of the row, 3/16, 5/16 and 1/16 to the three below, from behind to
// ahead; what falls on a pixel that keeps its colour is dropped.
template <typename ColourOf>
void map_nearest(const KzpImage& image, ColourOf colour_of, const uint32_t* own,
                 const Preferred& preferred, bool dither, int16_t* indices, KzpUnmapped* unmapped) {
    Oklab lab[256];
    float linear[256][3];
    for (int i = 0; i < 256; i++) {
        lab[i] = oklab_of(image.palette + 4 * i);
        for (int c = 0; c < 3; c++)
            linear[i][c] = linear_of(image.palette[4 * i + c]);
    }
    const size_t width = static_cast<size_t>(image.width);
    // Errors owed to this row and the next, with a pixel to spare at each end.
    std::vector<float> error[2] = {std::vector<float>(3 * width + 6),
                                   std::vector<float>(3 * width + 6)};
    for (size_t y = 0, i; y < static_cast<size_t>(image.height); y++) {
        const bool back = dither && y % 2;
        for (size_t k = 0; k < width; k++) {
            const size_t x = back ? width - 1 - k : k;
            i = y * width + x;
            if (indices[i] >= 0) continue;
            uint8_t rgb[3];
            const uint32_t colour = colour_of(i);
            rgb[0] = static_cast<uint8_t>(colour >> 16), rgb[1] = static_cast<uint8_t>(colour >> 8);
            rgb[2] = static_cast<uint8_t>(colour);
            float wanted[3];
            float* owed = &error[0][3 * x + 3];
            for (int c = 0; c < 3; c++)
                wanted[c] = std::clamp(linear_of(rgb[c]) + owed[c], 0.0f, 1.0f);
            const int entry = nearest_entry(lab, oklab_of_linear(wanted[0], wanted[1], wanted[2]));
            indices[i] =
                static_cast<int16_t>(index_for(own[entry], image.pixels[i], own, preferred));
            unmapped->largest = std::max(unmapped->largest, delta_e(oklab_of(rgb), lab[entry]));
            if (!dither) continue;
            const ptrdiff_t ahead = back ? -1 : 1;
            const struct {
                int row;
                ptrdiff_t dx;
                float weight;
            } shares[] = {{0, ahead, 7}, {1, -ahead, 3}, {1, 0, 5}, {1, ahead, 1}};
            for (const auto& share : shares) {
                const size_t to = x + static_cast<size_t>(share.dx);
                if (to >= width ||
                    y + static_cast<size_t>(share.row) >= static_cast<size_t>(image.height) ||
                    indices[i + share.row * width + static_cast<size_t>(share.dx)] >= 0)
                    continue;
                for (int c = 0; c < 3; c++)
                    error[share.row][3 * to + 3 + c] +=
                        share.weight / 16 * (wanted[c] - linear[entry][c]);
            }
        }
        std::swap(error[0], error[1]);
        std::fill(error[1].begin(), error[1].end(), 0.0f);
    }
}

// Maps the picture whose pixel i has the colour colour_of(i) onto `target`.
template <typename ColourOf>
bool map_pixels(const std::vector<uint8_t>& target, ColourOf colour_of, std::vector<uint8_t>* out,
                KzpUnmapped* unmapped, KzpMapMode mode, std::vector<uint8_t>* edited) {
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
    std::vector<int16_t> indices(count);
    *unmapped = KzpUnmapped{};
    if (edited) edited->assign(count, 0);
    for (size_t i = 0; i < count; i++) {
        const uint32_t colour = colour_of(i);
        indices[i] = static_cast<int16_t>(index_for(colour, image.pixels[i], own, preferred));
        if (edited) (*edited)[i] = colour != own[image.pixels[i]];
        if (indices[i] >= 0 || unmapped->pixels++) continue;
        unmapped->x = static_cast<int32_t>(i % static_cast<size_t>(image.width));
        unmapped->y = static_cast<int32_t>(i / static_cast<size_t>(image.width));
        unmapped->red = static_cast<uint8_t>(colour >> 16);
        unmapped->green = static_cast<uint8_t>(colour >> 8), unmapped->blue = colour & 0xFF;
    }
    if (unmapped->pixels && mode == kKzpExact) return false;
    if (unmapped->pixels) {
        // Where the picture's four corners have one colour that the palette holds, its index is
        // likely a sprite's transparency key: pixels that take it for a colour near it are told.
        const size_t width = static_cast<size_t>(image.width),
                     corners[4] = {0, width - 1, count - width, count - 1};
        const bool keyed = std::all_of(corners, corners + 4, [&](size_t i) {
            return indices[i] >= 0 && colour_of(i) == colour_of(0);
        });
        const std::vector<int16_t> before = indices;
        map_nearest(image, colour_of, own, preferred, mode == kKzpDither, indices.data(), unmapped);
        for (size_t i = 0; keyed && i < count; i++) {
            if (before[i] >= 0 || indices[i] != indices[0] || unmapped->keyed++) continue;
            unmapped->key = static_cast<uint8_t>(indices[0]);
            unmapped->key_x = static_cast<int32_t>(i % width);
            unmapped->key_y = static_cast<int32_t>(i / width);
        }
    }
    const std::vector<uint8_t> bytes(indices.begin(), indices.end());
    *out = kzp_with_pixels(target, bytes.data());
    return true;
}

} // namespace

bool kzp_map_picture(const std::vector<uint8_t>& target, const KzpColours& picture,
                     std::vector<uint8_t>* out, KzpUnmapped* unmapped, KzpMapMode mode,
                     std::vector<uint8_t>* edited) {
    const uint8_t* rgb = picture.rgb.data();
    return map_pixels(
        target, [rgb](size_t i) { return colour_at(rgb + 3 * i); }, out, unmapped, mode, edited);
}

bool kzp_map_image(const std::vector<uint8_t>& target, const KzpImage& picture,
                   std::vector<uint8_t>* out, KzpUnmapped* unmapped, KzpMapMode mode,
                   std::vector<uint8_t>* edited) {
    uint32_t colour[256];
    for (int i = 0; i < 256; i++)
        colour[i] = colour_at(picture.palette + 4 * i);
    const uint8_t* pixels = picture.pixels;
    return map_pixels(
        target, [&colour, pixels](size_t i) { return colour[pixels[i]]; }, out, unmapped, mode,
        edited);
}
