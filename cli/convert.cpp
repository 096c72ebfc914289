#include "convert.h"

#include "job.h"

#include <algorithm>

#include "bmp/bmp.h"
#include "lzss/lzss.h"
#include "messages.h"
#include "naming.h"
#include "png/png.h"

namespace {

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

} // namespace

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

const char* format_extension(OutputFormat format) {
    return format == kFormatPng ? "png" : "bmp";
}

int convert_file(const std::string& path, const Options& options) {
    std::string output_path;
    std::FILE* input = start_job(path, options, format_extension(options.format), output_path);
    if (!input) return 0;
    // An input whose size cannot be told is read to its end.
    const int64_t size = file_size(input);
    if (create_image_file(options.format, output_path, input, size < 0 ? INT64_MAX : size, nullptr))
        say("OK\n");
    std::fclose(input);
    return 1;
}

int convert_archive_entry(const std::string& archive_path, int64_t offset, int64_t stored_size,
                          const std::string& entry_name, const Options& options,
                          const FileId* list_id) {
    std::FILE* archive = open_input(archive_path.c_str(), kReadBlocks);
    if (!archive) {
        report(MSG_CANT_OPEN, archive_path.c_str());
        return 0;
    }
    if (!seek_to(archive, offset)) {
        report(MSG_CANT_SEEK, static_cast<long long>(offset), archive_path.c_str());
        std::fclose(archive);
        return 1;
    }
    std::string output_path;
    make_output_name(output_path, entry_name, options.work_dir, format_extension(options.format));
    say("%s/%-16s -> %s ... ", archive_path.c_str(), entry_name.c_str(), output_path.c_str());
    if (create_image_file(options.format, output_path, archive, stored_size, list_id)) say("OK\n");
    std::fclose(archive);
    return 1;
}

int process_list_file(const std::string& list_path, const Options& options) {
    ListReader list;
    if (!open_list(list_path, &list)) return 0;
    ListLine line;
    while (next_list_line(list, &line))
        convert_archive_entry(options.archive_dir + line.archive_name, line.offset,
                              line.stored_size, line.entry_name, options, &list.id);
    return 1;
}
