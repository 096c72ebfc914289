#include "files.h"

#include <algorithm>

#include "messages.h"
#include "naming.h"

Buffer allocate(int64_t size) {
    if (size < 0 || static_cast<uint64_t>(size) > SIZE_MAX) return nullptr;
    Buffer buffer(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size))));
    if (buffer && size >= (int64_t{4} << 20))
        prefer_huge_pages(buffer.get(), static_cast<size_t>(size));
    return buffer;
}

void report_failure(int result, const std::string& output_path) {
    const char* message = result == kConvertNoMemory   ? MSG_NO_MEMORY
                          : result == kConvertBroken   ? MSG_BROKEN_IMAGE
                          : result == kConvertNoPixels ? MSG_NO_PIXELS
                                                       : MSG_CANT_WRITE;
    report(message, output_path.c_str());
}

int close_output(OutputFile& out, int result) {
    if (result == kConvertOk && std::fflush(out.file) != 0) result = kConvertWriteError;
    if (std::fclose(out.file) != 0 && result == kConvertOk) result = kConvertWriteError;
    return result;
}

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

int64_t read_whole(std::FILE* input, Buffer& bytes) {
    const int64_t size = file_size(input);
    return read_to_end(input, size < 0 ? INT64_MAX : size, bytes);
}

bool read_file(const std::string& path, Buffer& bytes, int64_t* size, FileId* id) {
    std::FILE* input = open_input(path.c_str(), kReadBlocks);
    if (!input) {
        report(MSG_CANT_OPEN, path.c_str());
        return false;
    }
    if (id) *id = file_id_of(input);
    *size = read_whole(input, bytes);
    std::fclose(input);
    if (*size >= 0) return true;
    report(MSG_NO_MEMORY, path.c_str());
    return false;
}

std::string progress_line(const std::string& input, const std::string& output) {
    return input + std::string(input.size() < 16 ? 16 - input.size() : 0, ' ') + " -> " + output +
           " ... ";
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
