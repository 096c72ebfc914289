// Arbitrary bytes taken as a KZP file through convert_stream.  The outcome is
// either a refusal with nothing written, or a BMP file exactly as the decoded
// layout prescribes: size field equal to the length, pixel offset 1078, rows
// padded to four bytes, every pixel byte taken from inside the decoded bytes.
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "bmp/bmp.h"
#include "lzss/lzss.h"
#include "quorbin.h"

namespace {

uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

void put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; i++)
        s += static_cast<char>(v >> (8 * i));
}

// The BMP for a decoded image, built field by field, or "" when the layout
// does not fit inside the decoded bytes.
std::string expected_file(const std::vector<uint8_t>& d, bool& refused) {
    refused = false;
    if (d.empty()) return "";
    const int64_t n = static_cast<int64_t>(d.size());
    if (n < 1032) return refused = true, "";
    const int32_t w = static_cast<int32_t>(le32(&d[d.size() - 8]));
    const int32_t h = static_cast<int32_t>(le32(&d[d.size() - 4]));
    if (h > 0 && (w < 0 || int64_t{w} * h > n - 1032)) return refused = true, "";
    const int64_t rows = h > 0 ? h : 0, row = (int64_t{w} + 3) / 4 * 4;
    const int64_t rows_with_bytes = row > 0 ? rows : 0;
    std::string bmp = "BM";
    put32(bmp, static_cast<uint32_t>(1078 + rows * row));
    put32(bmp, 0), put32(bmp, 1078), put32(bmp, 40), put32(bmp, static_cast<uint32_t>(w));
    put32(bmp, static_cast<uint32_t>(h));
    bmp += std::string("\1\0\10\0", 4) + std::string(24, '\0');
    const uint8_t* palette = &d[d.size() - 1032];
    for (int i = 0; i < 256; i++)
        bmp += {char(palette[4 * i + 2]), char(palette[4 * i + 1]), char(palette[4 * i]), '\0'};
    for (int64_t r = rows_with_bytes - 1; r >= 0; r--) {
        const uint8_t* src = palette - rows * w + r * w;
        bmp.append(reinterpret_cast<const char*>(src), static_cast<size_t>(w));
        bmp.append(static_cast<size_t>(row - w), '\0');
    }
    return bmp;
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
    bool refused;
    const std::string expected = expected_file(decoded, refused);
    if (result != (refused ? kConvertBroken : kConvertOk)) std::abort();
    if (std::string(written, written_size) != expected) std::abort();
    if (!expected.empty() && le32(reinterpret_cast<const uint8_t*>(written) + 2) != written_size)
        std::abort();
    std::free(written);
    return 0;
}
