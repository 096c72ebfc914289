#include "convert.h"

#include <algorithm>

#include "bmp/bmp.h"
#include "lzss/lzss.h"
#include "messages.h"
#include "naming.h"
#include "png/png.h"

namespace {

Buffer allocate(int64_t size) {
    return Buffer(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size))));
}

int write_decoded(std::FILE* output, const uint8_t* decoded, int64_t length, OutputFormat format) {
    if (format == kFormatPng) {
        switch (length > 0 ? write_png(output, decoded, length) : kPngNoPixels) {
        case kPngOk:
            return kConvertOk;
        case kPngBroken:
            return kConvertBroken;
        case kPngNoPixels:
            return kConvertNoPixels;
        case kPngNoMemory:
            return kConvertNoMemory;
        default:
            return kConvertWriteError;
        }
    }
    switch (length > 0 ? write_bmp(output, decoded, length) : kBmpOk) {
    case kBmpOk:
        return kConvertOk;
    case kBmpBroken:
        return kConvertBroken;
    default:
        return kConvertWriteError;
    }
}

// Reports why the conversion into `output_path` failed.
void report_failure(int result, const std::string& output_path) {
    const char* message = result == kConvertNoMemory   ? MSG_NO_MEMORY
                          : result == kConvertBroken   ? MSG_BROKEN_IMAGE
                          : result == kConvertNoPixels ? MSG_NO_PIXELS
                                                       : MSG_CANT_WRITE;
    report(message, output_path.c_str());
}

// Flushes and closes an output; `result` becomes kConvertWriteError when that
// fails after a conversion that went well.
int close_output(OutputFile& out, int result) {
    if (result == kConvertOk && std::fflush(out.file) != 0) result = kConvertWriteError;
    if (std::fclose(out.file) != 0 && result == kConvertOk) result = kConvertWriteError;
    return result;
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

int convert_stream(std::FILE* output, std::FILE* input, int64_t stored_size, OutputFormat format) {
    if (stored_size <= 0) return write_decoded(output, nullptr, 0, format);
    // Only the bytes that are really there can be decoded, so a huge stored
    // size from a list file costs no more memory than the file can fill.
    const int64_t available = bytes_to_end(input);
    if (available < 0) {
        // A stream of unknown length is read whole first.
        Buffer stream;
        const int64_t size = read_to_end(input, std::min(stored_size, INT64_MAX / 9), stream);
        if (size < 0) return kConvertNoMemory;
        if (size == 0) return write_decoded(output, nullptr, 0, format);
        Buffer buffer = allocate(9 * size);
        if (!buffer) return kConvertNoMemory;
        return write_decoded(output, buffer.get(),
                             decode_stored_buffer(stream.get(), size, buffer.get()), format);
    }
    const int64_t size = std::min(stored_size, available);
    if (size <= 0) return write_decoded(output, nullptr, 0, format);
    if (size > INT64_MAX / 9) return kConvertNoMemory;
    // malloc leaves the pages untouched until the decoder writes them.
    Buffer buffer = allocate(9 * size);
    if (!buffer) return kConvertNoMemory;
    return write_decoded(output, buffer.get(), decode_stored_stream(input, size, buffer.get()),
                         format);
}

int create_bmp_file(const std::string& output_path, std::FILE* input, int64_t stored_size,
                    const FileId* also_protect) {
    const FileId protect[2] = {file_id_of(input),
                               also_protect ? *also_protect : FileId{0, 0, false}};
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
    const int result = close_output(out, convert_stream(out.file, input, stored_size));
    if (result == kConvertOk) return 1;
    if (result == kConvertWriteError && out.regular) remove_file(output_path.c_str());
    report_failure(result, output_path);
    return 0;
}

int create_png_file(const std::string& output_path, std::FILE* input, int64_t stored_size,
                    const FileId* also_protect) {
    const FileId protect[2] = {file_id_of(input),
                               also_protect ? *also_protect : FileId{0, 0, false}};
    OutputFile out;
    return open_part(output_path, protect, 2, &out) &&
           finish_part(output_path, out, convert_stream(out.file, input, stored_size, kFormatPng));
}

int create_image_file(OutputFormat format, const std::string& output_path, std::FILE* input,
                      int64_t stored_size, const FileId* also_protect) {
    return format == kFormatPng ? create_png_file(output_path, input, stored_size, also_protect)
                                : create_bmp_file(output_path, input, stored_size, also_protect);
}

bool open_part(const std::string& path, const FileId* protect, int count, OutputFile* out) {
    const FileId existing = path_id(path.c_str());
    for (int i = 0; i < count; i++)
        if (same_file(existing, protect[i])) {
            report(MSG_SAME_AS_INPUT, path.c_str());
            return false;
        }
    const std::string part = path + ".part";
    switch (create_output(part.c_str(), protect, count, out)) {
    case kCreated:
        return true;
    case kCreateIsInput:
        report(MSG_SAME_AS_INPUT, part.c_str());
        return false;
    default:
        report(MSG_CANT_CREATE, path.c_str());
        return false;
    }
}

bool finish_part(const std::string& path, OutputFile& out, int result) {
    const std::string part = path + ".part";
    result = close_output(out, result);
    if (result == kConvertOk && rename_file(part.c_str(), path.c_str())) return true;
    if (out.regular) remove_file(part.c_str());
    if (result == kConvertOk)
        report(MSG_CANT_CREATE, path.c_str()); // the rename failed
    else
        report_failure(result, path);
    return false;
}

const char* format_extension(OutputFormat format) {
    return format == kFormatPng ? "png" : "bmp";
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
    std::FILE* input = start_job(path, options, format_extension(options.format), output_path);
    if (!input) return 0;
    // An input whose size cannot be told is read to its end.
    const int64_t size = file_size(input);
    if (create_image_file(options.format, output_path, input, size < 0 ? INT64_MAX : size, nullptr))
        std::printf("OK\n");
    std::fclose(input);
    return 1;
}
