#include <gtest/gtest.h>

#include "bmp/bmp.h"
#include "test_util.h"

// Layouts that do not fit the decoded bytes are refused unwritten. Cases: width, height, bytes
// before the palette, result.
TEST(Bmp, Writes) {
    const std::tuple<int32_t, int32_t, size_t, int> cases[] = {
        {7, 3, 24, kBmpOk},
        {333, 111, 333 * 111 + 40, kBmpOk},
        {0, 3, 0, kBmpOk},
        {3, 0, 0, kBmpOk},
        {0, -4, 0, kBmpOk},
        {4, 3, 11, kBmpBroken},
        {-4, 3, 12, kBmpBroken},
        {0, 0, 0, kBmpBroken},
        {65536, 65536, 16, kBmpBroken},
        {INT32_MAX, INT32_MAX, 16, kBmpBroken},
        {270001, 1, 270001, kBmpOk}, // a row larger than the writer's staging
        {0, INT32_MAX, 9, kBmpOk}};  // no pass per empty row
    std::mt19937 rng(11);
    for (auto [width, height, pixel_bytes, result] : cases) {
        Bytes image = decoded(rng, width, height, pixel_bytes);
        if (!width && !height) image.resize(1031); // too short
        int got = 0;
        EXPECT_EQ(written(write_bmp, image, got), result ? "" : expected_bmp(image));
        EXPECT_EQ(got, result) << width << "x" << height;
    }
}

// Every accepted form reads back as the image (unused palette bytes and entries past the table as
// 0); damaged files are refused.
TEST(BmpRead, ReadsAndRefuses) {
    std::mt19937 rng(8);
    auto read = [](const std::string& file, Bytes* image) {
        int bits = 0;
        return bmp_read(reinterpret_cast<const uint8_t*>(file.data()), file.size(), image, &bits);
    };
    for (auto [width, height] : {std::pair{1, 1}, {6, 7}, {0, 4}, {333, 11}}) {
        Bytes image = without_unused(decoded(rng, width, height, size_t(width) * size_t(height))),
              got;
        for (BmpForm form : {BmpForm{}, {52, 1, true, 'x'}, {56, 2}, {108, 9, true}, {124, 256}}) {
            Bytes expected = image;
            std::fill(expected.end() - 1032 + 4 * (form.colours ? form.colours : 256),
                      expected.end() - 8, 0);
            EXPECT_EQ(read(expected_bmp(image, form), &got), kBmpRead);
            EXPECT_EQ(got, expected) << width << "x" << height << ", header " << form.header;
        }
    }
    const std::string good = expected_bmp(decoded(rng, 3, 2, 6));
    auto with = [&](size_t at, const std::string& bytes) {
        return std::string(good).replace(at, bytes.size(), bytes);
    };
    const std::pair<std::string, int> cases[] = {{"", kBmpNotBmp},
                                                 {"XM" + good.substr(2), kBmpNotBmp},
                                                 {with(14, le32(12)), kBmpNotBmp},
                                                 {good.substr(0, 17), kBmpTruncated},
                                                 {good.substr(0, 50), kBmpTruncated},
                                                 {good.substr(0, 1078), kBmpTruncated},
                                                 {good.substr(0, good.size() - 1), kBmpTruncated},
                                                 {with(28, "\x18"), kBmpNot8Bit},
                                                 {with(30, "\1"), kBmpCompressed},
                                                 {with(46, le32(257)), kBmpTooManyColours},
                                                 {with(18, le32(-3u)), kBmpBadLayout},
                                                 {with(22, le32(0x80000000u)), kBmpBadLayout},
                                                 {with(10, le32(1000)), kBmpBadLayout},
                                                 {with(22, le32(0x7FFFFFFF)), kBmpTruncated},
                                                 {with(10, le32(0xFFFFFFF0u)), kBmpTruncated}};
    Bytes image;
    for (const auto& [file, result] : cases)
        EXPECT_EQ(read(file, &image), result) << file.size();
}
