// Helpers shared by the tests, and a plain model of BMP files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr bool kWindows = fs::path::preferred_separator == '\\';

// A path from UTF-8 text, and back (with the host's separators).
inline fs::path u8path(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}
inline std::string u8name(fs::path path) {
    const std::u8string text = path.make_preferred().u8string();
    return std::string(text.begin(), text.end());
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline Bytes random_bytes(std::mt19937& rng, size_t size, unsigned alphabet = 256) {
    Bytes bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(rng() % alphabet);
    return bytes;
}

// A fresh scratch directory, removed at the end.
struct TempDir {
    fs::path path = fs::temp_directory_path() / ("qb-" + std::to_string(std::random_device()()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
};

inline std::string le32(uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
inline std::string be32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// A decoded image: `bytes` random bytes from `alphabet` (the pixels, and any before them), a
// random palette, width and height.
inline Bytes decoded(std::mt19937& rng, int32_t width, int32_t height, size_t bytes,
                     unsigned alphabet = 256) {
    Bytes image = random_bytes(rng, bytes, alphabet), palette = random_bytes(rng, 1024);
    const std::string size = le32(uint32_t(width)) + le32(uint32_t(height));
    image.insert(image.end(), palette.begin(), palette.end());
    image.insert(image.end(), size.begin(), size.end());
    return image;
}

// The decoded `image` with its palette's unused fourth bytes 0, as a BMP or PNG file gives it back.
inline Bytes without_unused(Bytes image) {
    for (size_t unused = image.size() - 1029; unused < image.size() - 8; unused += 4)
        image[unused] = 0;
    return image;
}

// The file that `write` (write_bmp or write_png) makes of the decoded `image`, and its result.
inline std::string written(int (*write)(std::FILE*, const uint8_t*, int64_t), const Bytes& image,
                           int& result) {
    std::FILE* file = std::tmpfile();
    result = write(file, image.data(), int64_t(image.size()));
    std::string bytes(size_t(std::ftell(file)), '\0');
    std::rewind(file);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    return bytes;
}

// A PNG file of `chunks` (type, data), each with its CRC-32.
using Chunks = std::vector<std::pair<std::string, std::string>>;
inline std::string png_file(const Chunks& chunks) {
    std::string file = "\x89PNG\r\n\x1a\n";
    for (const auto& [type, data] : chunks) {
        uint32_t crc = ~0u;
        for (unsigned char byte : type + data) {
            crc ^= byte;
            for (int bit = 0; bit < 8; bit++)
                crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
        }
        file += be32(uint32_t(data.size())) + type + data + be32(~crc);
    }
    return file;
}

// How a BMP file lays out an image; the defaults are the form quorbin writes.
struct BmpForm {
    uint32_t header = 40;  // size of the information header
    uint32_t colours = 0;  // colour table entries (0: 256)
    bool top_down = false; // rows top row first, the height field negated
    char unused = 0;       // the fourth byte of every table entry
};

// The BMP file for the decoded image `d`, spelled out field by field.
inline std::string expected_bmp(const Bytes& d, BmpForm form = {}) {
    int32_t width, height; // little-endian hosts only
    std::memcpy(&width, &d[d.size() - 8], 4);
    std::memcpy(&height, &d[d.size() - 4], 4);
    const size_t row = (uint32_t(width) + 3) / 4 * 4, rows = height > 0 && row ? size_t(height) : 0;
    const size_t entries = form.colours ? form.colours : 256,
                 start = 14 + form.header + 4 * entries;
    std::string bmp = "BM" + le32(uint32_t(start + row * rows)) + le32(0) + le32(uint32_t(start)) +
                      le32(form.header) + le32(uint32_t(width)) +
                      le32(uint32_t(form.top_down ? -height : height)) + std::string("\1\0\10", 3) +
                      std::string(form.header - 15, '\0');
    bmp.replace(46, 4, le32(form.colours));
    const char* palette = reinterpret_cast<const char*>(&d[d.size() - 1032]);
    for (size_t i = 0; i < entries; i++)
        bmp += {palette[4 * i + 2], palette[4 * i + 1], palette[4 * i], form.unused};
    for (size_t y = 1; y <= rows; y++) // bottom-up: the last row first
        bmp.append(palette - (form.top_down ? rows + 1 - y : y) * size_t(width), size_t(width))
            .append(row - size_t(width), '\0');
    return bmp;
}
