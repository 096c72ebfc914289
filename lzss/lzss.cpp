#include "lzss.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

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
    int32_t in_left = *input_left;
    int32_t out_left = *output_left;
    uint8_t* window = s->window;
    while (out_left > 0) {
        if (s->copy_remaining > 0) {
            *output++ = s->copy_buffer[s->copy_index++];
            s->copy_remaining--;
            out_left--;
            continue;
        }
        if (in_left <= 0) break;
        uint8_t byte = *input++;
        in_left--;
        if (s->have_pending_low) {
            int position = s->pending_low | (byte >> 4) << 8;
            int length = (byte & 0x0F) + kLzssMinMatch;
            int source = (position + kLzssPositionBias) & (kLzssWindowSize - 1);
            int w = s->write_index;
            for (int k = 0; k < length; k++) {
                uint8_t copied = window[source];
                s->copy_buffer[k] = copied;
                window[w] = copied;
                w = (w + 1) & (kLzssWindowSize - 1);
                source = (source + 1) & (kLzssWindowSize - 1);
            }
            s->write_index = w;
            s->copy_index = 0;
            s->copy_remaining = length;
            s->have_pending_low = 0;
        } else if (s->flag_bits_left > 0) {
            if (s->flags & 1) {
                *output++ = byte;
                window[s->write_index] = byte;
                s->write_index = (s->write_index + 1) & (kLzssWindowSize - 1);
                out_left--;
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
    *input_left = in_left;
    *output_left = out_left;
    return 0;
}

int64_t decode_stored_stream(std::FILE* input, int64_t stored_size, uint8_t* buffer) {
    if (stored_size <= 0 || stored_size > INT64_MAX / 9) return 0;
    LzssState* state = lzss_state_create();
    if (!state) return 0;
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
        lzss_decode_step(state, chunk, &in_left, buffer + total, &out_left);
        total += allowance - out_left;
        if (got < want) break;
    }
    lzss_state_free(state);
    return total;
}
