#include <gtest/gtest.h>

#include "bmp/bmp.h"
#include "test_util.h"

namespace {

// A decoded image: `extra` bytes, `pixel_bytes` random pixels, a random
// palette, width and height.
Bytes decoded(std::mt19937& rng, int32_t width, int32_t height, size_t pixel_bytes,
              size_t extra = 0) {
    Bytes image = random_bytes(rng, extra + pixel_bytes + 1024);
    for (uint32_t v : {static_cast<uint32_t>(width), static_cast<uint32_t>(height)})
        for (int shift = 0; shift < 32; shift += 8)
            image.push_back(static_cast<uint8_t>(v >> shift));
    return image;
}

// Runs write_bmp into a temporary file; returns its result and the file.
std::pair<int, std::string> write_to_string(const Bytes& image) {
    std::FILE* file = std::tmpfile();
    int result = write_bmp(file, image.data(), static_cast<int64_t>(image.size()));
    std::fflush(file);
    std::string contents(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    contents.resize(std::fread(contents.data(), 1, contents.size(), file));
    std::fclose(file);
    return {result, contents};
}

TEST(Bmp, WritesRowsBottomUpWithPadding) {
    struct Case {
        int32_t width, height;
        size_t extra_in_front, file_size;
    } cases[] = {
        // clang-format off
        {4, 2, 0, 1078 + 8}, {5, 3, 0, 1078 + 24}, {6, 2, 0, 1078 + 16}, {7, 1, 3, 1078 + 8},
        {1, 5, 0, 1078 + 20}, {0, 3, 0, 1078}, {3, 0, 0, 1078}, {0, -4, 0, 1078},
        {333, 111, 40, 1078 + 336 * 111}, {1000, 300, 0, 1078 + 1000 * 300},
        {0, INT32_MAX, 9, 1078}, // no pass per empty row
        // clang-format on
    };
    std::mt19937 rng(11);
    for (const Case& c : cases) {
        const size_t pixels =
            static_cast<size_t>(c.width) * static_cast<size_t>(std::max(c.height, 0));
        const Bytes image = decoded(rng, c.width, c.height, pixels, c.extra_in_front);
        auto [result, file] = write_to_string(image);
        EXPECT_EQ(result, kBmpOk);
        EXPECT_EQ(file.size(), c.file_size) << c.width << "x" << c.height;
        EXPECT_EQ(file, expected_bmp(image)) << c.width << "x" << c.height;
    }
    Bytes image = decoded(rng, 1, 1, 1);
    std::copy_n("\x10\x20\x30\x99", 4, image.begin() + 1 + 4 * 9);
    EXPECT_EQ(write_to_string(image).second.substr(54 + 4 * 9, 4),
              std::string("\x30\x20\x10\0", 4));
}

// Layouts that do not fit inside the decoded bytes are refused unwritten.
TEST(Bmp, RefusesImagesOutsideTheDecodedBytes) {
    struct Case {
        const char* what;
        int32_t width, height;
        size_t pixel_bytes;
    } cases[] = {
        {"one pixel short", 4, 3, 11},
        {"negative width", -4, 3, 12},
        {"product overflows 32 bits", 65536, 65536, 16},
        {"largest sizes", INT32_MAX, INT32_MAX, 16},
    };
    std::mt19937 rng(3);
    for (const Case& c : cases)
        EXPECT_EQ(write_to_string(decoded(rng, c.width, c.height, c.pixel_bytes)),
                  std::make_pair(int(kBmpBroken), std::string()))
            << c.what;
    for (size_t short_length : {1u, 8u, 1031u})
        EXPECT_EQ(write_to_string(Bytes(short_length, 0)).first, kBmpBroken) << short_length;
}

TEST(Bmp, ReportsAFullDevice) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "this host has no /dev/full";
    std::mt19937 rng(4);
    Bytes image = decoded(rng, 640, 480, 640 * 480);
    EXPECT_EQ(write_bmp(full, image.data(), static_cast<int64_t>(image.size())), kBmpWriteError);
    std::fclose(full);
}

} // namespace
