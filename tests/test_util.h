// Helpers shared by the tests, and a plain model of BMP files.
#pragma once

#include <algorithm>
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
using namespace std::string_literals;
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
// A scratch file open for update, in a directory of its own (std::tmpfile fails at times on
// Windows when tests run side by side).
struct ScratchFile {
    TempDir dir;
    std::FILE* file = std::fopen((dir.path / "f").string().c_str(), "w+b");
    ~ScratchFile() { std::fclose(file); }
};

inline std::string written(int (*write)(std::FILE*, const uint8_t*, int64_t), const Bytes& image,
                           int& result) {
    ScratchFile scratch;
    std::FILE* file = scratch.file;
    result = write(file, image.data(), int64_t(image.size()));
    std::string bytes(size_t(std::ftell(file)), '\0');
    std::rewind(file);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
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

// A picture in 2^bits colours with stretches of zeros (rows of them, and the top rows), of one
// colour and of two in turn between random pixels; its palette's entries past `entries` are 0.
inline Bytes picture(std::mt19937& rng, int32_t width, int32_t height, uint32_t bits,
                     size_t entries) {
    const size_t pixels = size_t(width) * size_t(height);
    Bytes image = decoded(rng, width, height, pixels, 1u << bits);
    for (size_t at = 0; at + 40 < pixels; at += rng() % 30) {
        const uint8_t a = rng() % 3 ? 0 : image[at], b = rng() % 2 ? a : image[at + 1];
        for (size_t n = rng() % 30, k = 0; k < n; k++)
            image[at + k] = k % 2 ? b : a;
    }
    std::fill_n(image.begin(), std::min<size_t>(pixels, 2 * size_t(width) + 3), 0);
    std::fill(image.end() - 1032 + 4 * ptrdiff_t(entries), image.end() - 8, 0);
    return without_unused(image);
}

// How a BMP file lays out an image; the defaults are the form quorbin writes.
struct BmpForm {
    uint32_t header = 40;  // size of the information header; 12: OS/2 1.x
    uint32_t colours = 0;  // the colour count field (0: a table of 2^bits entries)
    bool top_down = false; // rows top row first, the height field negated
    char unused = 0;       // the fourth byte of every table entry
    uint32_t bits = 8;
    uint32_t rle = 0; // compression: 1 RLE8, 2 RLE4
};

// `count` indices of `bits` bits each, packed from the highest bit of the first of `size` bytes.
inline std::string packed(const uint8_t* indices, size_t count, uint32_t bits, size_t size) {
    std::string out(size, '\0');
    for (size_t i = 0; i < count; i++)
        out[i * bits / 8] |= char(indices[i] << (8 - bits - i * bits % 8));
    return out;
}

// RLE8 or RLE4 pixel data for `rows` (bottom row first) of `width` pixels: runs of one pixel
// (RLE4: of two in turn), pixels as they are between, a delta over four or more zeros (to the
// next row up when the zeros reach as far), and the end of the bitmap when only zeros are left.
// A row's last run covers its padding too, as ImageMagick's do.
inline std::string rle_pixels(const std::vector<Bytes>& rows, size_t width, uint32_t bits) {
    std::string out;
    const size_t pad = (4 - width % 4) % 4;
    auto zeros = [&](size_t y, size_t x) { // zero pixels from (x, y) on, row after row
        size_t n = y * width + x;
        while (n < rows.size() * width && !rows[n / width][n % width])
            n++;
        return n - y * width - x;
    };
    for (size_t y = 0, x = 0; y < rows.size();) {
        const Bytes& row = rows[y];
        const size_t left = zeros(y, x), skip = std::min({left, width - x, size_t{255}});
        const size_t same_run = bits == 8 ? 1 : 2;
        auto run = [&](size_t at) {
            size_t n = 0;
            while (at + n < width && n < 250 && row[at + n] == row[at + n % same_run])
                n++;
            return n;
        };
        if (left == (rows.size() - y) * width - x) return out + "\0\1"s;
        if (x == width) {
            out += "\0\0"s, x = 0, y++;
        } else if (left >= width && y + 1 < rows.size()) {
            out += "\0\2\0\1"s, y++;
        } else if (skip >= 4) {
            out += {0, 2, char(skip), 0}, x += skip;
        } else if (size_t n = run(x); n >= 3 || width - x < 3) {
            const size_t past = x + n == width ? pad : 0;
            out += {char(n + past), char(bits == 8 ? row[x] : row[x] << 4 | row[x + (n > 1)])};
            x += n;
        } else {
            size_t count = 0; // up to where a run of three begins
            while (x + count < width && count < 250 && (count < 3 || run(x + count) < 3))
                count++;
            Bytes pixels(&row[x], &row[x] + count);
            pixels.resize(count + (x + count == width ? pad : 0), 1);
            out += {0, char(pixels.size())};
            out += packed(pixels.data(), pixels.size(), bits,
                          ((pixels.size() * bits + 7) / 8 + 1) / 2 * 2);
            x += count;
        }
    }
    return out + "\0\1"s;
}

// The BMP file for the decoded image `d`, spelled out field by field.
inline std::string expected_bmp(const Bytes& d, BmpForm form = {}) {
    int32_t width, height; // little-endian hosts only
    std::memcpy(&width, &d[d.size() - 8], 4);
    std::memcpy(&height, &d[d.size() - 4], 4);
    const size_t w = uint32_t(width), rows = height > 0 && width ? size_t(height) : 0;
    const size_t row = (w * form.bits + 31) / 32 * 4, entry = form.header == 12 ? 3 : 4;
    const size_t entries = form.colours ? form.colours : size_t{1} << form.bits,
                 start = 14 + form.header + entry * entries;
    std::vector<Bytes> stored; // the rows in the order the file keeps them
    const uint8_t* palette = &d[d.size() - 1032];
    for (size_t y = 1; y <= rows; y++)
        stored.emplace_back(palette - (form.top_down ? rows + 1 - y : y) * w,
                            palette - (form.top_down ? rows - y : y - 1) * w);
    std::string pixels = form.rle ? rle_pixels(stored, w, form.bits) : "";
    for (size_t y = 0; !form.rle && y < rows; y++)
        pixels += packed(stored[y].data(), w, form.bits, row);
    const std::string size =
        form.header == 12
            ? std::string{char(w), char(w >> 8), char(height), char(height >> 8)}
            : le32(uint32_t(width)) + le32(uint32_t(form.top_down ? -height : height));
    std::string bmp = "BM" + le32(uint32_t(start + pixels.size())) + le32(0) +
                      le32(uint32_t(start)) + le32(form.header) + size + '\1' + '\0' +
                      char(form.bits) + std::string(form.header - size.size() - 7, '\0');
    if (form.header > 16) bmp.replace(30, 4, le32(form.rle)).replace(46, 4, le32(form.colours));
    for (size_t i = 0; i < entries; i++)
        bmp.append(std::string{char(palette[4 * i + 2]), char(palette[4 * i + 1]),
                               char(palette[4 * i]), form.unused},
                   0, entry);
    return bmp + pixels;
}

// A 24-bit BMP file of the decoded image `d`'s colours, as image editors save it.
inline std::string rgb_bmp(const Bytes& d) {
    int32_t width, height;
    std::memcpy(&width, &d[d.size() - 8], 4);
    std::memcpy(&height, &d[d.size() - 4], 4);
    const size_t row = (3 * size_t(width) + 3) / 4 * 4;
    std::string bmp = "BM" + le32(uint32_t(54 + row * height)) + le32(0) + le32(54) + le32(40) +
                      le32(width) + le32(height) + "\1\0\x18\0"s + std::string(24, '\0');
    for (int32_t y = height - 1; y >= 0; y--) {
        std::string line(row, '\0');
        for (int32_t x = 0; x < width; x++) {
            const uint8_t* rgb =
                &d[d.size() - 1032 + 4 * d[d.size() - 1032 - size_t(width) * (height - y) + x]];
            line[3 * x] = char(rgb[2]), line[3 * x + 1] = char(rgb[1]),
                     line[3 * x + 2] = char(rgb[0]);
        }
        bmp += line;
    }
    return bmp;
}
