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
        {1, 5, 0, 1078 + 20}, {0, 3, 0, 1078}, {3, 0, 0, 1078}, {0, -4, 0, 1078}, {-4, 0, 0, 1078},
        {270001, 1, 0, 1078 + 270004}, // a row larger than the writer's staging
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

std::string le(uint32_t v, int bytes) {
    return le32(v).substr(0, static_cast<size_t>(bytes));
}

// A BMP file written by hand, of the decoded image `d` of `width` x `rows`:
// `colours` table entries (0: 256), rows bottom-up or top-down.
std::string bmp_file(const Bytes& d, int32_t width, size_t rows, bool top_down, uint32_t colours) {
    const size_t row = size_t(width + 3) & ~size_t{3}, table = colours ? colours : 256;
    const size_t offset = 54 + 4 * table;
    const int64_t height = top_down ? -int64_t(rows) : int64_t(rows);
    std::string file = "BM" + le32(uint32_t(offset + rows * row)) + le32(0) +
                       le32(uint32_t(offset)) + le32(40) + le32(uint32_t(width)) +
                       le32(uint32_t(height)) + le(1, 2) + le(8, 2) + le32(0) + le32(0) + le32(0) +
                       le32(0) + le32(colours) + le32(0);
    const uint8_t* palette = &d[d.size() - 1032];
    for (size_t i = 0; i < table; i++)
        file += {char(palette[4 * i + 2]), char(palette[4 * i + 1]), char(palette[4 * i]), 'x'};
    for (size_t y = 0; y < rows; y++) {
        const char* first =
            reinterpret_cast<const char*>(d.data()) + (top_down ? y : rows - 1 - y) * size_t(width);
        file += std::string(first, size_t(width)) + std::string(row - size_t(width), '\0');
    }
    return file;
}

int read(const std::string& file, Bytes* image = nullptr, int* bits = nullptr) {
    Bytes ignored;
    int ignored_bits;
    return bmp_read(reinterpret_cast<const uint8_t*>(file.data()), file.size(),
                    image ? image : &ignored, bits ? bits : &ignored_bits);
}

// Pictures come back from the files the writer and other programs write:
// bottom-up and top-down, any width, short colour tables (the rest 0).
TEST(BmpRead, RoundTrips) {
    std::mt19937 rng(8);
    for (auto [width, height] : {std::pair{1, 1}, {5, 3}, {6, 7}, {0, 4}, {333, 11}}) {
        Bytes image = decoded(rng, width, height, size_t(width) * size_t(height));
        for (size_t i = 0; i < 256; i++)
            image[image.size() - 1029 + 4 * i] = 0; // the unused byte reads back as 0
        Bytes back;
        ASSERT_EQ(read(expected_bmp(image), &back), kBmpRead);
        EXPECT_EQ(back, image);
        for (uint32_t colours : {0u, 1u, 2u, 256u}) {
            ASSERT_EQ(read(bmp_file(image, width, size_t(height), true, colours), &back), kBmpRead);
            Bytes expected = image;
            std::fill(expected.end() - 1032 + 4 * (colours ? colours : 256), expected.end() - 8, 0);
            EXPECT_EQ(back, expected) << width << "x" << height << ", " << colours << " colours";
        }
    }
}

TEST(BmpRead, Refusals) {
    std::mt19937 rng(9);
    const std::string good = bmp_file(decoded(rng, 3, 2, 6), 3, 2, false, 0);
    auto with = [&](size_t at, const std::string& bytes) {
        return good.substr(0, at) + bytes + good.substr(at + bytes.size());
    };
    const std::pair<std::string, int> cases[] = {
        {"", kBmpNotBmp},
        {"XM" + good.substr(2), kBmpNotBmp},
        {with(14, le32(12)), kBmpNotBmp},
        {good.substr(0, 17), kBmpTruncated},
        {good.substr(0, 50), kBmpTruncated},
        {good.substr(0, 1078), kBmpTruncated},
        {good.substr(0, good.size() - 1), kBmpTruncated},
        {with(28, le(24, 2)), kBmpNot8Bit},
        {with(30, le32(1)), kBmpCompressed},
        {with(30, le32(3)), kBmpCompressed},
        {with(46, le32(257)), kBmpTooManyColours},
        {with(18, le32(uint32_t(-3))), kBmpBadLayout},
        {with(22, le32(0x80000000u)), kBmpBadLayout},
        {with(10, le32(1000)), kBmpBadLayout},
        {with(22, le32(0x7FFFFFFF)), kBmpTruncated},
        {with(10, le32(0xFFFFFFF0u)), kBmpTruncated},
    };
    for (const auto& [file, result] : cases)
        EXPECT_EQ(read(file), result) << file.size();
    int bits = 0;
    EXPECT_EQ(read(with(28, le(24, 2)), nullptr, &bits), kBmpNot8Bit);
    EXPECT_EQ(bits, 24);
}

} // namespace
