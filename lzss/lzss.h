// LZSS decoder for KZP stored streams.
//
// The stream has no header, magic number, checksum or end marker: it is exactly
// the stored size's worth of bytes, a sequence of groups.
//
//   group     = flag byte, then up to eight items (the last group may hold fewer)
//   flag byte = one bit per item, least significant bit first:
//                 1 -> literal:        one byte, output unchanged
//                 0 -> back-reference: two bytes b0 b1
//   b0 b1     = position = b0 | (b1 >> 4) << 8   (12 bits)
//               length   = (b1 & 0x0F) + 3       (3..18)
//
// The decoder keeps a 4096-byte window, all zero at the start of a stream.
// Every output byte, literal or copied, is also stored at window[write_index],
// and write_index advances by one modulo 4096, starting at 0.  A back-reference
// copies `length` bytes starting at window index (position + 18) mod 4096, one
// byte at a time, so it may copy bytes it has just written itself (a source one
// byte behind the write index repeats the last byte).  Put differently,
// positions count as if the first output byte had been stored at 4096 - 18.
//
// A stream never yields nine or more output bytes per input byte: the densest
// prefix is a flag byte followed by k back-references, 2k + 1 bytes giving at
// most 18k.  A buffer of nine times the input therefore always suffices.
//
// Promises: no read outside [input, input + input_left) and no write outside
// [output, output + output_left); any split of the input and any sequence of
// output allowances yields exactly the bytes of a one-shot decode.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

constexpr int kLzssWindowSize = 4096;
constexpr int kLzssMaxMatch = 18;
constexpr int kLzssMinMatch = 3;
constexpr int kLzssPositionBias = 18; // source index = (position + 18) mod 4096
constexpr int kLzssChunkSize = 16384; // bytes read from the file per step

struct LzssState {
    uint8_t copy_buffer[kLzssMaxMatch]; // bytes of the current back-reference
    int32_t copy_index;                 // next byte of copy_buffer to output
    int32_t copy_remaining;             // bytes of copy_buffer still to output
    uint8_t pending_low;                // b0 of a back-reference missing its b1
    int32_t have_pending_low;           // 1 when pending_low holds a byte
    int32_t write_index;                // where the next output byte goes in window
    int32_t flag_bits_left;             // items still governed by flags
    uint8_t flags;                      // current flag byte, shifted after each item
    uint8_t window[kLzssWindowSize];    // the sliding dictionary
};

// A fresh state (zero window, nothing pending), or nullptr when memory is short.
LzssState* lzss_state_create();

// Releases a state; accepts nullptr.
void lzss_state_free(LzssState* state);

// Whole groups are decoded by a fast path while enough input and output room
// remain, the rest one byte at a time; both give the same bytes.
//
// Decodes from `input` into `output` until *output_left reaches 0 or the input
// is used up with nothing waiting to be output.  On return *input_left and
// *output_left tell what is left; input bytes consumed are the first
// (old *input_left - new *input_left), output bytes written likewise.  Whatever
// is left half-done (copied bytes not yet output, a lone b0) stays in `state`
// and is carried into the next call.  Returns 0.
int lzss_decode_step(LzssState* state, const uint8_t* input, int32_t* input_left, uint8_t* output,
                     int32_t* output_left);

// The same decode done strictly one byte per pass, as the format is defined;
// the reference the fast path is tested and measured against.
int lzss_decode_step_bytewise(LzssState* state, const uint8_t* input, int32_t* input_left,
                              uint8_t* output, int32_t* output_left);

enum LzssDecoder : int { kLzssFast, kLzssBytewise };

// Decodes `stored_size` bytes read from the current position of `input` into
// `buffer`, which must hold 9 * stored_size bytes.  Reads stop early at the end
// of the file or on a read error; what was decoded until then counts.  Returns
// the number of bytes written to `buffer` (0 for stored_size <= 0 or when the
// state cannot be allocated).
int64_t decode_stored_stream(std::FILE* input, int64_t stored_size, uint8_t* buffer,
                             LzssDecoder decoder = kLzssFast);

// Decodes a whole stored stream of `size` bytes held in memory at `input`
// into `buffer`, which must hold 9 * size bytes.  Returns the number of bytes
// written (0 for size <= 0 or when the state cannot be allocated).
int64_t decode_stored_buffer(const uint8_t* input, int64_t size, uint8_t* buffer);

// --- encoding ---------------------------------------------------------------
//
// In this format a literal costs 9 bits (its flag bit and the byte) and a
// reference 17, whatever its length and distance, and every prefix of a match
// of 3 or more bytes is a match too.  So the shortest stream for a given set
// of longest matches comes from dynamic programming from the end: the cost
// of the rest at each position is the cheaper of a literal and the best
// reference of any length from 3 to the longest match there.  References may
// reach into the initial all-zero window and overlap the bytes they produce.
//
// The longest match at every position is exact (the same length a search of
// every distance in the window finds), so the stream is the smallest the
// format allows.  It is found by binary trees in a few steps a position
// whatever the data, pictures of two or three colours included, and the
// search is split over the processors in pieces of at least 64 KiB; the
// stream does not depend on the split.  Working memory is about 5 bytes per
// input byte (the input behind the window, the longest match and its
// distance, the stream) plus under 1 MiB of tables per thread.

struct LzssEncodeOptions {
    // Nodes the match finder visits per position; 0 visits all it must to
    // find the longest match, which takes about log(4096) steps on any data.
    int candidates = 0;
    // Take the longest match at each position instead of the optimal parse
    // (the classic method, for comparison).
    bool greedy = false;
    // Threads that search for matches, each in a piece of at least 64 KiB;
    // 0: one per processor.  The stream is the same for any number.
    int threads = 0;
    // The size of the stream in bytes, for lzss_encode_into; 0: the smallest.
    // A stream of a literals and b references is ceil((9a + 17b) / 8) bytes,
    // so the smallest is made longer by parse choices alone (references
    // written as literals or shortened by a literal in front, a literal and
    // a reference after it split into two references): never by bytes that
    // decode to nothing.  Every size that some parse makes is reached: by
    // those steps from the smallest parse, and where they fall short (few
    // references: short or noisy data, sizes near all literals) by an exact
    // search over the number of references, which takes up to 16 MiB.  Past
    // that (data of tens of KiB whose steps fall short) a size is refused.
    uint64_t target_size = 0;
};

// Compresses `size` bytes into a stored stream.
std::vector<uint8_t> lzss_encode(const uint8_t* data, size_t size, LzssEncodeOptions options = {});

enum LzssEncodeResult : int {
    kLzssEncoded = 0,
    kLzssTooLarge = -1,    // even the smallest stream is longer than options.target_size
    kLzssUnreachable = -2, // no parse makes a stream of exactly options.target_size bytes
};

// Compresses `size` bytes into `*out`: a stream of options.target_size bytes
// when it is not 0.  On kLzssTooLarge and kLzssUnreachable `*out` is the
// smallest stream.
int lzss_encode_into(const uint8_t* data, size_t size, std::vector<uint8_t>* out,
                     LzssEncodeOptions options = {});

// Compresses `size` bytes into `*out` as lzss_encode_into does, keeping the
// items of the stream `old` (of `old_size` bytes) from its start up to the
// first that outputs a byte other than the data's: as many of those as leave
// a stream of options.target_size bytes (0: the smallest) for the rest.  When
// `old` decodes to the data itself, `*out` is `old`.  So an edited entry's
// stream stays byte for byte what it was before the first change.
int lzss_encode_after(const uint8_t* data, size_t size, const uint8_t* old, size_t old_size,
                      std::vector<uint8_t>* out, LzssEncodeOptions options = {});

// A near-lossless encoding: which bytes may become others, and at what cost.
struct LzssLossy {
    const float* cost;         // [a * 256 + b]: of the byte a where b was wanted (0 for a == b)
    const uint8_t* may_change; // per byte of the data: not 0 where it may become another
    size_t stride;             // the distance of the bytes above (a picture's width)
};

// Changes bytes of `data` that lossy.may_change allows so that the result,
// `*changed`, compresses into `target` bytes (lzss_encode_into): the bytes
// that references copy where copying them costs fewer bits plus a weight
// times lossy.cost, with the largest weight that fits.  Each such reference
// reads the data as it is, so no change carries on into other bytes.
// kLzssTooLarge when even changes of almost no weight do not make it fit.
int lzss_encode_lossy(const uint8_t* data, size_t size, const LzssLossy& lossy, uint64_t target,
                      std::vector<uint8_t>* changed);

inline std::vector<uint8_t> lzss_encode(const std::vector<uint8_t>& data,
                                        LzssEncodeOptions options = {}) {
    return lzss_encode(data.data(), data.size(), options);
}
