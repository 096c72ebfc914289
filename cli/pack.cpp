#include "bmp/bmp.h"
#include "lzss/lzss.h"
#include "messages.h"
#include "quorbin.h"

namespace {

// Reads the whole input; -1 when memory runs out.
int64_t read_input(std::FILE* input, std::unique_ptr<uint8_t, FreeDeleter>& bytes) {
    const int64_t size = file_size(input);
    return read_to_end(input, size < 0 ? INT64_MAX : size, bytes);
}

// Reports why a BMP file is refused.
void report_refusal(int result, const char* path, int bits) {
    switch (result) {
    case kBmpNotBmp:
        report(MSG_NOT_BMP, path);
        break;
    case kBmpTruncated:
        report(MSG_BMP_TRUNCATED, path);
        break;
    case kBmpNot8Bit:
        report(MSG_BMP_NOT_8BIT, path, bits);
        break;
    case kBmpCompressed:
        report(MSG_BMP_COMPRESSED, path);
        break;
    case kBmpTooManyColours:
        report(MSG_BMP_COLOURS, path);
        break;
    default:
        report(MSG_BMP_LAYOUT, path);
        break;
    }
}

// Writes `stream` under a temporary name beside `output_path`, then renames
// it into place; on any failure nothing is left behind.  True when done.
bool write_stream(const std::string& output_path, const std::vector<uint8_t>& stream,
                  const FileId& input_id) {
    const std::string part = output_path + ".part";
    OutputFile out;
    switch (create_output(part.c_str(), &input_id, 1, &out)) {
    case kCreated:
        break;
    case kCreateIsInput:
        report(MSG_SAME_AS_INPUT, part.c_str());
        return false;
    default:
        report(MSG_CANT_CREATE, output_path.c_str());
        return false;
    }
    bool ok = std::fwrite(stream.data(), 1, stream.size(), out.file) == stream.size() &&
              std::fflush(out.file) == 0;
    ok = std::fclose(out.file) == 0 && ok;
    if (ok && rename_file(part.c_str(), output_path.c_str())) return true;
    if (out.regular) remove_file(part.c_str());
    report(ok ? MSG_CANT_CREATE : MSG_CANT_WRITE, output_path.c_str());
    return false;
}

} // namespace

int pack_file(const std::string& path, const Options& options) {
    std::string output_path;
    std::FILE* input = start_job(path, options, "kzp", output_path);
    if (!input) return 0;
    const FileId input_id = file_id_of(input);
    std::unique_ptr<uint8_t, FreeDeleter> bytes;
    const int64_t size = read_input(input, bytes);
    std::fclose(input);
    std::vector<uint8_t> image;
    int bits = 0, result = kBmpRead;
    if (size < 0) {
        report(MSG_NO_MEMORY, output_path.c_str());
    } else if ((result = bmp_read(bytes.get(), static_cast<size_t>(size), &image, &bits)) !=
               kBmpRead) {
        report_refusal(result, path.c_str(), bits);
    } else if (same_file(input_id, path_id(output_path.c_str()))) {
        report(MSG_SAME_AS_INPUT, output_path.c_str());
    } else if (write_stream(output_path, lzss_encode(image), input_id)) {
        std::printf("OK\n");
        return 1;
    }
    return 0;
}
