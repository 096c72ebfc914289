// Arbitrary bytes through the encoder and back through the decoder
// (fast and bytewise, from a file in 16 KiB chunks) must come back unchanged.
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
    return 0;
}
