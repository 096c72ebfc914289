#include <algorithm>
#include <cstdlib>
#include <memory>

#include "bmp/bmp.h"
#include "lzss/lzss.h"
#include "messages.h"
#include "quorbin.h"

namespace {

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};

} // namespace

int convert_stream(std::FILE* output, std::FILE* input, int64_t stored_size) {
    // Only the bytes that are really there can be decoded, so a huge stored
    // size from a list file costs no more memory than the file can fill.
    int64_t size = std::min(stored_size, bytes_to_end(input));
    if (size <= 0) return kConvertOk;
    if (size > INT64_MAX / 9) return kConvertNoMemory;
    // malloc leaves the pages untouched until the decoder writes them.
    std::unique_ptr<uint8_t, FreeDeleter> buffer(
        static_cast<uint8_t*>(std::malloc(static_cast<size_t>(9 * size))));
    if (!buffer) return kConvertNoMemory;
    int64_t decoded = decode_stored_stream(input, size, buffer.get());
    if (decoded <= 0) return kConvertOk;
    switch (write_bmp(output, buffer.get(), decoded)) {
    case kBmpOk:
        return kConvertOk;
    case kBmpBroken:
        return kConvertBroken;
    default:
        return kConvertWriteError;
    }
}

int create_bmp_file(const std::string& output_path, std::FILE* input, int64_t stored_size,
                    const FileId* also_protect) {
    FileId protect[2] = {file_id_of(input), also_protect ? *also_protect : FileId{0, 0, false}};
    OutputFile out;
    switch (create_output(output_path.c_str(), protect, 2, &out)) {
    case kCreated:
        break;
    case kCreateIsInput:
        report(MSG_SAME_AS_INPUT, output_path.c_str());
        return 0;
    default:
        report(MSG_CANT_CREATE, output_path.c_str());
        return 0;
    }
    int result = convert_stream(out.file, input, stored_size);
    if (result == kConvertOk && std::fflush(out.file) != 0) result = kConvertWriteError;
    if (std::fclose(out.file) != 0 && result == kConvertOk) result = kConvertWriteError;
    switch (result) {
    case kConvertOk:
        return 1;
    case kConvertNoMemory:
        report(MSG_NO_MEMORY, output_path.c_str());
        return 0;
    case kConvertBroken:
        report(MSG_BROKEN_IMAGE, output_path.c_str());
        return 0;
    default:
        if (out.regular) std::remove(output_path.c_str());
        report(MSG_CANT_WRITE, output_path.c_str());
        return 0;
    }
}

int convert_file(const std::string& path, const Options& options) {
    std::FILE* input = open_input(path.c_str(), kReadBlocks);
    if (!input) {
        report(MSG_CANT_OPEN, path.c_str());
        return 0;
    }
    std::string output_path;
    make_output_name(output_path, path, options.work_dir);
    std::printf("%-16s -> %s ... ", path.c_str(), output_path.c_str());
    if (create_bmp_file(output_path, input, file_size(input), nullptr)) std::printf("OK\n");
    std::fclose(input);
    return 1;
}
