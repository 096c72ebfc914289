#include "picture.h"

#include <cstring>
#include <utility>

#include "bmp/bmp.h"
#include "files.h"
#include "lzss/lzss.h"
#include "messages.h"
#include "png/png.h"

bool read_picture(const char* path, const uint8_t* file, size_t size, bool true_colour_too,
                  Picture* picture) {
    const char* detail = nullptr;
    picture->true_colour = false;
    int result = png_read(file, size, &picture->image, &detail);
    if (result == kPngNotPalette && true_colour_too) {
        result = png_read_colours(file, size, &picture->colours, &detail);
        picture->true_colour = true;
    }
    switch (result) {
    case kPngRead:
        break;
    case kPngNotPng:
        result = bmp_read(file, size, &picture->image, &detail);
        if (result == kBmpNotPalette && true_colour_too) {
            result = bmp_read_colours(file, size, &picture->colours, &detail);
            picture->true_colour = true;
            if (result == kBmpNotPalette) {
                report(MSG_BMP_UNREADABLE, path, detail);
                return false;
            }
        }
        switch (result) {
        case kBmpRead:
            break;
        case kBmpNotBmp:
            report(MSG_NOT_BMP, path);
            return false;
        case kBmpNotPalette:
            report(MSG_BMP_NOT_PALETTE, path, detail);
            return false;
        case kBmpTooLarge:
            report(MSG_TOO_LARGE, path);
            return false;
        default:
            report(MSG_BMP_DAMAGED, path, detail);
            return false;
        }
        break;
    case kPngNotPalette:
        report(MSG_PNG_NOT_PALETTE, path, detail);
        return false;
    case kPngTooLarge:
        report(MSG_TOO_LARGE, path);
        return false;
    case kPngDamaged:
        report(MSG_PNG_DAMAGED, path, detail);
        return false;
    default:
        report(MSG_NO_MEMORY, path);
        return false;
    }
    KzpImage parsed{picture->colours.width, picture->colours.height, nullptr, nullptr};
    if (!picture->true_colour)
        kzp_image_parse(picture->image.data(), static_cast<int64_t>(picture->image.size()),
                        &parsed);
    picture->width = parsed.width, picture->height = parsed.height;
    return true;
}

bool map_picture(const std::string& path, const std::vector<uint8_t>& target,
                 const Picture& picture, const Options& options, std::vector<uint8_t>* out,
                 KzpUnmapped* mapped, std::vector<uint8_t>* edited, std::vector<uint8_t>* nearest) {
    const KzpMapMode mode = options.dither ? kKzpDither : options.nearest ? kKzpNearest : kKzpExact;
    KzpImage indexed;
    auto map = [&](KzpMapMode how, std::vector<uint8_t>* to, KzpUnmapped* told,
                   std::vector<uint8_t>* marks) {
        return picture.true_colour
                   ? kzp_map_picture(target, picture.colours, to, told, how, marks)
                   : kzp_image_parse(picture.image.data(),
                                     static_cast<int64_t>(picture.image.size()), &indexed) &&
                         kzp_map_image(target, indexed, to, told, how, marks);
    };
    *mapped = KzpUnmapped{};
    if (map(mode, out, mapped, edited)) {
        KzpUnmapped unused;
        if (nearest) map(kKzpNearest, nearest, &unused, nullptr);
        return true;
    }
    report(MSG_UNMAPPED, path.c_str(), static_cast<unsigned long long>(mapped->pixels), mapped->x,
           mapped->y, mapped->red, mapped->green, mapped->blue);
    return false;
}

void report_nearest(const std::string& path, const KzpUnmapped& mapped, const Options& options) {
    if (!mapped.pixels) return;
    report(options.dither ? MSG_DITHERED : MSG_NEAREST, path.c_str(),
           static_cast<unsigned long long>(mapped.pixels), static_cast<double>(mapped.largest));
    if (mapped.keyed)
        report(MSG_KEYED, path.c_str(), static_cast<unsigned long long>(mapped.keyed), mapped.key,
               mapped.key_x, mapped.key_y);
}

bool read_palette_file(const std::string& path, std::vector<uint8_t>* image, FileId* id) {
    Buffer bytes;
    int64_t size = 0;
    if (!read_file(path, bytes, &size, id)) return false;
    // A picture begins with "BM" or the PNG signature; a KZP stream has no mark.
    const uint8_t* file = bytes.get();
    static const uint8_t kPng[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    if ((size >= 2 && file[0] == 'B' && file[1] == 'M') ||
        (size >= 8 && std::memcmp(file, kPng, 8) == 0)) {
        Picture picture;
        const bool read =
            read_picture(path.c_str(), file, static_cast<size_t>(size), false, &picture);
        *image = std::move(picture.image);
        return read;
    }
    Buffer decoded = allocate(9 * size);
    if (!decoded) {
        report(MSG_NO_MEMORY, path.c_str());
        return false;
    }
    image->assign(decoded.get(), decoded.get() + decode_stored_buffer(file, size, decoded.get()));
    KzpImage parsed;
    if (kzp_image_parse(image->data(), static_cast<int64_t>(image->size()), &parsed)) return true;
    report(MSG_BROKEN_IMAGE, path.c_str());
    return false;
}
