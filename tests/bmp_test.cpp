#include <gtest/gtest.h>

#include "bmp/bmp.h"
#include "test_util.h"

// A decoded image: `extra` bytes, `pixels` random pixels, a random
// palette, width and height.
Bytes decoded(std::mt19937& rng, int32_t width, int32_t height, size_t pixels, size_t extra = 0) {
    Bytes image = random_bytes(rng, extra + pixels + 1024);
    const std::string size = le32(uint32_t(width)) + le32(uint32_t(height));
    image.insert(image.end(), size.begin(), size.end());
    return image;
}

// write_bmp's result and the file it wrote.
std::pair<int, std::string> write_to_string(const Bytes& image) {
    TempDir dir;
    std::FILE* file = std::fopen((dir.path / "a.bmp").string().c_str(), "wb");
    const int result = write_bmp(file, image.data(), static_cast<int64_t>(image.size()));
    std::fclose(file);
    return {result, read_file(dir.path / "a.bmp")};
}

// Rows go bottom-up, padded to 4 bytes; layouts that do not fit inside the decoded bytes are
// refused unwritten. Cases: width, height, pixel bytes, bytes in front of them, result.
TEST(Bmp, Writes) {
    const std::tuple<int32_t, int32_t, size_t, size_t, int> cases[] = {
        // clang-format off
        {4, 2, 8, 0, kBmpOk}, {5, 3, 15, 0, kBmpOk}, {6, 2, 12, 0, kBmpOk}, {7, 1, 7, 3, kBmpOk}, {1, 5, 5, 0, kBmpOk},
        {0, 3, 0, 0, kBmpOk}, {3, 0, 0, 0, kBmpOk}, {0, -4, 0, 0, kBmpOk}, {-4, 0, 0, 0, kBmpOk},
        {270001, 1, 270001, 0, kBmpOk}, // a row larger than the writer's staging
        {333, 111, 333 * 111, 40, kBmpOk}, {1000, 300, 300000, 0, kBmpOk},
        {0, INT32_MAX, 0, 9, kBmpOk}, // no pass per empty row
        {4, 3, 11, 0, kBmpBroken}, {-4, 3, 12, 0, kBmpBroken}, {65536, 65536, 16, 0, kBmpBroken},
        {INT32_MAX, INT32_MAX, 16, 0, kBmpBroken},
        // clang-format on
    };
    std::mt19937 rng(11);
    for (auto [width, height, pixel_bytes, extra, result] : cases) {
        const Bytes image = decoded(rng, width, height, pixel_bytes, extra);
        EXPECT_EQ(write_to_string(image),
                  std::pair(result, result == kBmpOk ? expected_bmp(image) : std::string()))
            << width << "x" << height;
    }
    for (size_t short_length : {1u, 8u, 1031u})
        EXPECT_EQ(write_to_string(Bytes(short_length, 0)).first, kBmpBroken) << short_length;
}

// bmp_read's result and the image it read.
std::pair<int, Bytes> read(const std::string& file) {
    Bytes image;
    int bits = 0;
    return {bmp_read(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &image, &bits),
            image};
}

// The writer's file `bmp` as other programs may write it: top-down, a `header`-byte header,
// `colours` table entries (0: 256) whose unused bytes are not zero.
std::string variant(const std::string& bmp, size_t width, size_t height, uint32_t colours,
                    uint32_t header) {
    const size_t row = (width + 3) / 4 * 4, table = 4 * (colours ? colours : 256);
    std::string file = bmp.substr(0, 54) + std::string(header - 40, '\0') + bmp.substr(54, table);
    for (size_t unused = 17 + header; unused < file.size(); unused += 4)
        file[unused] = 'x';
    for (size_t y = height; y-- > 0;)
        file += bmp.substr(1078 + y * row, row);
    file.replace(2, 4, le32(uint32_t(file.size()))).replace(14, 4, le32(header));
    file.replace(10, 4, le32(uint32_t(14 + header + table))).replace(46, 4, le32(colours));
    return file.replace(22, 4, le32(uint32_t(-int32_t(height))));
}

// Files read back as the images written into them, or refused as damaged.
TEST(BmpRead, ReadsAndRefuses) {
    std::mt19937 rng(8);
    for (auto [width, height] : {std::pair{1, 1}, {5, 3}, {6, 7}, {0, 4}, {333, 11}}) {
        Bytes image = decoded(rng, width, height, size_t(width) * size_t(height));
        for (size_t i = 0; i < 256; i++)
            image[image.size() - 1029 + 4 * i] = 0; // the unused byte reads back as 0
        const std::string bmp = expected_bmp(image);
        EXPECT_EQ(read(bmp), std::pair(int(kBmpRead), image));
        for (auto [colours, header] :
             {std::pair{0u, 40u}, {1u, 52u}, {2u, 56u}, {9u, 108u}, {256u, 124u}}) {
            Bytes expected = image;
            std::fill(expected.end() - 1032 + 4 * (colours ? colours : 256), expected.end() - 8, 0);
            EXPECT_EQ(read(variant(bmp, size_t(width), size_t(height), colours, header)),
                      std::pair(int(kBmpRead), expected))
                << width << "x" << height << ", " << colours << " colours";
        }
    }
    const std::string good = expected_bmp(decoded(rng, 3, 2, 6));
    auto with = [&](size_t at, const std::string& bytes) {
        return good.substr(0, at) + bytes + good.substr(at + bytes.size());
    };
    const std::pair<std::string, int> cases[] = {
        // clang-format off
        {"", kBmpNotBmp}, {"XM" + good.substr(2), kBmpNotBmp}, {with(14, le32(12)), kBmpNotBmp},
        {good.substr(0, 17), kBmpTruncated}, {good.substr(0, 50), kBmpTruncated}, {good.substr(0, 1078), kBmpTruncated},
        {good.substr(0, good.size() - 1), kBmpTruncated}, {with(28, le32(24)), kBmpNot8Bit},
        {with(30, le32(1)), kBmpCompressed}, {with(30, le32(3)), kBmpCompressed}, {with(46, le32(257)), kBmpTooManyColours},
        {with(18, le32(uint32_t(-3))), kBmpBadLayout}, {with(22, le32(0x80000000u)), kBmpBadLayout},
        {with(10, le32(1000)), kBmpBadLayout}, {with(22, le32(0x7FFFFFFF)), kBmpTruncated},
        {with(10, le32(0xFFFFFFF0u)), kBmpTruncated},
        // clang-format on
    };
    for (const auto& [file, result] : cases)
        EXPECT_EQ(read(file).first, result) << file.size();
}
