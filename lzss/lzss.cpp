#include "lzss.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstring>
#include <new>

namespace {

constexpr int kWindowMask = kLzssWindowSize - 1;

// The fast path decodes whole groups without per-byte checks while at least
// this much input and output room remain.  A group is at most 17 input bytes;
// literals are moved 8 at a time, so a group may read up to 24 bytes.  An
// item starts at most 7 x 18 = 126 bytes into the group's output, and its
// stores reach at most 25 bytes past its start.
constexpr ptrdiff_t kFastInputMargin = 48;
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
    uint8_t* out_start; // first byte output by this call
};

bool state_idle(const LzssState* s) {
    return s->copy_remaining == 0 && !s->have_pending_low && s->flag_bits_left == 0;
}

bool fast_room(const Cursor& c) {
    return c.in_end - c.in >= kFastInputMargin && c.out_end - c.out >= kFastOutputMargin;
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
        if (yield_to_fast && s->flag_bits_left == 0 && !s->have_pending_low && fast_room(c)) return;
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

// Copies a match of `length` bytes whose source lies `distance` bytes behind
// `out`, entirely inside this call's output.  Stores may reach 25 bytes past
// `out`, beyond the match; the bytes there are rewritten later.
inline void copy_match(uint8_t* out, size_t distance, int length) {
    const uint8_t* src = out - distance;
    if (distance >= 8) {
        store8(out, load8(src));
        store8(out + 8, load8(src + 8));
        if (length > 16) store8(out + 16, load8(src + 16));
    } else if (distance == 1) {
        // A run: fill from a register rather than reload bytes just stored.
        uint64_t run = src[0] * 0x0101010101010101ull;
        store8(out, run);
        store8(out + 8, run);
        store8(out + 16, run);
    } else {
        // Period 2..7: repeat the pattern, stepping by whole periods.
        uint8_t pattern[8];
        for (size_t i = 0; i < 8; i++)
            pattern[i] = src[i % distance];
        uint64_t v = load8(pattern);
        size_t step = 8 - 8 % distance;
        for (size_t i = 0; i < static_cast<size_t>(length); i += step)
            store8(out + i, v);
    }
}

// A match that reaches back before this call's output: bytes older than the
// call come from the window, which holds them until the fast path ends.
void copy_match_from_window(const LzssState* s, const Cursor& c, int source, size_t distance,
                            int length) {
    for (int k = 0; k < length; k++) {
        ptrdiff_t back = static_cast<ptrdiff_t>(distance) - k; // source byte's distance
        c.out[k] = back <= c.out - c.out_start ? c.out[k - static_cast<ptrdiff_t>(distance)]
                                               : s->window[(source + k) & kWindowMask];
    }
}

// Decodes whole groups straight into the output while room remains, then
// stores the newest output into the window so the bytewise path can resume.
void decode_fast(LzssState* s, Cursor& c) {
    const uint8_t* in = c.in;
    uint8_t* out = c.out;
    uint8_t* const fast_start = out;
    const int w0 = s->write_index;
    while (c.in_end - in >= kFastInputMargin && c.out_end - out >= kFastOutputMargin) {
        unsigned flags = *in++;
        if (flags == 0xFF) {
            store8(out, load8(in));
            in += 8;
            out += 8;
            continue;
        }
        int items = 8;
        for (;;) {
            int literals = std::min(std::countr_one(flags), items);
            if (literals > 0) {
                store8(out, load8(in)); // a run of literals in one move
                in += literals;
                out += literals;
                flags >>= literals;
                items -= literals;
                if (items == 0) break;
            }
            int position = in[0] | (in[1] >> 4) << 8;
            int length = (in[1] & 0x0F) + kLzssMinMatch;
            in += 2;
            int source = (position + kLzssPositionBias) & kWindowMask;
            int write = (w0 + static_cast<int>(out - fast_start)) & kWindowMask;
            size_t distance = static_cast<size_t>(((write - source - 1) & kWindowMask) + 1);
            if (distance <= static_cast<size_t>(out - c.out_start)) {
                copy_match(out, distance, length);
            } else {
                Cursor at = c;
                at.out = out;
                copy_match_from_window(s, at, source, distance, length);
            }
            out += length;
            flags >>= 1;
            if (--items == 0) break;
        }
    }
    // The window must end up as if every byte had passed through it.
    size_t produced = static_cast<size_t>(out - fast_start);
    size_t keep = std::min<size_t>(produced, kLzssWindowSize);
    size_t at = (static_cast<size_t>(w0) + produced - keep) & kWindowMask;
    size_t first = std::min(keep, kLzssWindowSize - at);
    std::memcpy(s->window + at, out - keep, first);
    std::memcpy(s->window, out - keep + first, keep - first);
    s->write_index = static_cast<int32_t>((static_cast<size_t>(w0) + produced) & kWindowMask);
    c.in = in;
    c.out = out;
}

template <bool kFast>
int decode_step(LzssState* s, const uint8_t* input, int32_t* input_left, uint8_t* output,
                int32_t* output_left) {
    Cursor c{input, input + std::max(*input_left, 0), output, output + std::max(*output_left, 0),
             output};
    for (;;) {
        if (kFast && state_idle(s) && fast_room(c)) decode_fast(s, c);
        decode_bytewise(s, c, kFast);
        if (!kFast || !state_idle(s) || !fast_room(c)) break;
    }
    *input_left -= static_cast<int32_t>(c.in - input);
    *output_left -= static_cast<int32_t>(c.out - output);
    return 0;
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
    auto step = decoder == kLzssBytewise ? lzss_decode_step_bytewise : lzss_decode_step;
    uint8_t chunk[kLzssChunkSize];
    const int64_t capacity = 9 * stored_size;
    int64_t total = 0;
    int64_t remaining = stored_size;
    while (remaining > 0) {
        size_t want = static_cast<size_t>(std::min<int64_t>(remaining, kLzssChunkSize));
        size_t got = std::fread(chunk, 1, want, input);
        if (got == 0) break;
        remaining -= static_cast<int64_t>(got);
        // Every prefix of a stream yields fewer than nine bytes per input byte,
        // so the rest of the buffer always takes the whole chunk's output and
        // the chunk is used up in one call.
        int32_t in_left = static_cast<int32_t>(got);
        int32_t allowance = static_cast<int32_t>(std::min<int64_t>(capacity - total, INT32_MAX));
        int32_t out_left = allowance;
        step(state, chunk, &in_left, buffer + total, &out_left);
        total += allowance - out_left;
        if (got < want) break;
    }
    lzss_state_free(state);
    return total;
}
