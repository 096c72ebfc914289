#include "pack.h"

#include "bmp/bmp.h"
#include "convert.h"
#include "lzss/lzss.h"
#include "messages.h"
#include "png/png.h"

namespace {

// Reads the whole input; -1 when memory runs out.
int64_t read_input(std::FILE* input, Buffer& bytes) {
    const int64_t size = file_size(input);
    return read_to_end(input, size < 0 ? INT64_MAX : size, bytes);
}

// Reads the BMP or PNG file of `size` bytes at `file` into `image`; reports
// why it is refused and returns false then.
bool read_picture(const char* path, const uint8_t* file, size_t size, std::vector<uint8_t>* image) {
    const char* detail = nullptr;
    switch (png_read(file, size, image, &detail)) {
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
    switch (bmp_read(file, size, image, &detail)) {
    case kBmpRead:
        return true;
    case kBmpNotBmp:
        report(MSG_NOT_BMP, path);
        break;
    case kBmpNotPalette:
        report(MSG_BMP_NOT_PALETTE, path, detail);
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

} // namespace

int pack_file(const std::string& path, const Options& options) {
    std::string output_path;
    std::FILE* input = start_job(path, options, "kzp", output_path);
    if (!input) return 0;
    const FileId input_id = file_id_of(input);
    Buffer bytes;
    const int64_t size = read_input(input, bytes);
    std::fclose(input);
    std::vector<uint8_t> image;
    if (size < 0) {
        report(MSG_NO_MEMORY, output_path.c_str());
        return 0;
    }
    if (!read_picture(path.c_str(), bytes.get(), static_cast<size_t>(size), &image)) return 0;
    bytes.reset();
    const std::vector<uint8_t> stream = lzss_encode(image);
    OutputFile out;
    if (!open_part(output_path, &input_id, 1, &out)) return 0;
    const bool written = std::fwrite(stream.data(), 1, stream.size(), out.file) == stream.size();
    if (!finish_part(output_path, out, written ? kConvertOk : kConvertWriteError)) return 0;
    std::printf("OK\n");
    return 1;
}
