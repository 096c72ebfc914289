// Arbitrary bytes through the encoder and back through the decoder
// (fast and bytewise, from a file in 16 KiB chunks) must come back unchanged;
// the same bytes with one changed, encoded after that stream into a size
// near its own, decode to those bytes, and unchanged ones give the stream.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzss/lzss.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks how hard the encoder searches, and the parse.
    const LzssEncodeOptions options{size > 0 ? data[0] % 64 : 1, size > 0 && data[0] >= 128};
    const std::vector<uint8_t> stream = lzss_encode(data, size, options);
    std::FILE* file = std::tmpfile();
    if (!file) return 0;
    std::fwrite(stream.data(), 1, stream.size(), file);
    for (LzssDecoder decoder : {kLzssFast, kLzssBytewise}) {
        std::rewind(file);
        std::vector<uint8_t> out(9 * stream.size() + 1);
        int64_t n =
            decode_stored_stream(file, static_cast<int64_t>(stream.size()), out.data(), decoder);
        if (n != static_cast<int64_t>(size) || (size && std::memcmp(out.data(), data, size) != 0))
            std::abort();
    }
    std::fclose(file);
    std::vector<uint8_t> after, edit(data, data + size), out(9 * stream.size() + 80);
    LzssEncodeOptions sized;
    sized.target_size = stream.size() + (size > 1 ? data[1] % 8 : 0);
    if (lzss_encode_after(data, size, stream.data(), stream.size(), &after, sized) !=
            kLzssEncoded ||
        after != stream)
        if (sized.target_size == stream.size()) std::abort();
    if (size == 0) return 0;
    edit[data[0] % size] ^= 0x55;
    if (lzss_encode_after(edit.data(), size, stream.data(), stream.size(), &after, sized) ==
            kLzssEncoded &&
        (after.size() != sized.target_size ||
         decode_stored_buffer(after.data(), static_cast<int64_t>(after.size()), out.data()) !=
             static_cast<int64_t>(size) ||
         std::memcmp(out.data(), edit.data(), size) != 0))
        std::abort();
    return 0;
}
