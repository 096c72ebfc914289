// The page's way into quorbin, compiled to WebAssembly: the two programs
// themselves, run over files in the module's memory file system (so that
// every output, name and message is theirs), and a few looks at what they
// read and write.  The page puts the files it is given into that file
// system and reads the outputs back; messages come on standard error.
#include <emscripten.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bmp/bmp.h"
#include "job.h"
#include "kzp/kzp.h"
#include "listfile.h"
#include "naming.h"
#include "programs.h"

namespace {

std::vector<uint8_t> picture; // the decoded image qb_picture read last
std::string text;             // the text the last call that gives one made

} // namespace

extern "C" {

// quorbin and quorbin-pack with their argument vectors; the exit status.
EMSCRIPTEN_KEEPALIVE int qb_quorbin(int argc, char** argv) {
    return quorbin_main(argc, argv);
}

EMSCRIPTEN_KEEPALIVE int qb_quorbin_pack(int argc, char** argv) {
    return quorbin_pack_main(argc, argv);
}

// Reads the BMP file at `path` (as quorbin writes them) into `info`: width,
// height, the number of colours its pixels use, and where its pixels (top
// row first) and palette (red, green, blue, unused) lie in the module's
// memory, until the next call.  Returns 0, or -1 when it is no palette BMP.
EMSCRIPTEN_KEEPALIVE int qb_picture(const char* path, int32_t* info) {
    Buffer bytes;
    int64_t size = 0;
    const char* detail = nullptr;
    KzpImage image;
    if (!read_file(path, bytes, &size) ||
        bmp_read(bytes.get(), static_cast<size_t>(size), &picture, &detail) != kBmpRead ||
        !kzp_image_parse(picture.data(), static_cast<int64_t>(picture.size()), &image))
        return -1;
    // The colours of the indices the pixels use.
    bool used[256] = {};
    for (size_t i = 0; i < static_cast<size_t>(image.width) * image.height; i++)
        used[image.pixels[i]] = true;
    std::vector<uint32_t> seen;
    for (int i = 0; i < 256; i++)
        if (used[i])
            seen.push_back(uint32_t{image.palette[4 * i]} << 16 | image.palette[4 * i + 1] << 8 |
                           image.palette[4 * i + 2]);
    std::sort(seen.begin(), seen.end());
    info[0] = image.width, info[1] = image.height;
    info[2] = static_cast<int32_t>(std::unique(seen.begin(), seen.end()) - seen.begin());
    info[3] = static_cast<int32_t>(reinterpret_cast<uintptr_t>(image.pixels));
    info[4] = static_cast<int32_t>(reinterpret_cast<uintptr_t>(image.palette));
    return 0;
}

// The lines of four fields of the list file at `path`, as quorbin reads
// them: "archive\toffset\tsize\tentry\n" each (nothing when it cannot be
// read).
EMSCRIPTEN_KEEPALIVE const char* qb_list_lines(const char* path) {
    text.clear();
    ListReader list;
    ListLine line;
    if (open_list(path, &list))
        while (next_list_line(list, &line))
            text += line.archive_name + '\t' + std::to_string(line.offset) + '\t' +
                    std::to_string(line.stored_size) + '\t' + line.entry_name + '\n';
    return text.c_str();
}

// The stem quorbin gives the outputs of an input called `name`.
EMSCRIPTEN_KEEPALIVE const char* qb_stem(const char* name) {
    text = output_stem(name);
    return text.c_str();
}

// The base name of `name` (the file quorbin-pack -l writes for an archive).
EMSCRIPTEN_KEEPALIVE const char* qb_base_name(const char* name) {
    make_output_path(text, name, "");
    return text.c_str();
}

} // extern "C"
