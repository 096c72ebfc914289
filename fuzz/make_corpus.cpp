// Writes the seed corpora of the fuzz harnesses:  make_corpus DIR
// DIR/<harness>/ gets a few small inputs made with the project's encoder.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <spng.h>

#include <cstdlib>

#include "bmp/bmp.h"
#include "lzss/lzss.h"
#include "png/png.h"
#include "sample_images.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A compressed image of `width` x `height` with `extra` bytes in front.
Bytes image(int32_t width, int32_t height, size_t extra = 0) {
    Bytes pixels(width > 0 && height > 0 ? static_cast<size_t>(width) * height : 0);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = static_cast<uint8_t>(i * 7 / 5);
    Bytes palette(1024);
    for (size_t i = 0; i < palette.size(); i++)
        palette[i] = static_cast<uint8_t>(i * 13);
    Bytes decoded(extra, 0x5A);
    Bytes body = kzp_image_bytes(width, height, pixels.data(), palette.data());
    decoded.insert(decoded.end(), body.begin(), body.end());
    return lzss_encode(decoded);
}

// The BMP file quorbin writes for a small picture.
Bytes bmp(int32_t width, int32_t height) {
    Bytes pixels(static_cast<size_t>(width) * static_cast<size_t>(height), 7), palette(1024, 9);
    const Bytes decoded = kzp_image_bytes(width, height, pixels.data(), palette.data());
    std::FILE* file = std::tmpfile();
    write_bmp(file, decoded.data(), static_cast<int64_t>(decoded.size()));
    Bytes written(static_cast<size_t>(std::ftell(file)));
    std::rewind(file);
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    return written;
}

// The PNG file quorbin writes for a picture of `alphabet` colours.
Bytes png(int32_t width, int32_t height, unsigned alphabet) {
    Bytes pixels(static_cast<size_t>(width) * static_cast<size_t>(height)), palette(1024, 9);
    uint32_t x = 1;
    for (uint8_t& p : pixels)
        p = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16) % alphabet;
    const Bytes decoded = kzp_image_bytes(width, height, pixels.data(), palette.data());
    std::FILE* file = std::tmpfile();
    write_png(file, decoded.data(), static_cast<int64_t>(decoded.size()));
    Bytes written(static_cast<size_t>(std::ftell(file)));
    std::rewind(file);
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    return written;
}

// A BMP file of another form: a `header`-byte information header (12: OS/2
// 1.x), `bits` per pixel, `compression` (1 RLE8, 2 RLE4), a colour table of
// 2^bits entries, then `pixels` as they are.
Bytes bmp_form(uint32_t header, uint16_t width, uint16_t height, uint16_t bits,
               uint32_t compression, const Bytes& pixels) {
    const size_t entry = header == 12 ? 3 : 4, start = 14 + header + (entry << bits);
    Bytes file(start);
    auto put = [&](size_t at, uint32_t value, size_t size) {
        for (size_t i = 0; i < size; i++)
            file[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    file[0] = 'B', file[1] = 'M';
    put(2, static_cast<uint32_t>(start + pixels.size()), 4);
    put(10, static_cast<uint32_t>(start), 4);
    put(14, header, 4);
    const size_t field = header == 12 ? 2 : 4; // width and height
    put(18, width, field);
    put(18 + field, height, field);
    put(18 + 2 * field, 1, 2);
    put(20 + 2 * field, bits, 2);
    if (header > 16) put(30, compression, 4);
    for (size_t i = 14 + header; i < start; i++)
        file[i] = static_cast<uint8_t>(i * 5);
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

// A 2x2 true-colour BMP file of `bits` 24 or 32, with bit fields (the usual
// masks, in a V5 header) for compression 3.
Bytes true_colour_bmp(uint16_t bits, uint32_t compression) {
    const uint32_t header = compression ? 124 : 40, start = 14 + header;
    Bytes file(start + 2 * ((bits / 8 * 2 + 3) / 4 * 4), 0x5A);
    auto put = [&](size_t at, uint32_t value) {
        for (size_t i = 0; i < 4; i++)
            file[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    file[0] = 'B', file[1] = 'M';
    put(2, static_cast<uint32_t>(file.size()));
    put(10, start);
    put(14, header);
    put(18, 2);
    put(22, static_cast<uint32_t>(-2)); // top-down
    put(26, 1u | uint32_t{bits} << 16);
    put(30, compression);
    put(46, 0);
    put(54, 0xFF0000), put(58, 0xFF00), put(62, 0xFF);
    return file;
}

// A PNG file of colour type `type` at `depth` bits written by libspng.
Bytes spng_png(uint8_t type, uint8_t depth, uint8_t interlace) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{9, 5, depth, type, 0, 0, interlace};
    spng_set_ihdr(ctx, &ihdr);
    spng_plte plte{2, {{1, 2, 3, 0}, {4, 5, 6, 0}}};
    if (type == 3) spng_set_plte(ctx, &plte);
    const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
    const Bytes rows(5 * ((9 * depth * channels[type] + 7) / 8), 0x40);
    spng_encode_image(ctx, rows.data(), rows.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    size_t size = 0;
    int error = 0;
    auto* file = static_cast<uint8_t*>(spng_get_png_buffer(ctx, &size, &error));
    Bytes out(file, file + size);
    std::free(file);
    spng_ctx_free(ctx);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const std::vector<std::pair<std::string, std::vector<Bytes>>> seeds = {
        {"decoder",
         {{0xFF, 1, 2, 3, 4, 5, 6, 7, 8},
          {0x01, 'x', 0xEE, 0xF0},
          {0x00, 0x34, 0x1F, 0x12},
          lzss_encode(bytes("abababababcabcabcabcabcdddddddddddddddddddddd")),
          image(6, 3)}},
        {"roundtrip", {bytes("hello hello hello"), Bytes(300, 0), bytes("abcabcabcabcxyz")}},
        {"image",
         {image(5, 3), image(8, 2, 7), image(4, 0), image(3, -2), image(0, 4),
          Bytes{0xFF, 1, 2, 3}}},
        {"listfile",
         {bytes("pack01.dat 640 512 title.kzp\n"), bytes("a 1 512title.kzp\r\nb +5 -3 c d\n\n"),
          bytes("a 0x10 5 t\na - 3 t\na 99999999999999999999 1 big\n"),
          bytes(std::string(1100, 'x') + " 1 2 y\n")}},
        {"bmpread",
         {bmp(3, 2), bmp(0, 4), bmp(5, 1), bytes("BM"),
          // RLE8: a run, end of line, an odd absolute run, a delta up, a run, end of bitmap
          bmp_form(40, 4, 3, 8, 1, {3, 5, 0, 0, 0, 3, 1, 2, 3, 0, 0, 2, 0, 1, 1, 7, 0, 1}),
          // RLE4: a run of two in turn, end of line, an absolute run, a delta right, early end
          bmp_form(124, 6, 2, 4, 2, {4, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 2, 2, 0, 0, 1}),
          bmp_form(40, 9, 2, 1, 0, {0xA5, 0x80, 0, 0, 0x5A, 0x00, 0, 0}),
          bmp_form(12, 3, 2, 4, 0, {0x12, 0x30, 0, 0, 0x45, 0x60, 0, 0}),
          bmp_form(64, 2, 1, 8, 0, {9, 8, 0, 0}), bmp_form(16, 5, 1, 4, 0, {0x12, 0x34, 0x50, 0}),
          true_colour_bmp(24, 0), true_colour_bmp(32, 3)}},
        {"pngread",
         {png(3, 2, 256), png(256, 256, 256), png(100, 50, 2), spng_png(3, 1, 1), spng_png(0, 2, 0),
          spng_png(0, 4, 1), spng_png(2, 8, 0), spng_png(6, 16, 1), spng_png(4, 8, 0),
          bytes("\x89PNG\r\n\x1a\n")}},
        {"options",
         {bytes(std::string("-C\0out\0a.kzp", 12)), bytes(std::string("-l\0-\0-c\0data/", 13)),
          bytes("-x"), bytes("-"), bytes(std::string("a\0-C\0out", 8))}},
    };
    for (const auto& [harness, inputs] : seeds) {
        std::filesystem::create_directories(dir / harness);
        for (size_t i = 0; i < inputs.size(); i++)
            if (!write_whole_file((dir / harness / ("seed" + std::to_string(i))).c_str(),
                                  inputs[i]))
                return 1;
    }
    return 0;
}
