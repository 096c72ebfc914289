#include "kzp.h"

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
