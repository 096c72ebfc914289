// Packs palette BMP files into one archive as old game tools did: each
// picture's stream made by the greedy longest-match encoder, a few bytes of
// other data between them, and a list file that locates them.
//
//   make_archive ARCHIVE LIST [-t] PICTURE.bmp...
//
// The entries are named after the pictures (NAME.kzp), the archive in the
// list by its base name.  After -t the streams are the smallest there are,
// so that those entries have no byte to spare.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bmp/bmp.h"
#include "lzss/lzss.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_archive ARCHIVE LIST [-t] PICTURE.bmp...\n");
        return 1;
    }
    const std::string archive_path = argv[1],
                      base = archive_path.substr(archive_path.rfind('/') + 1);
    std::string archive = "GAMEDATA", list;
    LzssEncodeOptions options;
    options.greedy = true;
    for (int i = 3; i < argc; i++) {
        if (std::string(argv[i]) == "-t") {
            options.greedy = false;
            continue;
        }
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
        std::vector<uint8_t> image;
        const char* detail = nullptr;
        if (bmp_read(file.data(), file.size(), &image, &detail) != kBmpRead) {
            std::fprintf(stderr, "make_archive: %s is no palette BMP file\n", argv[i]);
            return 1;
        }
        const std::vector<uint8_t> stream = lzss_encode(image, options);
        std::string name = argv[i];
        name = name.substr(name.rfind('/') + 1);
        list += base + " " + std::to_string(archive.size()) + " " + std::to_string(stream.size()) +
                " " + name.substr(0, name.find('.')) + ".kzp\n";
        archive.append(stream.begin(), stream.end());
        archive += "\x1a\x1a\x1a\x1a";
    }
    std::ofstream(archive_path, std::ios::binary) << archive;
    std::ofstream(argv[2], std::ios::binary) << list;
    return 0;
}
