// The decoder fed arbitrary bytes in pieces of arbitrary sizes with arbitrary
// output allowances.  Every piece and every allowance lives in a heap block of
// exactly its size, so AddressSanitizer catches any read or write outside it.
// The result must equal the one-shot bytewise decode, which must itself stay
// under nine output bytes per input byte and use up all of its input; so must
// the decode of the same bytes from a file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzss/lzss.h"

namespace {

std::vector<uint8_t> one_shot(const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> out(9 * stream.size());
    LzssState* state = lzss_state_create();
    int32_t in_left = static_cast<int32_t>(stream.size());
    int32_t out_left = static_cast<int32_t>(out.size());
    lzss_decode_step_bytewise(state, stream.data(), &in_left, out.data(), &out_left);
    lzss_state_free(state);
    if (in_left != 0) std::abort(); // the allowance ran out before the input
    out.resize(out.size() - static_cast<size_t>(out_left));
    if (!stream.empty() && out.size() >= 9 * stream.size()) std::abort();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fuzz(data, size);
    const size_t max_piece = fuzz.ConsumeIntegralInRange<size_t>(1, 20000);
    const int32_t max_allowance = fuzz.ConsumeIntegralInRange<int32_t>(1, 5000);
    const bool bytewise = fuzz.ConsumeBool();
    const uint32_t seed = fuzz.ConsumeIntegral<uint32_t>();
    const std::vector<uint8_t> stream = fuzz.ConsumeRemainingBytes<uint8_t>();
    const std::vector<uint8_t> expected = one_shot(stream);

    uint64_t rng = seed | 1;
    auto next = [&rng](uint64_t bound) {
        rng ^= rng << 13, rng ^= rng >> 7, rng ^= rng << 17;
        return rng % bound;
    };
    LzssState* state = lzss_state_create();
    auto step = bytewise ? lzss_decode_step_bytewise : lzss_decode_step;
    std::vector<uint8_t> got;
    size_t pos = 0;
    bool last = false;
    while (!last) {
        const size_t piece = std::min<size_t>(next(max_piece) + 1, stream.size() - pos);
        last = piece == 0;
        uint8_t* chunk = static_cast<uint8_t*>(std::malloc(piece + 1));
        if (piece) std::memcpy(chunk, stream.data() + pos, piece);
        int32_t in_left = static_cast<int32_t>(piece);
        for (;;) {
            const int32_t allowance = static_cast<int32_t>(next(max_allowance)) + 1;
            uint8_t* room = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(allowance)));
            int32_t out_left = allowance;
            step(state, chunk + (piece - static_cast<size_t>(in_left)), &in_left, room, &out_left);
            if (out_left < 0 || out_left > allowance || in_left < 0) std::abort();
            got.insert(got.end(), room, room + (allowance - out_left));
            std::free(room);
            if (in_left == 0 && out_left > 0) break;
            if (got.size() > expected.size()) std::abort();
        }
        std::free(chunk);
        pos += piece;
    }
    lzss_state_free(state);
    if (got != expected) std::abort();

    // Through a file, in chunks, as the converter decodes; a stored size past
    // the end of the file stops there.
    std::FILE* file = std::tmpfile();
    if (!file) return 0;
    if (!stream.empty()) std::fwrite(stream.data(), 1, stream.size(), file);
    std::rewind(file);
    const int64_t stored = static_cast<int64_t>(stream.size()) + (seed & 1 ? 100 : 0);
    std::vector<uint8_t> whole(9 * static_cast<size_t>(stored));
    const int64_t n = decode_stored_stream(file, stored, whole.data());
    std::fclose(file);
    if (n != static_cast<int64_t>(expected.size()) ||
        (n > 0 && std::memcmp(whole.data(), expected.data(), expected.size()) != 0))
        std::abort();
    return 0;
}
