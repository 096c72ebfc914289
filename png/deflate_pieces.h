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
#include <vector>

// The bit just past the end of the last block of the deflate stream in
// `data` (its `size` bytes; reading may look up to 8 bytes beyond, which
// must be there), and in `*last` the bit where that block's header starts.
// Returns 0 when the stream is damaged or runs past `size`.
uint64_t deflate_last_block(const uint8_t* data, size_t size, uint64_t* last);

// The Adler-32 of A then B, from A's, B's and B's length.
uint32_t adler32_combine(uint32_t a, uint32_t b, size_t b_length);

// The zlib stream of `size` bytes at `data` at libdeflate's `level`, in
// `pieces` pieces compressed at once (its bytes depend on `pieces` only, not
// on the threads given them).  Empty when memory is short.
std::vector<uint8_t> deflate_in_pieces(const uint8_t* data, size_t size, int level, size_t pieces);
