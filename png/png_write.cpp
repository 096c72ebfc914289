#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "deflate_pieces.h"
#include "kzp/kzp.h"
#include "png.h"

namespace {

constexpr size_t kIdatMax = size_t{1} << 20;
constexpr size_t kProbe = 1 << 16;               // bytes per probe of the filtered rows
constexpr size_t kStored = 65535;                // the longest stored deflate block
constexpr uint8_t kZlibStored[2] = {0x78, 0x01}; // zlib header: deflate, 32 KiB window

// How the rows are filtered.  Filters pay when neighbouring indices have
// neighbouring colours (a palette ordered by colour): gradients become runs
// of small differences.  When the palette is in no such order the
// differences look like noise, and the indices compress better as they are,
// which PNG's advice for palette pictures (and so libpng and Pillow) takes
// for granted.
enum Filtering : int { kFilterPerRow, kFilterNone };

// The ways of writing the rows that are tried: filtered per row at
// libdeflate's level 1; or as they are at level 4 (greedy parsing), 7 (lazy)
// or 10 (near-optimal).  On rows of up to kNearOptimalMax bytes levels 4 to 7
// can come out a few per cent larger than zlib's default level (Pillow's) on
// noisy pictures (zlib ends a block every 32 Ki symbols and adapts its codes
// to the colours at hand), and only level 10 is sure to be smaller: there
// the rows as they are go at level 10 alone, filtering being chosen on
// probes at levels 1 and 4 (or on the whole rows at levels 1 and 10 when
// they are no larger than the probes).  Level 10 takes two to three times
// zlib's time.  On larger rows level 7 takes half of zlib's time and level
// 4 a quarter and is often as small.  libdeflate stores inputs of fewer than
// 55 - 4 x level bytes as they are; below kTiny bytes every way is
// compressed at level 12, which stores only up to 7 bytes.
struct Way {
    Filtering filtering;
    int level;
};
constexpr Way kWays[4] = {
    {kFilterPerRow, 1}, {kFilterNone, 4}, {kFilterNone, 7}, {kFilterNone, 10}};
constexpr size_t kTiny = 512;
constexpr size_t kNearOptimalMax = size_t{2} << 20;
// Rows of at least two pieces' bytes are compressed in pieces of at least
// this size at once (see deflate_pieces.h), each piece starting afresh:
// larger pieces lose less, smaller ones keep more cores busy.
constexpr size_t kPiece = size_t{1} << 20;

struct Free {
    void operator()(void* p) const { std::free(p); }
};
struct FreeCompressor {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Buffer = std::unique_ptr<uint8_t, Free>;
using Compressor = std::unique_ptr<libdeflate_compressor, FreeCompressor>;

void (*big_buffer_hint)(void*, size_t) = nullptr;

Buffer allocate(size_t size) {
    Buffer buffer(static_cast<uint8_t*>(std::malloc(size)));
    if (buffer && big_buffer_hint && size >= (size_t{4} << 20)) big_buffer_hint(buffer.get(), size);
    return buffer;
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

// A filtered byte's distance from 0, the byte taken as signed.
inline uint32_t magnitude(uint8_t r) {
    return std::min<uint8_t>(r, static_cast<uint8_t>(-r));
}

// Writes row `y` of `image` filtered to `out`: the filter byte, then the
// row's indices as they are (kFilterNone) or the output of the filter (none,
// sub, up or average: 0 to 3) whose output has the smallest sum of
// magnitudes.  `zeros` is the row above the first.  The loops are plain so
// that the compiler vectorises them.
void filter_row(const KzpImage& image, size_t y, const uint8_t* zeros, Filtering filtering,
                uint8_t* out) {
    const size_t width = static_cast<size_t>(image.width);
    const uint8_t* cur = image.pixels + y * width;
    const uint8_t* up = y ? cur - width : zeros;
    int type = 0;
    if (filtering == kFilterPerRow) {
        // Byte x's neighbours are cur[x - 1] (a) and up[x] (b); a is 0 at x = 0.
        uint32_t sums[4] = {magnitude(cur[0]), magnitude(cur[0]),
                            magnitude(static_cast<uint8_t>(cur[0] - up[0])),
                            magnitude(static_cast<uint8_t>(cur[0] - (up[0] >> 1)))};
        for (size_t x = 1; x < width; x++) {
            const uint8_t v = cur[x], a = cur[x - 1], b = up[x];
            sums[0] += magnitude(v);
            sums[1] += magnitude(static_cast<uint8_t>(v - a));
            sums[2] += magnitude(static_cast<uint8_t>(v - b));
            sums[3] += magnitude(static_cast<uint8_t>(v - ((a + b) >> 1)));
        }
        type = static_cast<int>(std::min_element(sums, sums + 4) - sums);
    }
    *out++ = static_cast<uint8_t>(type);
    out[0] = static_cast<uint8_t>(cur[0] - (type == 2 ? up[0] : type == 3 ? up[0] >> 1 : 0));
    switch (type) {
    case 0:
        std::memcpy(out + 1, cur + 1, width - 1);
        break;
    case 1:
        for (size_t x = 1; x < width; x++)
            out[x] = static_cast<uint8_t>(cur[x] - cur[x - 1]);
        break;
    case 2:
        for (size_t x = 1; x < width; x++)
            out[x] = static_cast<uint8_t>(cur[x] - up[x]);
        break;
    default:
        for (size_t x = 1; x < width; x++)
            out[x] = static_cast<uint8_t>(cur[x] - ((cur[x - 1] + up[x]) >> 1));
        break;
    }
}

// How a picture larger than its probes is written: one of kWays, or stored
// blocks when deflate gains nothing on it.
struct Plan {
    Way way;
    bool stored;
};

// Filters four probes of rows spread over the picture each of the first
// `ways` ways and compresses them, and takes the way whose probes are
// smallest, level 4 unless level 7 beats it by 0.5%.  When even the smallest
// probes are not under 98% of their size the picture does not compress: it
// is then written in stored blocks as the rows are filtered, with no buffer
// for them all.  `row` holds one filtered row.
Plan plan(const KzpImage& image, const uint8_t* zeros, size_t ways, uint8_t* row) {
    const size_t width = static_cast<size_t>(image.width) + 1;
    const size_t height = static_cast<size_t>(image.height);
    Buffer probe = allocate(kProbe), out = allocate(kProbe);
    if (!probe || !out) return {kWays[0], false};
    size_t sizes[4] = {SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX}, total = 0;
    for (size_t way = 0; way < ways; way++) {
        Compressor compressor(libdeflate_alloc_compressor(kWays[way].level));
        sizes[way] = 0;
        for (size_t i = 0; i < 4; i++) {
            size_t filled = 0;
            for (size_t y = (height - 1) * i / 4; filled < kProbe && y < height; y++) {
                filter_row(image, y, zeros, kWays[way].filtering, row);
                const size_t take = std::min(width, kProbe - filled);
                std::memcpy(probe.get() + filled, row, take);
                filled += take;
            }
            const size_t size = compressor
                                    ? libdeflate_deflate_compress(compressor.get(), probe.get(),
                                                                  filled, out.get(), filled)
                                    : 0;
            sizes[way] += size ? size : filled;
            total += way == 0 ? filled : 0;
        }
    }
    sizes[1] -= sizes[1] / 200;
    const size_t best = static_cast<size_t>(std::min_element(sizes, sizes + 4) - sizes);
    return {kWays[best], sizes[best] >= total * 49 / 50};
}

// IDAT chunks of kIdatMax bytes gathered from pieces of the zlib stream.
struct IdatWriter {
    std::FILE* output;
    Buffer chunk;
    size_t used = 0;
    bool ok = true;

    void put(const uint8_t* data, size_t size) {
        while (size > 0) {
            const size_t take = std::min(size, kIdatMax - used);
            std::memcpy(chunk.get() + used, data, take);
            used += take, data += take, size -= take;
            if (used == kIdatMax) flush();
        }
    }
    void flush() {
        ok = ok && write_chunk(output, "IDAT", chunk.get(), used);
        used = 0;
    }
};

// The filtered rows as a zlib stream of stored blocks, written as they are
// filtered: no buffer holds the whole picture.
bool write_stored(IdatWriter& idat, const KzpImage& image, const uint8_t* zeros,
                  Filtering filtering, uint8_t* row) {
    const size_t width = static_cast<size_t>(image.width) + 1;
    const size_t total = width * static_cast<size_t>(image.height);
    idat.put(kZlibStored, 2);
    uint32_t adler = 1;
    size_t block_left = 0, done = 0, row_at = width;
    for (size_t y = 0; done < total;) {
        if (block_left == 0) {
            block_left = std::min(kStored, total - done);
            const uint8_t header[5] = {
                static_cast<uint8_t>(done + block_left == total), static_cast<uint8_t>(block_left),
                static_cast<uint8_t>(block_left >> 8), static_cast<uint8_t>(~block_left),
                static_cast<uint8_t>(~block_left >> 8)};
            idat.put(header, 5);
        }
        if (row_at == width) filter_row(image, y++, zeros, filtering, row), row_at = 0;
        const size_t take = std::min(width - row_at, block_left);
        idat.put(row + row_at, take);
        adler = libdeflate_adler32(adler, row + row_at, take);
        row_at += take, block_left -= take, done += take;
    }
    uint8_t check[4];
    put_be32(check, adler);
    idat.put(check, 4);
    if (idat.used > 0) idat.flush();
    return idat.ok;
}

// The filtered rows compressed by libdeflate; nullptr when memory is short.
Buffer compress(const KzpImage& image, const uint8_t* zeros, Way way, size_t* size) {
    const size_t width = static_cast<size_t>(image.width) + 1;
    const size_t raw_size = width * static_cast<size_t>(image.height);
    Buffer raw = allocate(raw_size);
    if (!raw) return nullptr;
    for (size_t y = 0; y < static_cast<size_t>(image.height); y++)
        filter_row(image, y, zeros, way.filtering, raw.get() + y * width);
    if (raw_size >= 2 * kPiece) { // each piece has a compressor of its own
        const std::vector<uint8_t> pieces =
            deflate_in_pieces(raw.get(), raw_size, way.level, raw_size / kPiece);
        Buffer stream = pieces.empty() ? nullptr : allocate(pieces.size());
        if (stream) std::memcpy(stream.get(), pieces.data(), *size = pieces.size());
        return stream;
    }
    Compressor compressor(libdeflate_alloc_compressor(way.level));
    if (!compressor) return nullptr;
    const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), raw_size);
    Buffer stream = allocate(bound);
    if (stream)
        *size =
            libdeflate_zlib_compress(compressor.get(), raw.get(), raw_size, stream.get(), bound);
    return stream;
}

} // namespace

void png_hint_big_buffers(void (*hint)(void* memory, size_t size)) {
    big_buffer_hint = hint;
}

int write_png(std::FILE* output, const uint8_t* data, int64_t length) {
    KzpImage image;
    if (!kzp_image_parse(data, length, &image)) return kPngBroken;
    if (image.width == 0 || image.height <= 0) return kPngNoPixels;
    const size_t width = static_cast<size_t>(image.width);
    Buffer zeros = allocate(width), row = allocate(width + 1);
    if (!zeros || !row) return kPngNoMemory;
    std::memset(zeros.get(), 0, width);
    // A picture no larger than its probes would be is compressed whole every
    // way, and the smallest stream kept.
    const size_t raw_size = (width + 1) * static_cast<size_t>(image.height);
    const bool near_optimal = raw_size >= kTiny && raw_size <= kNearOptimalMax;
    const size_t ways = raw_size < kTiny ? 2 : near_optimal ? 4 : 3;
    Plan chosen{kWays[0], false};
    Buffer stream;
    size_t stream_size = 0;
    for (size_t way = 0; raw_size <= 4 * kProbe && way < ways; way++) {
        if (near_optimal && (way == 1 || way == 2)) continue;
        size_t size = 0;
        Buffer candidate =
            compress(image, zeros.get(),
                     {kWays[way].filtering, raw_size < kTiny ? 12 : kWays[way].level}, &size);
        if (!candidate) return kPngNoMemory;
        if (!stream || size < stream_size) stream = std::move(candidate), stream_size = size;
    }
    if (!stream) {
        chosen = plan(image, zeros.get(), near_optimal ? 2 : ways, row.get());
        if (near_optimal && chosen.way.filtering == kFilterNone) chosen.way = kWays[3];
        if (!chosen.stored && !(stream = compress(image, zeros.get(), chosen.way, &stream_size)))
            return kPngNoMemory;
    }
    const bool stored = chosen.stored;
    IdatWriter idat{output, stored ? allocate(kIdatMax) : nullptr};
    if (stored && !idat.chunk) return kPngNoMemory;

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
    if (stored) {
        ok = ok && write_stored(idat, image, zeros.get(), chosen.way.filtering, row.get());
    } else {
        for (size_t at = 0; ok && at < stream_size; at += kIdatMax)
            ok = write_chunk(output, "IDAT", stream.get() + at,
                             std::min(kIdatMax, stream_size - at));
    }
    return ok && write_chunk(output, "IEND", nullptr, 0) ? kPngOk : kPngWriteError;
}
