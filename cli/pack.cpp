#include "pack.h"

#include <cstring>

#include "bmp/bmp.h"
#include "job.h"
#include "lzss/lzss.h"
#include "messages.h"
#include "png/png.h"

bool read_picture(const char* path, const uint8_t* file, size_t size, std::vector<uint8_t>* image,
                  KzpColours* colours) {
    const char* detail = nullptr;
    switch (colours ? png_read_colours(file, size, colours, &detail)
                    : png_read(file, size, image, &detail)) {
    case kPngRead:
        return true;
    case kPngNotPng:
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
    switch (colours ? bmp_read_colours(file, size, colours, &detail)
                    : bmp_read(file, size, image, &detail)) {
    case kBmpRead:
        return true;
    case kBmpNotBmp:
        report(MSG_NOT_BMP, path);
        break;
    case kBmpNotPalette:
        report(colours ? MSG_BMP_UNREADABLE : MSG_BMP_NOT_PALETTE, path, detail);
        break;
    case kBmpTooLarge:
        report(MSG_TOO_LARGE, path);
        break;
    default:
        report(MSG_BMP_DAMAGED, path, detail);
        break;
    }
    return false;
}

bool read_palette_file(const std::string& path, std::vector<uint8_t>* image) {
    std::FILE* input = open_input(path.c_str(), kReadBlocks);
    if (!input) {
        report(MSG_CANT_OPEN, path.c_str());
        return false;
    }
    Buffer bytes;
    const int64_t size = read_whole(input, bytes);
    std::fclose(input);
    if (size < 0) {
        report(MSG_NO_MEMORY, path.c_str());
        return false;
    }
    // A picture begins with "BM" or the PNG signature; a KZP stream has no mark.
    const uint8_t* file = bytes.get();
    static const uint8_t kPng[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    if ((size >= 2 && file[0] == 'B' && file[1] == 'M') ||
        (size >= 8 && std::memcmp(file, kPng, 8) == 0))
        return read_picture(path.c_str(), file, static_cast<size_t>(size), image, nullptr);
    image->resize(static_cast<size_t>(9 * size));
    image->resize(static_cast<size_t>(decode_stored_buffer(file, size, image->data())));
    KzpImage parsed;
    if (kzp_image_parse(image->data(), static_cast<int64_t>(image->size()), &parsed)) return true;
    report(MSG_BROKEN_IMAGE, path.c_str());
    return false;
}

void report_unmapped(const std::string& path, const KzpUnmapped& unmapped) {
    report(MSG_UNMAPPED, path.c_str(), static_cast<unsigned long long>(unmapped.pixels), unmapped.x,
           unmapped.y, unmapped.red, unmapped.green, unmapped.blue);
}

int pack_file(const std::string& path, const Options& options,
              const std::vector<uint8_t>* palette) {
    std::string output_path;
    std::FILE* input = start_job(path, options, "kzp", output_path);
    if (!input) return 0;
    const FileId input_id = file_id_of(input);
    Buffer bytes;
    const int64_t size = read_whole(input, bytes);
    std::fclose(input);
    std::vector<uint8_t> image;
    KzpColours colours{};
    if (size < 0) {
        report(MSG_NO_MEMORY, output_path.c_str());
        return 0;
    }
    if (!read_picture(path.c_str(), bytes.get(), static_cast<size_t>(size), &image,
                      palette ? &colours : nullptr))
        return 0;
    bytes.reset();
    if (palette) {
        KzpImage target;
        kzp_image_parse(palette->data(), static_cast<int64_t>(palette->size()), &target);
        const std::vector<uint8_t> fresh =
            target.width == colours.width && target.height == colours.height
                ? *palette
                : kzp_image_bytes(colours.width, colours.height,
                                  std::vector<uint8_t>(colours.rgb.size() / 3).data(),
                                  target.palette);
        KzpUnmapped unmapped;
        if (!kzp_map_picture(fresh, colours, &image, &unmapped)) {
            report_unmapped(path, unmapped);
            return 0;
        }
    }
    const std::vector<uint8_t> stream = lzss_encode(image);
    OutputFile out;
    if (!open_part(output_path, &input_id, 1, &out)) return 0;
    const bool written = std::fwrite(stream.data(), 1, stream.size(), out.file) == stream.size();
    if (!finish_part(output_path, out, written ? kConvertOk : kConvertWriteError)) return 0;
    std::printf("OK\n");
    return 1;
}
