#include <gtest/gtest.h>

#include "kzp/kzp.h"
#include "test_util.h"

// A 3x2 picture with bytes in front, whose palette holds colour 7 at indices 2 and 5, mapped
// back from colours: unchanged pixels keep their indices, others get the index of their colour
// that the image uses most; colours in no entry are counted and the first one named.
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
        {2, 2, {5, 2, 5, 9, 0, 5}, 0}, // that colour anew: 5, used twice (2 once)
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

// A sprite on a key colour (255) that index 201 repeats as a real colour, flipped and shifted: a
// pixel whose own index is not magenta takes the magenta index used most, of equals the lowest.
TEST(Kzp, DuplicateColoursKeepTheirRole) {
    uint8_t palette[1024] = {};
    palette[4 * 201] = palette[4 * 201 + 2] = palette[4 * 255] = palette[4 * 255 + 2] = 255;
    for (const int keys : {1, 0, -1}) { // 255 used twice more than 201, as often, twice less
        Bytes sprite(49, 255);
        std::fill_n(sprite.begin(), 24 - keys, 201);
        sprite[48] = 7;
        Bytes moved(sprite.rbegin(), sprite.rend()), out;
        std::rotate(moved.begin(), moved.end() - 1, moved.end());
        const Bytes picture = kzp_image_bytes(7, 7, moved.data(), palette);
        KzpImage image;
        kzp_image_parse(picture.data(), int64_t(picture.size()), &image);
        KzpUnmapped missing{};
        ASSERT_TRUE(kzp_map_picture(kzp_image_bytes(7, 7, sprite.data(), palette),
                                    kzp_image_colours(image), &out, &missing));
        for (int i = 0; i < 49; i++)
            EXPECT_EQ(out[i], moved[i] == 7 ? 7 : i < 48 ? sprite[i] : keys > 0 ? 255 : 201) << i;
    }
}
