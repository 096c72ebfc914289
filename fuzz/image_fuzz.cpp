// Arbitrary bytes taken as a KZP file through convert_stream.  The outcome is
// either a refusal with nothing written, or the BMP file of the tests' own
// model of the format: size field equal to the length, pixel offset 1078,
// rows padded to four bytes, every pixel byte from inside the decoded bytes.
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "bmp/bmp.h"
#include "convert.h"
#include "lzss/lzss.h"
#include "tests/test_util.h"

namespace {

uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// Whether the writer must refuse a decoded image: its layout does not fit
// inside the decoded bytes.
bool must_refuse(const std::vector<uint8_t>& d) {
    if (d.size() < 1032) return true;
    const int32_t w = static_cast<int32_t>(le32(&d[d.size() - 8]));
    const int32_t h = static_cast<int32_t>(le32(&d[d.size() - 4]));
    return h > 0 && (w < 0 || int64_t{w} * h > static_cast<int64_t>(d.size()) - 1032);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A file with a descriptor, so that its size can be asked as quorbin does.
    int fd = memfd_create("kzp", 0);
    if (fd < 0) return 0;
    if (size && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    std::FILE* input = fdopen(fd, "rb");
    std::rewind(input);
    char* written = nullptr;
    size_t written_size = 0;
    std::FILE* output = open_memstream(&written, &written_size);
    const int result = convert_stream(output, input, static_cast<int64_t>(size));
    std::fclose(output);

    std::rewind(input);
    std::vector<uint8_t> decoded(9 * size + 1);
    decoded.resize(static_cast<size_t>(
        decode_stored_stream(input, static_cast<int64_t>(size), decoded.data(), kLzssBytewise)));
    std::fclose(input);
    const bool refused = !decoded.empty() && must_refuse(decoded);
    const std::string expected = decoded.empty() || refused ? "" : expected_bmp(decoded);
    if (result != (refused ? kConvertBroken : kConvertOk)) std::abort();
    if (std::string(written, written_size) != expected) std::abort();
    if (!expected.empty() && le32(reinterpret_cast<const uint8_t*>(written) + 2) != written_size)
        std::abort();
    std::free(written);
    return 0;
}
