#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "kzp/kzp.h"
#include "png.h"

namespace {

constexpr size_t kIdatMax = size_t{1} << 20;
// libdeflate's level for the filtered rows: on the sample pictures higher
// levels gain a few per cent at two or three times the time.
constexpr int kLevel = 2;
constexpr size_t kProbe = 16384; // bytes per probe of compressibility

struct Free {
    void operator()(void* p) const { std::free(p); }
};
struct FreeCompressor {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Buffer = std::unique_ptr<uint8_t, Free>;
using Compressor = std::unique_ptr<libdeflate_compressor, FreeCompressor>;

Buffer allocate(size_t size) {
    return Buffer(static_cast<uint8_t*>(std::malloc(size)));
}

void put_be32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Writes one chunk; false when the output refuses.
bool write_chunk(std::FILE* output, const char* type, const uint8_t* data, size_t size) {
    uint8_t head[8], crc[4];
    put_be32(head, static_cast<uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    // libdeflate_crc32 with a null buffer starts a CRC afresh, as zlib's crc32 does.
    const uint32_t type_crc = libdeflate_crc32(0, head + 4, 4);
    put_be32(crc, size ? libdeflate_crc32(type_crc, data, size) : type_crc);
    return std::fwrite(head, 1, 8, output) == 8 &&
           (size == 0 || std::fwrite(data, 1, size, output) == size) &&
           std::fwrite(crc, 1, 4, output) == 4;
}

uint8_t paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Filters the row `cur` of `width` bytes, below `up`, with each of the five
// filters into `out` (five rows of `width`); returns the filter whose output
// has the smallest sum of magnitudes as signed bytes.
int filter_row(const uint8_t* cur, const uint8_t* up, size_t width, uint8_t* out) {
    uint8_t* f[5] = {out, out + width, out + 2 * width, out + 3 * width, out + 4 * width};
    std::memcpy(f[0], cur, width);
    f[1][0] = cur[0];
    f[2][0] = static_cast<uint8_t>(cur[0] - up[0]);
    f[3][0] = static_cast<uint8_t>(cur[0] - (up[0] >> 1));
    f[4][0] = static_cast<uint8_t>(cur[0] - up[0]);
    for (size_t x = 1; x < width; x++) {
        f[1][x] = static_cast<uint8_t>(cur[x] - cur[x - 1]);
        f[2][x] = static_cast<uint8_t>(cur[x] - up[x]);
        f[3][x] = static_cast<uint8_t>(cur[x] - ((cur[x - 1] + up[x]) >> 1));
        f[4][x] = static_cast<uint8_t>(cur[x] - paeth(cur[x - 1], up[x], up[x - 1]));
    }
    int best = 0;
    uint64_t best_sum = UINT64_MAX;
    for (int type = 0; type < 5; type++) {
        uint64_t sum = 0;
        for (size_t x = 0; x < width; x++)
            sum += static_cast<unsigned>(std::abs(static_cast<int8_t>(f[type][x])));
        if (sum < best_sum) best_sum = sum, best = type;
    }
    return best;
}

// Whether deflate gains nothing on `data`: four probes spread over it, each
// compressed fast into 98% of its size, fail to fit.
bool incompressible(const uint8_t* data, size_t size) {
    if (size < 4 * kProbe) return false;
    Compressor fast(libdeflate_alloc_compressor(1));
    uint8_t out[kProbe];
    for (size_t i = 0; fast && i < 4; i++)
        if (libdeflate_deflate_compress(fast.get(), data + (size - kProbe) / 3 * i, kProbe, out,
                                        kProbe * 49 / 50) != 0)
            return false;
    return fast != nullptr;
}

} // namespace

int write_png(std::FILE* output, const uint8_t* data, int64_t length) {
    KzpImage image;
    if (!kzp_image_parse(data, length, &image)) return kPngBroken;
    if (image.width == 0 || image.height <= 0) return kPngNoPixels;
    const size_t width = static_cast<size_t>(image.width);
    const size_t height = static_cast<size_t>(image.height);
    const size_t raw_size = (width + 1) * height;
    Buffer raw = allocate(raw_size), rows = allocate(6 * width);
    if (!raw || !rows) return kPngNoMemory;
    uint8_t* above = rows.get() + 5 * width;
    std::memset(above, 0, width);
    for (size_t y = 0; y < height; y++) {
        const uint8_t* cur = image.pixels + y * width;
        const int type = filter_row(cur, y ? cur - width : above, width, rows.get());
        uint8_t* at = raw.get() + y * (width + 1);
        at[0] = static_cast<uint8_t>(type);
        std::memcpy(at + 1, rows.get() + type * width, width);
    }
    rows.reset();

    Compressor compressor(
        libdeflate_alloc_compressor(incompressible(raw.get(), raw_size) ? 0 : kLevel));
    if (!compressor) return kPngNoMemory;
    const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), raw_size);
    Buffer stream = allocate(bound);
    if (!stream) return kPngNoMemory;
    const size_t stream_size =
        libdeflate_zlib_compress(compressor.get(), raw.get(), raw_size, stream.get(), bound);
    raw.reset();

    static const uint8_t kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    uint8_t header[13] = {0, 0, 0, 0, 0, 0, 0, 0, 8, 3, 0, 0, 0};
    put_be32(header, static_cast<uint32_t>(image.width));
    put_be32(header + 4, static_cast<uint32_t>(image.height));
    uint8_t palette[768];
    for (int i = 0; i < 256; i++)
        std::memcpy(palette + 3 * i, image.palette + 4 * i, 3);
    bool ok = std::fwrite(kSignature, 1, 8, output) == 8 &&
              write_chunk(output, "IHDR", header, sizeof header) &&
              write_chunk(output, "PLTE", palette, sizeof palette);
    for (size_t at = 0; ok && at < stream_size; at += kIdatMax)
        ok = write_chunk(output, "IDAT", stream.get() + at, std::min(kIdatMax, stream_size - at));
    return ok && write_chunk(output, "IEND", nullptr, 0) ? kPngOk : kPngWriteError;
}
