// Deflate on every core: the data cut into pieces compressed at once, each
// by libdeflate into deflate blocks of its own, then joined into one zlib
// stream.  libdeflate marks the last block of each piece final; joining
// finds that block (by walking the blocks as an inflater would, without
// writing anything out), clears its mark and ends the piece with an empty
// stored block, which brings it to a whole byte, as zlib's sync flush does.
// The Adler-32s of the pieces are combined as zlib's adler32_combine does.
// Internal to png/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

// A libdeflate compressor, freed when it goes (null when memory was short).
// No thread keeps one in thread-local storage: MinGW's runtime can free that
// storage before it runs its destructors, which then crash.
struct libdeflate_compressor;
struct FreeCompressor {
    void operator()(libdeflate_compressor* compressor) const;
};
using Compressor = std::unique_ptr<libdeflate_compressor, FreeCompressor>;
Compressor deflate_compressor(int level);

// The bit just past the end of the last block of the deflate stream in
// `data` (its `size` bytes; reading may look up to 8 bytes beyond, which
// must be there), and in `*last` the bit where that block's header starts.
// Returns 0 when the stream is damaged or runs past `size`.
uint64_t deflate_last_block(const uint8_t* data, size_t size, uint64_t* last);

// The Adler-32 of A then B, from A's, B's and B's length.
uint32_t adler32_combine(uint32_t a, uint32_t b, size_t b_length);

// malloc'd bytes, freed by free().
struct FreeHeapBytes {
    void operator()(void* p) const { std::free(p); }
};
using HeapBytes = std::unique_ptr<uint8_t, FreeHeapBytes>;

// Writes units [first, first + count) of the data to compress to `out`.
using FillUnits = std::function<void(size_t first, size_t count, uint8_t* out)>;

// The zlib stream (its `*size` bytes) of `units` units of `unit_size` bytes
// each, made by `fill`, at libdeflate's `level` in `pieces` pieces (piece k:
// units units * k / pieces up to units * (k + 1) / pieces), compressed at
// once on as many threads as there are cores, each filling a piece, then
// compressing it.  Its bytes depend on `pieces` only, not on the threads.
// nullptr when memory is short.
HeapBytes deflate_in_pieces(size_t units, size_t unit_size, int level, size_t pieces,
                            const FillUnits& fill, size_t* size);
