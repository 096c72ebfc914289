#include "lzss.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstring>
#include <new>

namespace {

constexpr int kWindowMask = kLzssWindowSize - 1;

// The fast path decodes whole groups without per-byte checks while at least
// this much input and output room remain.  A group is at most 17 input bytes;
// literals are moved 8 at a time, so a group may read up to 24 bytes, and up
// to eight groups of eight literals (72 bytes) go by on one test.  An item
// starts at most 7 x 18 = 126 bytes into the group's output, and its stores
// reach at most 25 bytes past its start.
constexpr ptrdiff_t kFastInputMargin = 80;
constexpr ptrdiff_t kFastOutputMargin = 160;

uint64_t load8(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

void store8(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, 8);
}

// Cursors over one call's input and output.
struct Cursor {
    const uint8_t* in;
    const uint8_t* in_end;
    uint8_t* out;
    uint8_t* out_end;
    uint8_t* out_start; // earliest byte of this stream's output that is in memory
};

bool state_idle(const LzssState* s) {
    return s->copy_remaining == 0 && !s->have_pending_low && s->flag_bits_left == 0;
}

// Whether room for a whole group of the fast path remains from `in` and `out`.
bool group_room(const Cursor& c, const uint8_t* in, const uint8_t* out) {
    return c.in_end - in >= kFastInputMargin && c.out_end - out >= kFastOutputMargin;
}

// The format's own algorithm, one byte per pass.  With `yield_to_fast` it
// returns as soon as the state is idle at a group boundary with room enough
// for the fast path; otherwise it runs until the output allowance is used up
// or the input is, with nothing waiting.
void decode_bytewise(LzssState* s, Cursor& c, bool yield_to_fast) {
    uint8_t* window = s->window;
    while (c.out < c.out_end) {
        if (s->copy_remaining > 0) {
            *c.out++ = s->copy_buffer[s->copy_index++];
            s->copy_remaining--;
            continue;
        }
        if (yield_to_fast && s->flag_bits_left == 0 && !s->have_pending_low &&
            group_room(c, c.in, c.out))
            return;
        if (c.in == c.in_end) return;
        uint8_t byte = *c.in++;
        if (s->have_pending_low) {
            int position = s->pending_low | (byte >> 4) << 8;
            int length = (byte & 0x0F) + kLzssMinMatch;
            int source = (position + kLzssPositionBias) & kWindowMask;
            int w = s->write_index;
            for (int k = 0; k < length; k++) {
                uint8_t copied = window[source];
                s->copy_buffer[k] = copied;
                window[w] = copied;
                w = (w + 1) & kWindowMask;
                source = (source + 1) & kWindowMask;
            }
            s->write_index = w;
            s->copy_index = 0;
            s->copy_remaining = length;
            s->have_pending_low = 0;
        } else if (s->flag_bits_left > 0) {
            if (s->flags & 1) {
                *c.out++ = byte;
                window[s->write_index] = byte;
                s->write_index = (s->write_index + 1) & kWindowMask;
            } else {
                s->pending_low = byte;
                s->have_pending_low = 1;
            }
            s->flags >>= 1;
            s->flag_bits_left--;
        } else {
            s->flags = byte;
            s->flag_bits_left = 8;
        }
    }
}

// Copies a match with a period of 2 to 7 bytes that overlaps itself: its
// source lies `distance` bytes behind `out`, inside the output in memory.
// Stores may reach 25 bytes past `out`, beyond the match; the bytes there are
// rewritten later.
inline void copy_period(uint8_t* out, size_t distance, int length) {
    static constexpr uint8_t kIndex[8][8] = {{},
                                             {},
                                             {0, 1, 0, 1, 0, 1, 0, 1},
                                             {0, 1, 2, 0, 1, 2, 0, 1},
                                             {0, 1, 2, 3, 0, 1, 2, 3},
                                             {0, 1, 2, 3, 4, 0, 1, 2},
                                             {0, 1, 2, 3, 4, 5, 0, 1},
                                             {0, 1, 2, 3, 4, 5, 6, 0}};
    static constexpr uint8_t kStep[8] = {0, 0, 8, 6, 8, 5, 6, 7};
    const uint8_t* src = out - distance;
    const uint8_t* index = kIndex[distance];
    uint8_t pattern[8];
    for (int i = 0; i < 8; i++)
        pattern[i] = src[index[i]];
    const uint64_t v = load8(pattern);
    for (int i = 0; i < length; i += kStep[distance])
        store8(out + i, v);
}

// A match that reaches back before the output in memory: older bytes come
// from the window, which holds them until the fast path ends.
void copy_match_from_window(const LzssState* s, const Cursor& c, int source, size_t distance,
                            int length) {
    for (int k = 0; k < length; k++) {
        ptrdiff_t back = static_cast<ptrdiff_t>(distance) - k; // source byte's distance
        c.out[k] = back <= c.out - c.out_start ? c.out[k - static_cast<ptrdiff_t>(distance)]
                                               : s->window[(source + k) & kWindowMask];
    }
}

// Where the fast path stands.  The write index moves with the output, so it
// is kept as an offset from the output pointer: (out + write_bias) mod 4096 is
// the write index less 19, so that a reference's distance back from `out` is
// ((out + write_bias - position) mod 4096) + 1, from 1 to 4096.
struct Fast {
    const uint8_t* in;
    uint8_t* out;
    uintptr_t write_bias;
};

// When the next group is eight literals, outputs them and returns true.
[[gnu::always_inline]] inline bool another_literal_group(Fast& f) {
    if (*f.in != 0xFF) return false;
    store8(f.out, load8(f.in + 1));
    f.in += 9;
    f.out += 8;
    return true;
}

// The fast path's lookup tables, in one object so that one register
// addresses them all.
struct FastTables {
    // For d = min(distance, 8): the low d bytes of a word, the multiplier
    // that repeats those d bytes over the word (d = 8: the word as it is),
    // and the longest match of that distance that word moves copy; longer
    // ones overlap themselves and take the careful path.
    uint64_t low[9];
    uint64_t repeat[9];
    uint8_t overlap_limit[9];
    // What the second byte b1 of a reference gives: the top four bits of
    // the position, (b1 >> 4) * 256, and the length, (b1 & 15) + 3.
    uint16_t position_high[256];
    uint8_t length[256];
    // min(distance, 8) at index distance - 1.  Looked up rather than computed:
    // as a plain min the compiler may make it a branch of its own, which
    // mispredicts on pictures that mix near and far references.
    uint8_t near[kLzssWindowSize];
};

constexpr FastTables kTables = [] {
    FastTables t{};
    for (int d = 1; d <= 8; d++) {
        t.low[d] = d == 8 ? ~0ull : (1ull << (8 * d)) - 1;
        for (int at = 0; at < 64; at += 8 * d)
            t.repeat[d] |= 1ull << at;
        t.overlap_limit[d] = d == 8 ? kLzssMaxMatch : 8;
    }
    for (int b1 = 0; b1 < 256; b1++) {
        t.position_high[b1] = static_cast<uint16_t>((b1 >> 4) << 8);
        t.length[b1] = static_cast<uint8_t>((b1 & 0x0F) + kLzssMinMatch);
    }
    for (int i = 0; i < kLzssWindowSize; i++)
        t.near[i] = static_cast<uint8_t>(std::min(i + 1, 8));
    return t;
}();

// After a run (a reference of distance 1) more references of distance 1 often
// follow, each repeating the same byte, which `run` holds 8 times over.  They
// are output here with a cheaper test than a full decode, and across group
// boundaries while room remains.  `z` tells the items left in the group (see
// decode_groups); the result is that of the first item that is not such a
// reference.
inline unsigned continue_run(const Cursor& c, Fast& f, unsigned z, uint64_t run) {
    for (;;) {
        if (z == 1) {
            if (!group_room(c, f.in, f.out)) return 1;
            z = (~*f.in++ & 0xFF) | 0x100;
        }
        if (!(z & 1)) return z;
        // Distance 1 means a position equal to the write index less 19.
        const unsigned item = f.in[0] | f.in[1] << 8;
        const unsigned at = (reinterpret_cast<uintptr_t>(f.out) + f.write_bias) & kWindowMask;
        if ((item & 0xF0FF) != ((at & 0xFF) | (at >> 8) << 12)) return z;
        store8(f.out, run);
        store8(f.out + 8, run);
        store8(f.out + 16, run);
        f.out += kTables.length[item >> 8];
        f.in += 2;
        z >>= 1;
    }
}

// One reference, the first item that `z` tells; returns `z` for the items
// after it.  With kFullHistory the 4096 bytes before `out` are in memory, so
// no reference can reach past them.
template <bool kFullHistory>
[[gnu::always_inline]] inline unsigned fast_reference(LzssState* s, const Cursor& c, Fast& f,
                                                      unsigned z) {
    const unsigned b0 = f.in[0], b1 = f.in[1];
    const size_t distance =
        ((reinterpret_cast<uintptr_t>(f.out) + f.write_bias - b0 - kTables.position_high[b1]) &
         kWindowMask) +
        1;
    const size_t length = kTables.length[b1];
    const size_t in_memory = static_cast<size_t>(f.out - c.out_start);
    // The first 8 bytes are the low `distance` bytes behind `out` repeated:
    // masking and multiplying by a repeat constant makes that pattern for
    // distances under 8 and leaves longer ones as loaded.  A long overlap, a
    // distance under 8 with a length over 8, is one compare against a
    // per-distance limit, so that it costs a single, rarely taken branch.
    const size_t d = kTables.near[distance - 1];
    const bool long_overlap = length > kTables.overlap_limit[d];
    if (__builtin_expect(long_overlap || (!kFullHistory && distance > in_memory), 0)) {
        if (distance == 1 && (kFullHistory || in_memory > 0)) {
            const uint64_t run = f.out[-1] * 0x0101010101010101ull;
            store8(f.out, run);
            store8(f.out + 8, run);
            store8(f.out + 16, run);
            f.in += 2;
            f.out += length;
            return continue_run(c, f, z >> 1, run);
        }
        if (kFullHistory || distance <= in_memory) {
            copy_period(f.out, distance, static_cast<int>(length));
        } else {
            Cursor at = c;
            at.out = f.out;
            copy_match_from_window(
                s, at, (b0 + kTables.position_high[b1] + kLzssPositionBias) & kWindowMask, distance,
                static_cast<int>(length));
        }
    } else {
        const uint8_t* from = f.out - distance;
        store8(f.out, (load8(from) & kTables.low[d]) * kTables.repeat[d]);
        store8(f.out + 8, load8(from + 8));
        if (length > 16) store8(f.out + 16, load8(from + 16));
    }
    f.in += 2;
    f.out += length;
    return z >> 1;
}

// A group of eight references, item kItem onwards; a run may hand over to
// continue_run, and then what is left is returned as in fast_reference.
template <int kItem, bool kFullHistory>
[[gnu::always_inline]] inline unsigned all_references(LzssState* s, const Cursor& c, Fast& f) {
    if constexpr (kItem == 8) {
        return 1;
    } else {
        const unsigned z = fast_reference<kFullHistory>(s, c, f, 0x1FFu >> kItem);
        if (z != 0x1FFu >> (kItem + 1)) return z;
        return all_references<kItem + 1, kFullHistory>(s, c, f);
    }
}

// Decodes whole groups straight into the output while room remains.
// Returns with `c` advanced and the write index moved on; the window is not
// updated.
template <bool kFullHistory> void decode_groups(LzssState* s, Cursor& c) {
    Fast f{c.in, c.out,
           static_cast<uintptr_t>(s->write_index - kLzssPositionBias - 1) -
               reinterpret_cast<uintptr_t>(c.out)};
    while (group_room(c, f.in, f.out)) {
        const unsigned flags = *f.in++;
        if (flags == 0xFF) {
            // Eight literals; up to seven more such groups follow within the
            // margins, tested without going round the loop.
            store8(f.out, load8(f.in));
            f.in += 8;
            f.out += 8;
            if (another_literal_group(f) && another_literal_group(f) && another_literal_group(f) &&
                another_literal_group(f) && another_literal_group(f) && another_literal_group(f))
                another_literal_group(f);
            continue;
        }
        // Bit k of z: item k is a reference; bit 8 marks the group's end.
        unsigned z = (~flags & 0xFF) | 0x100;
        if (flags == 0) {
            z = all_references<0, kFullHistory>(s, c, f);
            if (z == 1) continue;
        }
        for (;;) {
            // Literals up to the next reference (z is never 0).
            const size_t run = static_cast<size_t>(__builtin_ctzll(z));
            store8(f.out, load8(f.in));
            f.in += run;
            f.out += run;
            z >>= run;
            if (z == 1) break;
            z = fast_reference<kFullHistory>(s, c, f, z);
        }
    }
    s->write_index = static_cast<int32_t>((s->write_index + (f.out - c.out)) & kWindowMask);
    c.in = f.in;
    c.out = f.out;
}

// Whole groups while room remains, straight into the output.
void decode_fast(LzssState* s, Cursor& c) {
    if (c.out - c.out_start >= kLzssWindowSize)
        decode_groups<true>(s, c);
    else
        decode_groups<false>(s, c);
}

// Stores the newest output in memory, up to 4096 bytes ending at `c.out`,
// into the window, so that the bytewise path can resume after the fast one.
void store_window(LzssState* s, const Cursor& c) {
    const size_t keep = std::min<size_t>(static_cast<size_t>(c.out - c.out_start), kLzssWindowSize);
    const size_t at = (static_cast<size_t>(s->write_index) - keep) & kWindowMask;
    const size_t first = std::min(keep, kLzssWindowSize - at);
    std::memcpy(s->window + at, c.out - keep, first);
    std::memcpy(s->window, c.out - keep + first, keep - first);
}

// `history` bytes in front of `output` are this stream's latest output, which
// matches may read there instead of in the window.
template <bool kFast>
int decode_step(LzssState* s, const uint8_t* input, int32_t* input_left, uint8_t* output,
                int32_t* output_left, size_t history = 0) {
    Cursor c{input, input + std::max(*input_left, 0), output, output + std::max(*output_left, 0),
             output - history};
    for (;;) {
        if (kFast && state_idle(s) && group_room(c, c.in, c.out)) {
            decode_fast(s, c);
            store_window(s, c);
        }
        decode_bytewise(s, c, kFast);
        if (!kFast || !state_idle(s) || !group_room(c, c.in, c.out)) break;
    }
    *input_left -= static_cast<int32_t>(c.in - input);
    *output_left -= static_cast<int32_t>(c.out - output);
    return 0;
}

// Reads up to `want` bytes; fewer only at the end of the file or on an error.
size_t read_chunk(std::FILE* input, uint8_t* into, int64_t want) {
    return want > 0 ? std::fread(into, 1, static_cast<size_t>(want), input) : 0;
}

// The bytewise reference: one lzss_decode_step_bytewise call per chunk.
int64_t decode_stored_bytewise(std::FILE* input, int64_t stored_size, uint8_t* buffer,
                               LzssState* state) {
    uint8_t chunk[kLzssChunkSize];
    int64_t total = 0;
    int64_t remaining = stored_size;
    while (remaining > 0) {
        const int64_t want = std::min<int64_t>(remaining, kLzssChunkSize);
        const size_t got = read_chunk(input, chunk, want);
        if (got == 0) break;
        remaining -= static_cast<int64_t>(got);
        int32_t in_left = static_cast<int32_t>(got);
        const int32_t allowance =
            static_cast<int32_t>(std::min<int64_t>(9 * stored_size - total, INT32_MAX));
        int32_t out_left = allowance;
        lzss_decode_step_bytewise(state, chunk, &in_left, buffer + total, &out_left);
        total += allowance - out_left;
        if (static_cast<int64_t>(got) < want) break;
    }
    return total;
}

// The fast decode.  While more chunks follow, only whole groups are decoded,
// reading references from the output; the few bytes of an unfinished group
// are moved in front of the next chunk, so the state stays idle and the
// window is not needed.  The last chunk ends with the window filled in and
// the careful path.
int64_t decode_stored_fast(std::FILE* input, int64_t stored_size, uint8_t* buffer,
                           LzssState* state) {
    uint8_t chunk[kFastInputMargin + kLzssChunkSize];
    uint8_t* const buffer_end = buffer + 9 * stored_size;
    Cursor c{chunk, chunk, buffer, buffer_end, buffer};
    size_t carried = 0;
    int64_t remaining = stored_size;
    for (;;) {
        const int64_t want = std::min<int64_t>(remaining, kLzssChunkSize);
        const size_t got = read_chunk(input, chunk + carried, want);
        remaining -= static_cast<int64_t>(got);
        c.in = chunk;
        c.in_end = chunk + carried + got;
        if (static_cast<int64_t>(got) < want || remaining == 0) break;
        decode_fast(state, c);
        // The fast path stops for want of input, never of output room (the
        // buffer holds nine bytes per byte not yet read), so fewer than
        // kFastInputMargin bytes are left over.
        carried = static_cast<size_t>(c.in_end - c.in);
        std::memmove(chunk, c.in, carried);
    }
    store_window(state, c);
    // Every prefix of a stream yields fewer than nine bytes per input byte, so
    // the rest of the buffer takes the whole output.
    const int64_t written = c.out - buffer;
    int32_t in_left = static_cast<int32_t>(c.in_end - c.in);
    int32_t out_left = static_cast<int32_t>(std::min<int64_t>(buffer_end - c.out, INT32_MAX));
    const int32_t allowance = out_left;
    decode_step<true>(state, c.in, &in_left, c.out, &out_left,
                      static_cast<size_t>(std::min<int64_t>(written, kLzssWindowSize)));
    return written + allowance - out_left;
}

} // namespace

LzssState* lzss_state_create() {
    LzssState* state = new (std::nothrow) LzssState;
    if (state) std::memset(state, 0, sizeof *state);
    return state;
}

void lzss_state_free(LzssState* state) {
    delete state;
}

int lzss_decode_step(LzssState* s, const uint8_t* input, int32_t* input_left, uint8_t* output,
                     int32_t* output_left) {
    return decode_step<true>(s, input, input_left, output, output_left);
}

int lzss_decode_step_bytewise(LzssState* s, const uint8_t* input, int32_t* input_left,
                              uint8_t* output, int32_t* output_left) {
    return decode_step<false>(s, input, input_left, output, output_left);
}

int64_t decode_stored_stream(std::FILE* input, int64_t stored_size, uint8_t* buffer,
                             LzssDecoder decoder) {
    if (stored_size <= 0 || stored_size > INT64_MAX / 9) return 0;
    LzssState* state = lzss_state_create();
    if (!state) return 0;
    const int64_t total = decoder == kLzssFast
                              ? decode_stored_fast(input, stored_size, buffer, state)
                              : decode_stored_bytewise(input, stored_size, buffer, state);
    lzss_state_free(state);
    return total;
}

int64_t decode_stored_buffer(const uint8_t* input, int64_t size, uint8_t* buffer) {
    if (size <= 0 || size > INT64_MAX / 9) return 0;
    LzssState* state = lzss_state_create();
    if (!state) return 0;
    // Pieces small enough that nine bytes per byte, plus what a reference
    // carries over, fit one call's allowance: each call uses up its piece.
    constexpr int64_t kPiece = int64_t{1} << 27;
    int64_t total = 0;
    for (int64_t done = 0; done < size; done += kPiece) {
        int32_t in_left = static_cast<int32_t>(std::min(size - done, kPiece));
        const int32_t allowance =
            static_cast<int32_t>(std::min<int64_t>(9 * size - total, INT32_MAX));
        int32_t out_left = allowance;
        lzss_decode_step(state, input + done, &in_left, buffer + total, &out_left);
        total += allowance - out_left;
    }
    lzss_state_free(state);
    return total;
}
