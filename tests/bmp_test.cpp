#include <gtest/gtest.h>

#include "bmp/bmp.h"
#include "kzp_encoder.h"
#include "test_util.h"

namespace {

Bytes decoded_image(const Picture& pic, size_t extra_in_front = 0) {
    Bytes image(extra_in_front, 0xEE);
    Bytes body = kzp_image_bytes(pic.width, pic.height, pic.pixels.data(), pic.palette.data());
    image.insert(image.end(), body.begin(), body.end());
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
        size_t extra_in_front;
        size_t file_size;
    } cases[] = {
        {4, 2, 0, 1078 + 8},
        {5, 3, 0, 1078 + 24},
        {6, 2, 0, 1078 + 16},
        {7, 1, 3, 1078 + 8},
        {1, 5, 0, 1078 + 20},
        {0, 3, 0, 1078},
        {3, 0, 0, 1078},
        {0, -4, 0, 1078},
        {333, 111, 40, 1078 + 336 * 111},
        {1000, 300, 0, 1078 + 1000 * 300},
        {0, INT32_MAX, 9, 1078}, // no pass per empty row
    };
    std::mt19937 rng(11);
    for (const Case& c : cases) {
        Picture pic = random_picture(rng, c.width, std::max(c.height, 0));
        pic.height = c.height;
        auto [result, file] = write_to_string(decoded_image(pic, c.extra_in_front));
        EXPECT_EQ(result, kBmpOk);
        EXPECT_EQ(file.size(), c.file_size) << c.width << "x" << c.height;
        EXPECT_EQ(file, expected_bmp(pic)) << c.width << "x" << c.height;
    }
}

TEST(Bmp, ColourTableSwapsRedAndBlue) {
    std::mt19937 rng(2);
    Picture pic = random_picture(rng, 2, 2);
    pic.palette[4 * 9 + 0] = 0x10, pic.palette[4 * 9 + 1] = 0x20, pic.palette[4 * 9 + 2] = 0x30;
    pic.palette[4 * 9 + 3] = 0x99;
    std::string file = write_to_string(decoded_image(pic)).second;
    EXPECT_EQ(file.substr(54 + 4 * 9, 4), std::string("\x30\x20\x10\x00", 4));
}

// Layouts that do not fit inside the decoded bytes are refused unwritten.
TEST(Bmp, RefusesImagesOutsideTheDecodedBytes) {
    struct Case {
        const char* what;
        int32_t width, height;
        int64_t pixel_bytes;
    } cases[] = {
        {"one pixel short", 4, 3, 11},
        {"negative width", -4, 3, 12},
        {"product overflows 32 bits", 65536, 65536, 16},
        {"largest sizes", INT32_MAX, INT32_MAX, 16},
    };
    for (const Case& c : cases) {
        Bytes image(static_cast<size_t>(c.pixel_bytes) + 1024, 1);
        for (uint32_t v : {static_cast<uint32_t>(c.width), static_cast<uint32_t>(c.height)})
            for (int shift = 0; shift < 32; shift += 8)
                image.push_back(uint8_t(v >> shift));
        EXPECT_EQ(write_to_string(image), std::make_pair(int(kBmpBroken), std::string())) << c.what;
    }
    for (size_t short_length : {1u, 8u, 1031u})
        EXPECT_EQ(write_to_string(Bytes(short_length, 0)).first, kBmpBroken) << short_length;
}

TEST(Bmp, ReportsAFullDevice) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "this host has no /dev/full";
    std::mt19937 rng(4);
    Bytes image = decoded_image(random_picture(rng, 640, 480));
    EXPECT_EQ(write_bmp(full, image.data(), static_cast<int64_t>(image.size())), kBmpWriteError);
    std::fclose(full);
}

} // namespace
