#include <gtest/gtest.h>

#include <array>

#include "kzp/colour.h"
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
        Bytes out, edited;
        KzpUnmapped missing{};
        EXPECT_EQ(kzp_map_picture(target, picture, &out, &missing, kKzpExact, &edited),
                  unmapped == 0);
        EXPECT_EQ(missing.pixels, unmapped);
        Bytes was_edited(6); // where the colour is not the target's
        was_edited[size_t(at)] = at != 0;
        EXPECT_EQ(edited, was_edited) << at;
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

// A sprite on a key colour (255) that 201 repeats, flipped and shifted: a pixel whose own index is
// not magenta takes the magenta index used most, of equals the lowest.
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

// OKLab as CSS Color 4 gives it for white and the primaries; with -n every colour of a coarse grid
// takes the palette colour nearest to it, as a search of the whole palette finds it.
TEST(Colour, NearestInOklab) {
    const std::pair<std::array<uint8_t, 3>, Oklab> known[] = {
        {{255, 255, 255}, {1, 0, 0}},
        {{255, 0, 0}, {0.627955f, 0.224863f, 0.125846f}},
        {{0, 255, 0}, {0.866440f, -0.233888f, 0.179498f}},
        {{0, 0, 255}, {0.452014f, -0.032457f, -0.311528f}}};
    for (const auto& [rgb, lab] : known)
        EXPECT_LT(delta_e(oklab_of(rgb.data()), lab), 1e-4);
    std::mt19937 rng(6);
    for (int round = 0; round < 3; round++) {
        KzpColours grid{17 * 17, 17, {}};
        for (int i = 0; i < 17 * 17 * 17; i++)
            for (int c : {i / 289, i / 17 % 17, i % 17})
                grid.rgb.push_back(uint8_t(c * 255 / 16));
        const Bytes target = decoded(rng, 17 * 17, 17, 17 * 17 * 17, round ? 256 : 8);
        Bytes out;
        KzpUnmapped mapped{};
        ASSERT_TRUE(kzp_map_picture(target, grid, &out, &mapped, kKzpNearest));
        const uint8_t* palette = &target[target.size() - 1032];
        float largest = 0;
        for (int i = 0; i < 17 * 17 * 17; i++) {
            const Oklab colour = oklab_of(&grid.rgb[3 * size_t(i)]);
            float nearest = 9;
            for (int k = 0; k < 256; k++)
                nearest = std::min(nearest, delta_e(colour, oklab_of(palette + 4 * k)));
            ASSERT_EQ(delta_e(colour, oklab_of(palette + 4 * out[size_t(i)])), nearest) << i;
            largest = std::max(largest, nearest);
        }
        EXPECT_EQ(mapped.largest, largest);
    }
}

// The colour arithmetic gives the same bits with every compiler and C library: output that
// depends on it (nearest colours, dithering, fits) is the same on every host.
TEST(Colour, SameBitsEverywhere) {
    uint64_t hash = 14695981039346656037u; // FNV-1a over the floats' bits
    auto add = [&](float value) {
        uint32_t bits;
        std::memcpy(&bits, &value, 4);
        for (int k = 0; k < 4; k++)
            hash = (hash ^ ((bits >> (8 * k)) & 0xFF)) * 1099511628211u;
    };
    for (int v = 0; v < 256; v++)
        add(linear_of(uint8_t(v)));
    for (int i = 0; i < 18 * 18 * 18; i++) {
        const uint8_t rgb[3] = {uint8_t(i / 324 * 15), uint8_t(i / 18 % 18 * 15),
                                uint8_t(i % 18 * 15)};
        const Oklab lab = oklab_of(rgb);
        for (float value : {lab.l, lab.a, lab.b})
            add(value);
    }
    EXPECT_EQ(hash, 5645231937002087824u);
}

// On a gradient that a palette of 8 greys lacks, dithering makes the 4x4 blocks' colours (mean in
// linear light) much nearer the picture's than the nearest colours alone.
TEST(Colour, DitherKeepsBlockColours) {
    uint8_t palette[1024] = {};
    for (int i = 0; i < 1024; i++)
        palette[i] = uint8_t(i % 4 == 3 ? 0 : i / 4 % 8 * 36);
    KzpColours ramp{64, 16, {}};
    for (int i = 0; i < 64 * 16; i++)
        ramp.rgb.insert(ramp.rgb.end(), 3, uint8_t(40 + i % 64 * 2));
    const Bytes target = kzp_image_bytes(64, 16, Bytes(1024).data(), palette);
    float error[2] = {};
    for (KzpMapMode mode : {kKzpNearest, kKzpDither}) {
        Bytes out;
        KzpUnmapped mapped{};
        ASSERT_TRUE(kzp_map_picture(target, ramp, &out, &mapped, mode));
        for (int block = 0; block < 64; block++) {
            float got = 0, want = 0;
            for (int k = 0; k < 16; k++) {
                const size_t i = size_t(block / 16 * 4 + k / 4) * 64 + block % 16 * 4 + k % 4;
                got += linear_of(palette[4 * out[i]]) / 16, want += linear_of(ramp.rgb[3 * i]) / 16;
            }
            error[mode == kKzpDither] +=
                delta_e(oklab_of_linear(got, got, got), oklab_of_linear(want, want, want)) / 64;
        }
    }
    std::printf("mean delta E OK of 4x4 blocks: nearest %.4f, dithered %.4f\n", error[0], error[1]);
    EXPECT_LT(error[1], error[0] / 3);
}
