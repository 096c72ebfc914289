#include <gtest/gtest.h>

#include "bmp/bmp.h"
#include "png/png.h"
#include "test_util.h"

// Layouts that do not fit the decoded bytes are refused unwritten. Cases: width, height, bytes
// before the palette, result.
TEST(Bmp, Writes) {
    const std::tuple<int32_t, int32_t, size_t, int> cases[] = {
        {7, 3, 24, kBmpOk},
        {333, 111, 333 * 111 + 40, kBmpOk},
        {0, 3, 0, kBmpOk},
        {3, 0, 0, kBmpOk},
        {5, -4, 0, kBmpOk},
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

int read(const std::string& file, Bytes* image, std::string* detail = nullptr) {
    const char* text = nullptr;
    const int result =
        bmp_read(reinterpret_cast<const uint8_t*>(file.data()), file.size(), image, &text);
    if (detail) *detail = text ? text : "";
    return result;
}

// Every accepted form reads back as the picture, the palette past the table 0.
TEST(BmpRead, ReadsEveryForm) {
    std::mt19937 rng(8);
    const BmpForm forms[] = {{},
                             {52, 1, true, 'x'},
                             {56, 0, true, 0, 4},
                             {108, 0, false, 0, 1},
                             {124, 200, false, 0, 8, 1},
                             {12, 0, false, 0, 4},
                             {16, 0, true, 0, 1},
                             {64, 5, false, 'y', 4, 2},
                             {40, 2, true, 0, 1},
                             {40, 16, false, 0, 4, 2}};
    for (auto [width, height] : {std::pair{1, 1}, {13, 9}, {0, 4}, {5, 0}, {333, 11}})
        for (const BmpForm& form : forms) {
            Bytes got, image = picture(rng, width, height, form.bits,
                                       form.colours ? form.colours : 1u << form.bits);
            EXPECT_EQ(read(expected_bmp(image, form), &got), kBmpRead);
            EXPECT_EQ(got, image) << width << "x" << height << ", header " << form.header
                                  << ", bits " << form.bits << ", rle " << form.rle;
        }
}

// RLE files that ImageMagick, GraphicsMagick and GIMP wrote (data/rle/make.sh), most with runs
// past the right edge, read as another reader read them.
TEST(BmpRead, ReadsOtherToolsRleFiles) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(u8path(QUORBIN_TEST_DATA "/rle")))
        if (fs::path path = entry.path(); path.extension() == ".bmp") {
            Bytes image, reference;
            const std::string ref = read_file(path.replace_extension(".ref.png"));
            const char* detail;
            png_read(reinterpret_cast<const uint8_t*>(ref.data()), ref.size(), &reference, &detail);
            EXPECT_EQ(read(read_file(entry.path()), &image), kBmpRead) << path;
            EXPECT_EQ(image, reference) << path;
            files++;
        }
    EXPECT_EQ(files, 44);
}

// True-colour files that ImageMagick, GraphicsMagick, GIMP and Pillow wrote (data/truecolour/
// make.sh) read as the colours of the palette picture they were made from; other bit fields not.
TEST(ReadColours, OtherToolsTrueColourFiles) {
    auto colours = [](const std::string& name, size_t at = 0, const std::string& patch = "") {
        std::string file = read_file(u8path(QUORBIN_TEST_DATA "/truecolour/" + name));
        const auto* bytes =
            reinterpret_cast<const uint8_t*>(file.replace(at, patch.size(), patch).data());
        KzpColours picture{};
        const char* detail;
        const int result = name.ends_with(".bmp")
                               ? bmp_read_colours(bytes, file.size(), &picture, &detail)
                               : png_read_colours(bytes, file.size(), &picture, &detail);
        picture.rgb.push_back(uint8_t(picture.width));
        picture.rgb.push_back(uint8_t(picture.height));
        return std::pair{result, picture.rgb};
    };
    for (const std::string name : {"im24.bmp", "im32.bmp", "gm24.bmp", "gimp24.bmp", "gimp32.bmp",
                                   "pil24.bmp", "pil32.bmp", "im-rgb.png", "im-rgba.png",
                                   "im-rgb16.png", "im-rgba16.png", "pil-rgb.png", "pil-rgba.png"})
        EXPECT_EQ(colours(name), colours("colour.png")) << name;
    EXPECT_EQ(colours("grey16.png"), colours("grey.png"));
    EXPECT_EQ(colours("grey-alpha.png"), colours("grey.png"));
    EXPECT_EQ(colours("im32.bmp", 54, le32(0xFF)).first, kBmpNotPalette);
}

// Damaged files and pictures of other kinds are refused, saying why.
TEST(BmpRead, Refuses) {
    std::mt19937 rng(3);
    const std::string good = expected_bmp(picture(rng, 3, 2, 8, 256)),
                      rle = expected_bmp(picture(rng, 13, 9, 8, 256), {40, 0, false, 0, 8, 1}),
                      header = expected_bmp(picture(rng, 4, 1, 4, 16), {40, 16, false, 0, 4, 2})
                                   .substr(0, 118); // of a 4x1 RLE4 file
    auto with = [](std::string file, size_t at, const std::string& bytes) {
        return file.replace(at, bytes.size(), bytes);
    };
    const std::tuple<std::string, int, std::string> cases[] = {
        {"", kBmpNotBmp, ""},
        {"XM" + good.substr(2), kBmpNotBmp, ""},
        {with(good, 14, le32(20)), kBmpNotPalette, "header"},
        {with(good, 28, "\x18"), kBmpNotPalette, "24-bit"},
        {with(good, 30, "\3"), kBmpNotPalette, "bit fields"},
        {with(good, 30, "\4"), kBmpNotPalette, "JPEG"},
        {with(expected_bmp(picture(rng, 3, 2, 8, 256), {64}), 30, "\3"), kBmpNotPalette,
         "compression"},
        {good.substr(0, 17), kBmpDamaged, "ends inside its h"},
        {good.substr(0, 50), kBmpDamaged, "ends inside its h"},
        {good.substr(0, 1000), kBmpDamaged, "colour table"},
        {with(good, 22, le32(0x7FFFFFFF)), kBmpDamaged, "last row"},
        {with(good, 10, le32(0xFFFFFFF0u)), kBmpDamaged, "pixels start"},
        {with(good, 10, le32(1000)), kBmpDamaged, "start inside"},
        {with(good, 28, "\3"), kBmpDamaged, "bit depth"},
        {with(good, 46, le32(257)), kBmpDamaged, "entries"},
        {with(expected_bmp(picture(rng, 3, 2, 1, 2), {40, 0, false, 0, 1}), 46, le32(3)),
         kBmpDamaged, "entries"},
        {with(good, 18, le32(-3u)), kBmpDamaged, "range"},
        {with(good, 22, le32(0x80000000u)), kBmpDamaged, "range"},
        {with(rle, 22, le32(-9u)), kBmpDamaged, "top-down"},
        {with(rle, 28, "\4"), kBmpDamaged, "match"},
        {rle.substr(0, rle.size() - 2), kBmpDamaged, "end-of-bitmap"},
        {header + "\0\2\5\0\0\1"s, kBmpDamaged, "leaves"},
        {header + "\0\0\0\2\0\1\0\1"s, kBmpDamaged, "leaves"},
        {header + "\0\0\0\0\0\1"s, kBmpDamaged, "leaves"},
        {header + "\0\0\1\1\0\1"s, kBmpDamaged, "leaves"},
        {header + "\0\3\x12"s, kBmpDamaged, "end-of-bitmap"},
        {with(with(rle, 18, le32(1 << 15)), 22, le32(1 << 14)), kBmpTooLarge, ""}};
    Bytes image;
    std::string detail;
    for (const auto& [file, result, words] : cases) {
        EXPECT_EQ(read(file, &image, &detail), result) << file.size() << " " << detail;
        EXPECT_NE(detail.find(words), std::string::npos);
    }
}
