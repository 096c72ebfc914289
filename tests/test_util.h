// Helpers shared by the tests: scratch directories, files, trees, running a
// program, and a deliberately plain model of the BMP file for a decoded image.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr bool kWindows = fs::path::preferred_separator == '\\';

// A path from UTF-8 text, and back (with the host's separators): on every host.
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
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

inline Bytes random_bytes(std::mt19937& rng, size_t size, unsigned alphabet = 256) {
    Bytes bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(rng() % alphabet);
    return bytes;
}

// A fresh directory under the system's temporary directory, removed at the end.
struct TempDir {
    fs::path path = fs::temp_directory_path() / ("qb-" + std::to_string(std::random_device()()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
};

// Every file below `root` (names with '/'), with its contents; what is no
// regular file, or one its owner may not read, reads as "(special)".
inline std::map<std::string, std::string> read_tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::u8string name = entry.path().lexically_relative(root).generic_u8string();
        const bool plain =
            entry.is_regular_file() && !entry.is_symlink() &&
            (entry.status().permissions() & fs::perms::owner_read) != fs::perms::none;
        if (!entry.is_directory())
            tree[std::string(name.begin(), name.end())] =
                plain && entry.file_size() < (1u << 30) ? read_file(entry.path()) : "(special)";
    }
    return tree;
}

// An argument as the host's shell (POSIX) or the C runtime (Windows) takes it
// apart again.
inline std::string quote(std::string arg) {
    if (kWindows) // backslashes before the closing quote are doubled
        return '"' + arg + std::string(arg.size() - arg.find_last_not_of('\\') - 1, '\\') + '"';
    for (size_t at = 0; (at = arg.find('\'', at)) != std::string::npos; at += 4)
        arg.replace(at, 1, "'\\''");
    return "'" + arg + "'";
}

// Runs `program` in `dir` through the host's shell: its exit status, standard
// output and error (`merged`: both in order as the output). Standard input is
// `input` (a pipe on POSIX, a file on Windows), or closed when null (empty on
// Windows).
inline std::tuple<int, std::string, std::string>
run_program(const std::string& program, const std::vector<std::string>& args, const fs::path& dir,
            const fs::path& io, const std::string* input, bool merged) {
    const std::string in = quote(u8name(io / "in")), out = quote(u8name(io / "out"));
    write_file(io / "in", input ? *input : "");
    std::string line = (kWindows ? "cd /d " : "cd ") + quote(u8name(dir)) + " && ";
    if (input && !kWindows) line += "cat " + in + " | ";
    line += quote(u8name(u8path(program)));
    for (const std::string& arg : args)
        line += " " + quote(arg);
    line += " >" + out + (merged ? " 2>&1" : " 2>" + quote(u8name(io / "err"))) +
            (kWindows ? " <" + in
             : input  ? ""
                      : " <&-");
#ifdef _WIN32
    const int status = _wsystem(u8path(line).c_str());
#else
    const int status = std::system(line.c_str()) >> 8; // the wait status's exit code
#endif
    return {status, read_file(io / "out"), merged ? "" : read_file(io / "err")};
}

inline std::string le32(uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// The BMP file for the decoded image `d` (pixels, palette, width, height),
// spelled out field by field.
inline std::string expected_bmp(const Bytes& d) {
    int32_t width, height; // little-endian, as on every host the tests run on
    std::memcpy(&width, &d[d.size() - 8], 4);
    std::memcpy(&height, &d[d.size() - 4], 4);
    const size_t row = (uint32_t(width) + 3) / 4 * 4, rows = height > 0 && row ? size_t(height) : 0;
    std::string bmp = "BM" + le32(uint32_t(1078 + row * rows)) + le32(0) + le32(1078) + le32(40) +
                      le32(uint32_t(width)) + le32(uint32_t(height)) + std::string("\1\0\10\0", 4) +
                      std::string(24, '\0');
    const char* palette = reinterpret_cast<const char*>(&d[d.size() - 1032]);
    for (int i = 0; i < 256; i++)
        bmp += {palette[4 * i + 2], palette[4 * i + 1], palette[4 * i], '\0'};
    for (size_t y = 1; y <= rows; y++) // bottom-up: the last row first
        bmp.append(palette - y * size_t(width), size_t(width)).append(row - size_t(width), '\0');
    return bmp;
}
