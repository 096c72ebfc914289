#include <gtest/gtest.h>

#include "kzp/kzp.h"
#include "test_util.h"

// A 3x2 picture with bytes in front, whose palette holds colour 7 at indices 2 and 5, mapped
// back from colours: unchanged pixels keep their indices, others get the lowest index of their
// colour; colours in no entry are counted and the first one named.
TEST(Kzp, MapsColoursToThePalette) {
    uint8_t palette[1024] = {};
    for (int i = 0; i < 256; i++)
        palette[4 * i] = uint8_t(i == 5 ? 2 : i), palette[4 * i + 3] = 0x99;
    const uint8_t pixels[6] = {5, 2, 9, 9, 0, 5};
    Bytes target = kzp_image_bytes(3, 2, pixels, palette);
    target.insert(target.begin(), {'p', 'r', 'e'});
    KzpImage image;
    ASSERT_TRUE(kzp_image_parse(target.data(), int64_t(target.size()), &image));
    const KzpColours same = kzp_image_colours(image);
    const std::tuple<int, uint8_t, Bytes, uint64_t> cases[] = {
        {0, 2, {5, 2, 9, 9, 0, 5}, 0}, // unchanged: 5 kept, though 2 has its colour too
        {2, 2, {5, 2, 2, 9, 0, 5}, 0}, // that colour anew: the lowest index, 2
        {4, 3, {5, 2, 9, 9, 3, 5}, 0},
        {4, 7, {}, 1}}; // (7, 1, 0): in no entry
    for (const auto& [at, red, expected, unmapped] : cases) {
        KzpColours picture = same;
        picture.rgb[3 * at] = red;
        picture.rgb[3 * at + 1] = unmapped ? 1 : 0;
        Bytes out;
        KzpUnmapped missing{};
        EXPECT_EQ(kzp_map_picture(target, picture, &out, &missing), unmapped == 0);
        EXPECT_EQ(missing.pixels, unmapped);
        if (unmapped) {
            EXPECT_EQ(std::tuple(missing.x, missing.y, missing.red, missing.green),
                      std::tuple(1, 1, 7, 1));
            continue;
        }
        Bytes want = target;
        std::copy(expected.begin(), expected.end(), want.begin() + 3);
        EXPECT_EQ(out, want) << at;
    }
}
