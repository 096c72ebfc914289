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
constexpr size_t kProbes = 4;      // probes of rows spread over a picture
constexpr size_t kProbe = 1 << 14; // bytes per probe, at most
constexpr size_t kWhole = 1 << 12; // rows of up to this many bytes are compressed whole both ways
constexpr size_t kStored = 65535;  // the longest stored deflate block
constexpr uint8_t kZlibStored[2] = {0x78, 0x01}; // zlib header: deflate, 32 KiB window

// How the rows are filtered.  Filters pay when neighbouring indices have
// neighbouring colours (a palette ordered by colour): gradients become runs
// of small differences.  When the palette is in no such order the
// differences look like noise, and the indices compress better as they are,
// which PNG's advice for palette pictures (and so libpng and Pillow) takes
// for granted.
enum Filtering : int { kFilterPerRow, kFilterNone };

// How the rows are written: filtered or not (on probes of them, see plan()),
// at the level of the effort (-z, see png.h): kLevels[effort - 1]; for the
// default, -z 6, level 6, which on game-sized pictures comes out about 1%
// below zlib's default level (Pillow's) in a third of its time, and 7 on rows
// of two pieces or more, where pieces starting afresh lose a little.  libdeflate
// stores inputs of fewer than 55 - 4 x level bytes as they are; below kTiny
// bytes every way is compressed at level 12, which stores only up to 7 bytes.
// Rows of up to kWhole bytes are compressed both ways, and the smaller kept.
struct Way {
    Filtering filtering;
    int level;
};
constexpr int kLevels[9] = {1, 2, 3, 4, 5, 6, 7, 8, 10}; // by effort, 1 to 9
constexpr size_t kTiny = 512;
// Rows of at least two pieces' bytes are compressed in pieces of at least
// this size at once (see deflate_pieces.h), each piece starting afresh:
// larger pieces lose less, smaller ones keep more cores busy.
constexpr size_t kPiece = size_t{1} << 20;

using Buffer = HeapBytes;

void (*big_buffer_hint)(void*, size_t) = nullptr;
int effort = 6; // -z

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

// How a picture larger than its probes is written: filtered or not, or in
// stored blocks when deflate gains nothing on it.
struct Plan {
    Filtering filtering;
    bool stored;
    int level; // libdeflate's
};

// Filters kProbes probes of rows spread over the picture, a quarter of its
// rows' bytes in all (within kWhole and kProbes x kProbe), both ways, and
// compresses each way's probes together (a call of libdeflate clears its
// tables, which costs more than compressing small probes).  At level 1 the
// rows as they are win or lose by far on most pictures: filtered rows 30%
// smaller (a palette in colour order) are then compressed at level 1 up to
// -z 6, as they are far smaller than zlib's anyway.  Otherwise `level` (at
// most 6) judges the rows as they are, as level 1 can take filtered rows for
// smaller where level 6 makes them larger: they are kept unless filtered
// rows are 3% smaller, at level 1 (then written so up to -z 6) or else at
// that level.  Smaller probes lack the rows far above and so favour
// filtering.  When the chosen probes are not under 98% of their size the
// picture does not compress: it is then written in stored blocks as the rows
// are filtered, with no buffer for them all.  `row` holds one filtered row.
Plan plan(const KzpImage& image, const uint8_t* zeros, int level, uint8_t* row) {
    const size_t width = static_cast<size_t>(image.width) + 1;
    const size_t height = static_cast<size_t>(image.height);
    const size_t bytes = std::clamp(width * height / 4, kWhole, kProbes * kProbe) / kProbes;
    Buffer probes[2] = {allocate(kProbes * bytes), allocate(kProbes * bytes)};
    Buffer out = allocate(kProbes * bytes);
    if (!probes[0] || !probes[1] || !out) return {kFilterPerRow, false, level};
    size_t total = 0;
    for (Filtering filtering : {kFilterPerRow, kFilterNone}) {
        total = 0;
        for (size_t i = 0; i < kProbes; i++) {
            const size_t end = total + bytes;
            for (size_t y = (height - 1) * i / kProbes; total < end && y < height; y++) {
                filter_row(image, y, zeros, filtering, row);
                const size_t take = std::min(width, end - total);
                std::memcpy(probes[filtering].get() + total, row, take);
                total += take;
            }
        }
    }
    Compressor compressors[2];
    auto size = [&](Filtering filtering, int at) {
        Compressor& compressor = compressors[at != 1];
        if (!compressor) compressor = deflate_compressor(at);
        const size_t made =
            compressor ? libdeflate_deflate_compress(compressor.get(), probes[filtering].get(),
                                                     total, out.get(), total)
                       : 0;
        return made ? made : total;
    };
    const int fast = effort > 6 ? level : 1, judge = std::min(level, 6);
    const size_t filtered_fast = size(kFilterPerRow, 1), none_fast = size(kFilterNone, 1);
    if (filtered_fast < none_fast * 7 / 10)
        return {kFilterPerRow, filtered_fast >= total * 49 / 50, fast};
    if (filtered_fast >= none_fast) return {kFilterNone, none_fast >= total * 49 / 50, level};
    const size_t none = size(kFilterNone, judge), less = none - none / 33;
    if (filtered_fast < less) return {kFilterPerRow, false, fast};
    const size_t filtered = size(kFilterPerRow, judge);
    return filtered < less ? Plan{kFilterPerRow, false, level}
                           : Plan{kFilterNone, none >= total * 49 / 50, level};
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
// Rows of two pieces or more are filtered and compressed a piece at a time.
Buffer compress(const KzpImage& image, const uint8_t* zeros, Way way, size_t* size) {
    const size_t width = static_cast<size_t>(image.width) + 1;
    const size_t height = static_cast<size_t>(image.height);
    auto fill = [&](size_t first, size_t count, uint8_t* out) {
        for (size_t y = first; y < first + count; y++, out += width)
            filter_row(image, y, zeros, way.filtering, out);
    };
    const size_t raw_size = width * height;
    if (raw_size >= 2 * kPiece)
        return deflate_in_pieces(height, width, way.level, raw_size / kPiece, fill, size);
    Buffer raw = allocate(raw_size);
    const Compressor compressor = deflate_compressor(way.level);
    if (!raw || !compressor) return nullptr;
    fill(0, height, raw.get());
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

void png_set_effort(int z) {
    effort = z ? z : 6;
}

int write_png(std::FILE* output, const uint8_t* data, int64_t length) {
    KzpImage image;
    if (!kzp_image_parse(data, length, &image)) return kPngBroken;
    if (image.width == 0 || image.height <= 0) return kPngNoPixels;
    const size_t width = static_cast<size_t>(image.width);
    Buffer zeros = allocate(width), row = allocate(width + 1);
    if (!zeros || !row) return kPngNoMemory;
    std::memset(zeros.get(), 0, width);
    const size_t raw_size = (width + 1) * static_cast<size_t>(image.height);
    const int level = raw_size < kTiny                        ? 12
                      : effort == 6 && raw_size >= 2 * kPiece ? 7
                                                              : kLevels[effort - 1];
    Plan chosen{kFilterPerRow, false, level};
    Buffer stream;
    size_t stream_size = 0;
    for (Filtering filtering : {kFilterPerRow, kFilterNone}) {
        if (raw_size > kWhole) break;
        size_t size = 0;
        Buffer candidate = compress(image, zeros.get(), {filtering, level}, &size);
        if (!candidate) return kPngNoMemory;
        if (!stream || size < stream_size) stream = std::move(candidate), stream_size = size;
    }
    if (!stream) {
        chosen = plan(image, zeros.get(), level, row.get());
        if (!chosen.stored && !(stream = compress(image, zeros.get(),
                                                  {chosen.filtering, chosen.level}, &stream_size)))
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
        ok = ok && write_stored(idat, image, zeros.get(), chosen.filtering, row.get());
    } else {
        for (size_t at = 0; ok && at < stream_size; at += kIdatMax)
            ok = write_chunk(output, "IDAT", stream.get() + at,
                             std::min(kIdatMax, stream_size - at));
    }
    return ok && write_chunk(output, "IEND", nullptr, 0) ? kPngOk : kPngWriteError;
}
