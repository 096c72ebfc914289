// Arbitrary bytes as a PNG file through quorbin-pack's reader (libspng and
// the checks around it).  An accepted file yields a decoded image of exactly
// width x height + 1032 bytes, at most kPngMaxPixels pixels; the PNG file
// written for it reads back as the same image.
#include <cstdlib>
#include <vector>

#include "kzp/kzp.h"
#include "png/png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image;
    const char* detail = nullptr;
    const int result = png_read(data, size, &image, &detail);
    if ((result == kPngNotPalette || result == kPngDamaged) != (detail != nullptr)) std::abort();
    // Read as colours, every file accepted gives three bytes a pixel, and a
    // palette or grey picture the colours of its indices.
    KzpColours colours{};
    const int as_colours = png_read_colours(data, size, &colours, &detail);
    if (as_colours == kPngRead &&
        colours.rgb.size() != 3 * static_cast<size_t>(colours.width) * colours.height)
        std::abort();
    if (result == kPngRead && as_colours != kPngRead) std::abort();
    if (result != kPngRead) return 0;
    KzpImage parsed;
    if (!kzp_image_parse(image.data(), static_cast<int64_t>(image.size()), &parsed) ||
        parsed.width <= 0 || parsed.height <= 0 ||
        static_cast<uint64_t>(parsed.width) * static_cast<uint64_t>(parsed.height) >
            kPngMaxPixels ||
        image.size() != static_cast<size_t>(parsed.width) * parsed.height + 1032 ||
        kzp_image_colours(parsed).rgb != colours.rgb)
        std::abort();
    std::FILE* file = std::tmpfile();
    if (!file) return 0;
    if (write_png(file, image.data(), static_cast<int64_t>(image.size())) != kPngOk) std::abort();
    std::vector<uint8_t> written(static_cast<size_t>(std::ftell(file)));
    std::rewind(file);
    if (std::fread(written.data(), 1, written.size(), file) != written.size()) std::abort();
    std::fclose(file);
    std::vector<uint8_t> again;
    if (png_read(written.data(), written.size(), &again, &detail) != kPngRead || again != image)
        std::abort();
    return 0;
}
