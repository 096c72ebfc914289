// Arbitrary bytes as a BMP file through the readers.  A file that is accepted
// yields a decoded image of the layout the writer takes, and as colours
// those of its indices; the writer's BMP of
// it reads back as the same image.  RLE pictures are held to 2^16 pixels: a
// few bytes could otherwise claim 2^28 zero pixels on every run, and the
// fuzzer would spend its time clearing memory.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bmp/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image;
    const char* detail = nullptr;
    // Read as colours, every accepted file gives three bytes a pixel, and a
    // palette picture the colours of its indices.
    KzpColours colours{};
    const int as_colours = bmp_read_colours(data, size, &colours, &detail, uint64_t{1} << 16);
    if (as_colours == kBmpRead && (colours.width < 0 || colours.height < 0 ||
                                   colours.rgb.size() != 3 * static_cast<size_t>(colours.width) *
                                                             static_cast<size_t>(colours.height)))
        std::abort();
    const int result = bmp_read(data, size, &image, &detail, uint64_t{1} << 16);
    if (result == kBmpRead && as_colours != kBmpRead) std::abort();
    if (result != kBmpRead) return 0;
    KzpImage parsed;
    if (!kzp_image_parse(image.data(), static_cast<int64_t>(image.size()), &parsed) ||
        parsed.height < 0 || parsed.width < 0 ||
        image.size() != static_cast<size_t>(parsed.width) * parsed.height + 1032 ||
        kzp_image_colours(parsed).rgb != colours.rgb)
        std::abort();
    std::FILE* file = std::tmpfile();
    if (!file) return 0;
    if (write_bmp(file, image.data(), static_cast<int64_t>(image.size())) != kBmpOk) std::abort();
    std::vector<uint8_t> written(static_cast<size_t>(std::ftell(file)));
    std::rewind(file);
    if (std::fread(written.data(), 1, written.size(), file) != written.size()) std::abort();
    std::fclose(file);
    std::vector<uint8_t> again;
    // A height of 0 writes no rows, and such a file reads back as it was.
    if (bmp_read(written.data(), written.size(), &again, &detail) != kBmpRead || again != image)
        std::abort();
    return 0;
}
