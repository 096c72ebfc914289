// Helpers shared by the tests: scratch directories, whole-file I/O, and an
// independent, deliberately plain model of the BMP file quorbin must write.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

inline std::string as_string(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A fresh directory under the system's temporary directory, removed at the end.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "quorbin-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

inline Bytes random_bytes(std::mt19937& rng, size_t size, int alphabet = 256) {
    Bytes bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(rng() % static_cast<unsigned>(alphabet));
    return bytes;
}

// A test picture: pixels and a palette whose unused bytes are not zero.
struct Picture {
    int32_t width, height;
    Bytes pixels, palette;
};

inline Picture random_picture(std::mt19937& rng, int32_t width, int32_t height) {
    Bytes palette = random_bytes(rng, 1024);
    return {width, height, random_bytes(rng, static_cast<size_t>(width) * height, 7), palette};
}

inline std::string le32(uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// The BMP file for a picture, spelled out field by field.
inline std::string expected_bmp(const Picture& pic) {
    uint32_t row = (static_cast<uint32_t>(pic.width) + 3) / 4 * 4;
    uint32_t rows = pic.height > 0 && row > 0 ? static_cast<uint32_t>(pic.height) : 0;
    std::string bmp = "BM" + le32(1078 + row * rows) + le32(0) + le32(1078);
    bmp += le32(40) + le32(static_cast<uint32_t>(pic.width)) +
           le32(static_cast<uint32_t>(pic.height)) + std::string("\1\0\10\0", 4) +
           std::string(24, '\0');
    for (int i = 0; i < 256; i++)
        bmp += {char(pic.palette[4 * i + 2]), char(pic.palette[4 * i + 1]),
                char(pic.palette[4 * i]), '\0'};
    for (int y = static_cast<int>(rows) - 1; y >= 0; y--) {
        auto first = pic.pixels.begin() + static_cast<ptrdiff_t>(y) * pic.width;
        bmp += std::string(first, first + pic.width) + std::string(row - pic.width, '\0');
    }
    return bmp;
}
