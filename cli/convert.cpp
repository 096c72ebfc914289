#include <algorithm>
#include <cstdlib>
#include <memory>

#include "bmp/bmp.h"
#include "lzss/lzss.h"
#include "messages.h"
#include "quorbin.h"

namespace {

using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

Buffer allocate(int64_t size) {
    return Buffer(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size))));
}

int write_decoded(std::FILE* output, const uint8_t* decoded, int64_t length) {
    if (length <= 0) return kConvertOk;
    switch (write_bmp(output, decoded, length)) {
    case kBmpOk:
        return kConvertOk;
    case kBmpBroken:
        return kConvertBroken;
    default:
        return kConvertWriteError;
    }
}

} // namespace

// The buffer grows by half as it fills.
int64_t read_to_end(std::FILE* input, int64_t limit, Buffer& bytes) {
    int64_t size = 0, capacity = 0;
    for (;;) {
        if (size == capacity) {
            capacity = std::min(limit, std::max<int64_t>(capacity + capacity / 2, 1 << 16));
            if (size == capacity) return size;
            uint8_t* grown =
                static_cast<uint8_t*>(std::realloc(bytes.get(), static_cast<size_t>(capacity)));
            if (!grown) return -1;
            bytes.release();
            bytes.reset(grown);
        }
        const size_t got =
            std::fread(bytes.get() + size, 1, static_cast<size_t>(capacity - size), input);
        if (got == 0) return size;
        size += static_cast<int64_t>(got);
    }
}

int convert_stream(std::FILE* output, std::FILE* input, int64_t stored_size) {
    if (stored_size <= 0) return kConvertOk;
    // Only the bytes that are really there can be decoded, so a huge stored
    // size from a list file costs no more memory than the file can fill.
    const int64_t available = bytes_to_end(input);
    if (available < 0) {
        // A stream of unknown length is read whole first.
        Buffer stream;
        const int64_t size = read_to_end(input, std::min(stored_size, INT64_MAX / 9), stream);
        if (size < 0) return kConvertNoMemory;
        if (size == 0) return kConvertOk;
        Buffer buffer = allocate(9 * size);
        if (!buffer) return kConvertNoMemory;
        return write_decoded(output, buffer.get(),
                             decode_stored_buffer(stream.get(), size, buffer.get()));
    }
    const int64_t size = std::min(stored_size, available);
    if (size <= 0) return kConvertOk;
    if (size > INT64_MAX / 9) return kConvertNoMemory;
    // malloc leaves the pages untouched until the decoder writes them.
    Buffer buffer = allocate(9 * size);
    if (!buffer) return kConvertNoMemory;
    return write_decoded(output, buffer.get(), decode_stored_stream(input, size, buffer.get()));
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
        if (out.regular) remove_file(output_path.c_str());
        report(MSG_CANT_WRITE, output_path.c_str());
        return 0;
    }
}

std::FILE* start_job(const std::string& path, const Options& options, const char* ext,
                     std::string& output_path) {
    std::FILE* input = open_input(path.c_str(), kReadBlocks);
    if (!input) {
        report(MSG_CANT_OPEN, path.c_str());
        return nullptr;
    }
    make_output_name(output_path, path, options.work_dir, ext);
    std::printf("%-16s -> %s ... ", path.c_str(), output_path.c_str());
    return input;
}

int convert_file(const std::string& path, const Options& options) {
    std::string output_path;
    std::FILE* input = start_job(path, options, "bmp", output_path);
    if (!input) return 0;
    // An input whose size cannot be told is read to its end.
    const int64_t size = file_size(input);
    if (create_bmp_file(output_path, input, size < 0 ? INT64_MAX : size, nullptr))
        std::printf("OK\n");
    std::fclose(input);
    return 1;
}
