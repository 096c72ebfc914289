// The straightforward build of one conversion, for comparing whole-process
// times: bytewise decoder, a fresh nine-times buffer, one fwrite per row.
//
//   baseline_job INPUT.kzp OUTPUT.bmp
#include <cstdio>
#include <cstdlib>

#include "bmp/bmp.h"
#include "lzss/lzss.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::FILE* in = std::fopen(argv[1], "rb");
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!in || !out) return 1;
    std::fseek(in, 0, SEEK_END);
    long size = std::ftell(in);
    std::rewind(in);
    auto* buffer = static_cast<uint8_t*>(std::malloc(9 * static_cast<size_t>(size)));
    int64_t length = decode_stored_stream(in, size, buffer, kLzssBytewise);
    KzpImage image;
    if (!kzp_image_parse(buffer, length, &image)) return 1;
    uint8_t headers[kBmpHeaderSize];
    bmp_build_headers(image, headers);
    std::fwrite(headers, 1, sizeof headers, out);
    static const uint8_t zeros[4] = {};
    for (int32_t row = image.height - 1; row >= 0; row--) {
        std::fwrite(image.pixels + static_cast<size_t>(row) * image.width, 1, image.width, out);
        std::fwrite(zeros, 1, static_cast<size_t>(bmp_row_size(image.width) - image.width), out);
    }
    std::free(buffer);
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}
