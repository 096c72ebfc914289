#include "pack.h"

#include <cstring>
#include <utility>

#include "bmp/bmp.h"
#include "job.h"
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

int pack_file(const std::string& path, const Options& options, const std::vector<uint8_t>* palette,
              const FileId* palette_id) {
    std::string output_path;
    std::FILE* input = start_job(path, options, "kzp", output_path);
    if (!input) return 0;
    const FileId protect[2] = {file_id_of(input), palette_id ? *palette_id : FileId{0, 0, false}};
    Buffer bytes;
    const int64_t size = read_whole(input, bytes);
    std::fclose(input);
    Picture picture;
    if (size < 0) {
        report(MSG_NO_MEMORY, output_path.c_str());
        return 0;
    }
    if (!read_picture(path.c_str(), bytes.get(), static_cast<size_t>(size), palette != nullptr,
                      &picture))
        return 0;
    bytes.reset();
    std::vector<uint8_t> image;
    KzpUnmapped mapped{};
    if (palette) {
        KzpImage target;
        kzp_image_parse(palette->data(), static_cast<int64_t>(palette->size()), &target);
        const bool same = target.width == picture.width && target.height == picture.height;
        const std::vector<uint8_t> fresh =
            same ? *palette
                 : kzp_image_bytes(picture.width, picture.height,
                                   std::vector<uint8_t>(static_cast<size_t>(picture.width) *
                                                        static_cast<size_t>(picture.height))
                                       .data(),
                                   target.palette);
        if (!map_picture(path, fresh, picture, options, &image, &mapped)) return 0;
    } else {
        image = std::move(picture.image);
    }
    const std::vector<uint8_t> stream = lzss_encode(image);
    OutputFile out;
    if (!open_part(output_path, protect, 2, &out)) return 0;
    const bool written = std::fwrite(stream.data(), 1, stream.size(), out.file) == stream.size();
    if (!finish_part(output_path, out, written ? kConvertOk : kConvertWriteError)) return 0;
    say("OK\n");
    report_nearest(path, mapped, options);
    return 1;
}
