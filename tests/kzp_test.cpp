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

// A sprite on a key colour (index 255) that index 201 repeats as a real colour, moved: the key
// stays the key, whichever of the two indices were used more, and equal use takes the lowest.
TEST(Kzp, DuplicateColoursKeepTheirRole) {
    uint8_t palette[1024] = {};
    for (int i = 0; i < 256; i++)
        palette[4 * i] = uint8_t(i);
    for (int i : {201, 255})
        palette[4 * i] = 255, palette[4 * i + 2] = 255;
    const int w = 7, h = 7;
    for (const int keys : {1, 0, -1}) { // key pixels more than, as many as, fewer than 201's
        Bytes sprite(w * h, 255);
        const int reds = w * h / 2 - keys; // of 201; 255: 24 + keys
        std::fill_n(sprite.begin(), reds, 201);
        sprite[w * h - 1] = 7;
        const Bytes target = kzp_image_bytes(w, h, sprite.data(), palette);
        // The picture flipped and shifted by a pixel.
        Bytes moved(sprite.rbegin(), sprite.rend());
        std::rotate(moved.begin(), moved.end() - 1, moved.end());
        const Bytes moved_image = kzp_image_bytes(w, h, moved.data(), palette);
        KzpImage picture;
        kzp_image_parse(moved_image.data(), int64_t(moved_image.size()), &picture);
        Bytes out;
        KzpUnmapped missing{};
        ASSERT_TRUE(kzp_map_picture(target, kzp_image_colours(picture), &out, &missing));
        for (int i = 0; i < w * h; i++) {
            const int magenta = moved[i] == 7    ? 7
                                : sprite[i] != 7 ? sprite[i]
                                : keys > 0       ? 255
                                                 : 201;
            EXPECT_EQ(out[i], magenta) << keys << " " << i;
        }
    }
}
