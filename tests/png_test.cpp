#include <gtest/gtest.h>
#include <libdeflate.h>
#include <spng.h>

#include "png/deflate_pieces.h"
#include "png/png.h"
#include "test_util.h"

// The chunks of a well-formed PNG file.
Chunks chunks_of(const std::string& file) {
    Chunks chunks;
    for (size_t at = 8; at < file.size(); at += 12 + chunks.back().second.size()) {
        const uint32_t size = uint32_t(uint8_t(file[at])) << 24 | uint8_t(file[at + 1]) << 16 |
                              uint8_t(file[at + 2]) << 8 | uint8_t(file[at + 3]);
        chunks.emplace_back(file.substr(at + 4, 4), file.substr(at + 8, size));
    }
    return chunks;
}

// A picture written by libspng's encoder: `rows` as PNG packs them, a palette of `entries`
// entries (r = i, g = 2i, b = 3i) for colour type 3.
std::string spng_file(uint8_t type, uint8_t depth, uint8_t interlace, uint32_t width,
                      uint32_t height, const std::string& rows, uint32_t entries = 0) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{width, height, depth, type, 0, 0, interlace};
    spng_set_ihdr(ctx, &ihdr);
    spng_plte plte{entries, {}};
    for (uint32_t i = 0; i < entries; i++)
        plte.entries[i] = {uint8_t(i), uint8_t(2 * i), uint8_t(3 * i), 0};
    if (entries) spng_set_plte(ctx, &plte);
    EXPECT_EQ(spng_encode_image(ctx, rows.data(), rows.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE),
              0);
    size_t size = 0;
    int error = 0;
    char* png = static_cast<char*>(spng_get_png_buffer(ctx, &size, &error));
    std::string file(png, size);
    std::free(png);
    spng_ctx_free(ctx);
    return file;
}

int read(const std::string& file, Bytes* image, const char** detail) {
    return png_read(reinterpret_cast<const uint8_t*>(file.data()), file.size(), image, detail);
}

// The PNG written for a decoded image holds its pixels and palette (the unused fourth byte as
// 0), as libspng reads it: small, odd-sized, flat and incompressible pictures.
TEST(Png, WritesWhatLibspngReads) {
    std::mt19937 rng(3);
    for (auto [width, height, alphabet] : {std::tuple{1, 1, 256u},
                                           {5, 3, 256u},
                                           {333, 11, 4u},
                                           {700, 300, 256u},
                                           {2000, 9, 1u},
                                           {1600, 1400, 16u}}) { // the last in pieces
        Bytes image = decoded(rng, width, height, size_t(width) * size_t(height), alphabet), got;
        int result = -1;
        const std::string png = written(write_png, image, result);
        ASSERT_EQ(result, kPngOk);
        const char* detail = nullptr;
        EXPECT_EQ(read(png, &got, &detail), kPngRead) << (detail ? detail : "");
        EXPECT_EQ(got, without_unused(image)) << width << "x" << height;
    }
    // A layout that does not fit, and images without pixels: nothing is written.
    for (auto [width, height, length, result] : {std::tuple{4, 2, 1039, kPngBroken},
                                                 {0, 5, 1032, kPngNoPixels},
                                                 {5, 0, 1032, kPngNoPixels},
                                                 {-3, -2, 1032, kPngNoPixels}}) {
        int got = 0;
        EXPECT_EQ(written(write_png, decoded(rng, width, height, size_t(length - 1032)), got), "");
        EXPECT_EQ(got, result) << width << "x" << height;
    }
}

// Pieces compressed apart join into one zlib stream that inflates to the data, its Adler-32
// combined from theirs: data that ends in stored, fixed and dynamic blocks, at every level.
TEST(Png, DeflatesInPieces) {
    std::mt19937 rng(5);
    Bytes noise(300000), few(300000), runs(300000), tiny(40), copies(32);
    for (size_t i = 0; i < noise.size(); i++)
        noise[i] = uint8_t(rng()), few[i] = uint8_t(rng() % 5), runs[i] = uint8_t(i / 5000 * 7);
    while (copies.size() < 300000) { // copies of every length from every distance
        const size_t from = copies.size() - 1 - rng() % std::min<size_t>(copies.size(), 32768);
        for (size_t k = 0, n = 3 + rng() % 256; k < n; k++)
            copies.push_back(rng() % 64 ? copies[from + k] : uint8_t(rng()));
    }
    for (const Bytes* data : {&noise, &few, &runs, &tiny, &copies})
        for (int level : {1, 4, 7, 10, 12})
            for (size_t pieces : {1, 2, 3, 7}) {
                size_t size = 0;
                const auto stream = deflate_in_pieces(
                    data->size(), 1, level, pieces,
                    [&](size_t first, size_t count, uint8_t* out) {
                        std::copy_n(data->data() + first, count, out);
                    },
                    &size);
                Bytes got(data->size() + 1);
                libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
                EXPECT_EQ(libdeflate_zlib_decompress(inflater, stream.get(), size, got.data(),
                                                     got.size(), &size),
                          LIBDEFLATE_SUCCESS);
                libdeflate_free_decompressor(inflater);
                got.resize(size);
                EXPECT_TRUE(got == *data) << data->size() << " " << level << " " << pieces;
            }
    uint64_t last = 0; // damaged: a block type of 3; a stream that runs past its end
    const uint8_t bad[16] = {0x07}, cut[16] = {0x01, 0x05, 0x00, 0xfa, 0xff};
    EXPECT_EQ(deflate_last_block(bad, 1, &last), 0u);
    EXPECT_EQ(deflate_last_block(cut, 5, &last), 0u);
}

// Palette and grey pictures at every accepted depth, interlaced or not, read back as indices
// and palettes; every refusal, on files made from a good one.
TEST(PngRead, ReadsAndRefuses) {
    std::mt19937 rng(4);
    const uint32_t width = 13, height = 7;
    Bytes image;
    const char* detail = nullptr;
    for (uint8_t type : {0, 3})
        for (uint8_t depth : {1, 2, 4, 8})
            for (uint8_t interlace : {0, 1}) {
                const size_t row = (width * depth + 7) / 8, levels = size_t(1) << depth;
                const unsigned n = width * height;
                Bytes expected = decoded(rng, width, height, n, unsigned(levels));
                std::string rows;
                for (size_t y = 0; y < height; y++)
                    rows += packed(&expected[y * width], width, depth, row);
                for (size_t i = 0, e = 0; i < 1024; e = ++i / 4) // the palette, or the grey levels
                    expected[n + i] = uint8_t(i % 4 == 3 || e >= levels ? 0
                                              : type ? e * (i % 4 + 1) * (e < 200)
                                                     : e * 255 / (levels - 1));
                const std::string png =
                    spng_file(type, depth, interlace, width, height, rows,
                              type ? uint32_t(std::min<size_t>(levels, 200)) : 0);
                EXPECT_EQ(read(png, &image, &detail), kPngRead);
                EXPECT_EQ(image, expected)
                    << int(type) << "/" << int(depth) << "/" << int(interlace);
            }

    const Chunks good = chunks_of(spng_file(3, 8, 0, 8, 8, std::string(64, 5), 9)),
                 taller = chunks_of(spng_file(3, 8, 0, 8, 9, std::string(72, 5), 9));
    auto with = [&](Chunks chunks, const std::string& type, const std::string& data) {
        for (auto& chunk : chunks)
            if (chunk.first == type) chunk.second = data;
        return chunks;
    };
    auto without = [&](const std::string& type) {
        Chunks chunks = good;
        std::erase_if(chunks, [&](const auto& chunk) { return chunk.first == type; });
        return png_file(chunks);
    };
    const std::string ihdr = good[0].second, file = png_file(good);
    Chunks unknown = good;
    unknown.insert(unknown.begin() + 1, {"QBXY", "?"});
    const std::pair<std::string, int> cases[] = {
        {"BM" + file, kPngNotPng},
        {spng_file(2, 8, 0, 1, 1, std::string(3, 0)), kPngNotPalette},
        {spng_file(0, 16, 0, 1, 1, std::string(2, 0)), kPngNotPalette},
        {std::string(file).replace(file.size() - 1, 1, "!"), kPngDamaged}, // bad CRC
        {without("IHDR"), kPngDamaged},
        {without("PLTE"), kPngDamaged},
        {without("IDAT"), kPngDamaged},
        {without("IEND"), kPngDamaged},
        {file.substr(0, file.size() - 20), kPngDamaged}, // cut in the stream
        {png_file(unknown), kPngDamaged},
        {png_file(with(good, "IHDR", std::string(ihdr).replace(0, 4, be32(0)))), kPngDamaged},
        {png_file(
             with(good, "IHDR", std::string(ihdr).replace(0, 8, be32(1 << 15) + be32(1 << 15)))),
         kPngTooLarge},
        {png_file(with(taller, "IHDR", ihdr)), kPngDamaged}, // one row too many in the stream
        {png_file(with(good, "IHDR", std::string(ihdr).replace(4, 4, be32(9)))), kPngDamaged}};
    for (const auto& [damaged, result] : cases) {
        EXPECT_EQ(read(damaged, &image, &detail), result)
            << damaged.size() << ": " << (detail ? detail : "");
        EXPECT_EQ(detail != nullptr, result == kPngNotPalette || result == kPngDamaged);
    }
}
