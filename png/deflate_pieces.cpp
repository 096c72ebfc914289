#include "deflate_pieces.h"

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Reads bits first to last, the lowest bit of each byte first.
struct Bits {
    const uint8_t* data;
    size_t size;
    uint64_t at = 0; // bits read

    uint32_t peek(int n) const {
        uint64_t word;
        std::memcpy(&word, data + (at >> 3), 8);
        return static_cast<uint32_t>((word >> (at & 7)) & ((uint64_t{1} << n) - 1));
    }
    uint32_t take(int n) {
        const uint32_t v = peek(n);
        at += static_cast<uint64_t>(n);
        return v;
    }
    bool over() const { return (at >> 3) > size; }
};

// A canonical Huffman code as a table of 2^15 entries by the next 15 bits:
// symbol << 4 | its code's length (0: no code starts so).
struct Code {
    std::vector<uint16_t> table = std::vector<uint16_t>(1 << 15);

    bool build(const uint8_t* lengths, int count) {
        int number[16] = {}, next[16] = {};
        for (int s = 0; s < count; s++)
            number[lengths[s]]++;
        number[0] = 0;
        for (int len = 1, code = 0; len < 16; len++) {
            code = (code + number[len - 1]) << 1;
            next[len] = code;
        }
        std::fill(table.begin(), table.end(), 0);
        for (int s = 0; s < count; s++) {
            const int len = lengths[s];
            if (len == 0) continue;
            const int code = next[len]++;
            if (code >= (1 << len)) return false; // more codes than the lengths allow
            int reversed = 0;
            for (int i = 0; i < len; i++)
                reversed |= ((code >> i) & 1) << (len - 1 - i);
            for (int fill = reversed; fill < (1 << 15); fill += 1 << len)
                table[static_cast<size_t>(fill)] = static_cast<uint16_t>(s << 4 | len);
        }
        return true;
    }
    // The next symbol, or -1 where no code starts.
    int read(Bits& bits) const {
        const uint16_t entry = table[bits.peek(15)];
        bits.at += entry & 15;
        return (entry & 15) ? entry >> 4 : -1;
    }
};

constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Reads the code lengths of a dynamic block into the two codes.
bool read_codes(Bits& bits, Code& literals, Code& distances) {
    const int nlit = static_cast<int>(bits.take(5)) + 257,
              ndist = static_cast<int>(bits.take(5)) + 1;
    const int nclen = static_cast<int>(bits.take(4)) + 4;
    uint8_t clen[19] = {}, lengths[320] = {};
    for (int i = 0; i < nclen; i++)
        clen[kOrder[i]] = static_cast<uint8_t>(bits.take(3));
    Code lengths_code;
    if (!lengths_code.build(clen, 19)) return false;
    for (int i = 0; i < nlit + ndist;) {
        const int sym = lengths_code.read(bits);
        if (sym < 0 || bits.over()) return false;
        if (sym < 16) {
            lengths[i++] = static_cast<uint8_t>(sym);
            continue;
        }
        const uint8_t value = sym == 16 ? (i ? lengths[i - 1] : 0xff) : 0;
        const int repeat = sym == 16   ? 3 + static_cast<int>(bits.take(2))
                           : sym == 17 ? 3 + static_cast<int>(bits.take(3))
                                       : 11 + static_cast<int>(bits.take(7));
        if (value == 0xff || i + repeat > nlit + ndist) return false;
        std::memset(lengths + i, value, static_cast<size_t>(repeat));
        i += repeat;
    }
    return literals.build(lengths, nlit) && distances.build(lengths + nlit, ndist);
}

} // namespace

uint64_t deflate_last_block(const uint8_t* data, size_t size, uint64_t* last) {
    Bits bits{data, size};
    Code literals, distances;
    for (;;) {
        *last = bits.at;
        const bool final = bits.take(1);
        const uint32_t type = bits.take(2);
        if (type == 0) {
            bits.at = (bits.at + 7) & ~uint64_t{7};
            const uint32_t length = bits.take(16);
            if ((bits.take(16) ^ length) != 0xffff) return 0;
            bits.at += uint64_t{length} * 8;
        } else if (type == 1) {
            uint8_t lengths[320];
            std::memset(lengths, 8, 144);
            std::memset(lengths + 144, 9, 112);
            std::memset(lengths + 256, 7, 24);
            std::memset(lengths + 280, 8, 8);
            std::memset(lengths + 288, 5, 32);
            literals.build(lengths, 288);
            distances.build(lengths + 288, 32);
        } else if (type != 2 || !read_codes(bits, literals, distances)) {
            return 0;
        }
        for (int sym = 0; type != 0 && sym != 256;) {
            sym = literals.read(bits);
            if (sym < 0 || sym > 285 || bits.over()) return 0;
            if (sym <= 256) continue;
            bits.at += kLengthExtra[sym - 257];
            const int dist = distances.read(bits);
            if (dist < 0 || dist > 29) return 0;
            bits.at += dist < 4 ? 0 : static_cast<uint64_t>(dist / 2 - 1);
        }
        if (bits.over()) return 0;
        if (final) return bits.at;
    }
}

uint32_t adler32_combine(uint32_t a, uint32_t b, size_t b_length) {
    constexpr uint64_t kBase = 65521;
    const uint64_t rem = b_length % kBase;
    uint64_t sum1 = a & 0xffff, sum2 = (rem * sum1) % kBase;
    sum1 += (b & 0xffff) + kBase - 1;
    sum2 += ((a >> 16) & 0xffff) + ((b >> 16) & 0xffff) + kBase - rem;
    if (sum1 >= kBase) sum1 -= kBase;
    if (sum1 >= kBase) sum1 -= kBase;
    if (sum2 >= (kBase << 1)) sum2 -= (kBase << 1);
    if (sum2 >= kBase) sum2 -= kBase;
    return static_cast<uint32_t>(sum1 | (sum2 << 16));
}

void FreeCompressor::operator()(libdeflate_compressor* compressor) const {
    libdeflate_free_compressor(compressor);
}

Compressor deflate_compressor(int level) {
    return Compressor(libdeflate_alloc_compressor(level));
}

HeapBytes deflate_in_pieces(size_t units, size_t unit_size, int level, size_t pieces,
                            const FillUnits& fill, size_t* size) {
    struct Piece {
        HeapBytes out; // not cleared
        size_t length = 0, bytes = 0;
        uint64_t end = 0, last = 0; // bits
        uint32_t adler = 1;
    };
    std::vector<Piece> done(pieces);
    std::atomic<size_t> next{0};
    // Takes pieces until none is left, filling each into one buffer of its own
    // and compressing it with one compressor of its own.
    auto work = [&] {
        HeapBytes in(static_cast<uint8_t*>(std::malloc((units / pieces + 1) * unit_size)));
        const Compressor made = deflate_compressor(level);
        libdeflate_compressor* const compressor = made.get();
        for (size_t k; (k = next++) < pieces;) {
            Piece& piece = done[k];
            const size_t first = units * k / pieces, count = units * (k + 1) / pieces - first;
            piece.length = count * unit_size;
            if (!compressor || !in) continue;
            fill(first, count, in.get());
            const size_t capacity = libdeflate_deflate_compress_bound(compressor, piece.length) + 8;
            piece.out.reset(static_cast<uint8_t*>(std::malloc(capacity)));
            if (piece.out)
                piece.bytes = libdeflate_deflate_compress(compressor, in.get(), piece.length,
                                                          piece.out.get(), capacity - 8);
            if (piece.bytes) {
                std::memset(piece.out.get() + piece.bytes, 0, 8); // what the walker may look at
                piece.end = deflate_last_block(piece.out.get(), piece.bytes, &piece.last);
            }
            piece.adler = libdeflate_adler32(1, in.get(), piece.length);
        }
    };
    // A thread the system refuses leaves its pieces to the others; the page's
    // module, built without threads, has none to give.
    std::vector<std::thread> helpers;
#if !defined(__EMSCRIPTEN__) || defined(__EMSCRIPTEN_PTHREADS__)
    try {
        const size_t cores = std::max(1u, std::thread::hardware_concurrency());
        while (helpers.size() + 1 < std::min(pieces, cores))
            helpers.emplace_back(work);
    } catch (const std::system_error&) {}
#endif
    work();
    for (std::thread& helper : helpers)
        helper.join();
    // zlib's header as libdeflate writes it for the level, then the pieces,
    // each but the last ending in an empty stored block, then the Adler-32.
    size_t total = 2 + 4;
    for (const Piece& piece : done) {
        if (!piece.end) return nullptr;
        total += &piece == &done.back() ? piece.bytes : (piece.end + 3 + 7) / 8 + 4;
    }
    HeapBytes stream(static_cast<uint8_t*>(std::malloc(total)));
    if (!stream) return nullptr;
    uint8_t* at = stream.get();
    *at++ = 0x78;
    *at++ = static_cast<uint8_t>(level < 2 ? 0x01 : level < 6 ? 0x5e : level < 8 ? 0x9c : 0xda);
    uint32_t adler = 1;
    for (Piece& piece : done) {
        adler = adler32_combine(adler, piece.adler, piece.length);
        uint8_t* out = piece.out.get();
        if (&piece == &done.back()) {
            at = std::copy(out, out + piece.bytes, at);
            break;
        }
        // The last block no longer final, then an empty stored block (3 bits of header, the
        // rest of the byte, a length of 0 and its complement).
        out[piece.last >> 3] &= static_cast<uint8_t>(~(1u << (piece.last & 7)));
        const size_t first = static_cast<size_t>(piece.end >> 3);
        const size_t whole = static_cast<size_t>((piece.end + 3 + 7) >> 3); // within bytes + 1
        out[first] &= static_cast<uint8_t>((1u << (piece.end & 7)) - 1);
        for (size_t i = first + 1; i < whole; i++)
            out[i] = 0;
        at = std::copy(out, out + whole, at);
        for (uint8_t byte : {0x00, 0x00, 0xff, 0xff})
            *at++ = byte;
        piece.out.reset();
    }
    for (int i = 0; i < 4; i++)
        *at++ = static_cast<uint8_t>(adler >> (24 - 8 * i));
    *size = total;
    return stream;
}
