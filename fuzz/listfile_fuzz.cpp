// Arbitrary text through the list-file reader and line scanner.  Pieces hold at
// most 1023 bytes, end at a line feed, and put the text back together (with
// CR LF read as LF); every piece scans exactly as sscanf "%s%ld%ld%s" would,
// except that a number too large for 64 bits is reported instead of clamped.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "listfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::FILE* file = fmemopen(text.data(), text.size(), "rb");
    if (!file) return 0; // fmemopen refuses an empty buffer on some hosts
    std::string joined, piece;
    while (read_line_piece(file, piece)) {
        if (piece.size() > 1023) std::abort();
        if (piece.back() != '\n' && piece.size() != 1023 && std::fgetc(file) != EOF) std::abort();
        joined += piece;

        ListLine line;
        const int result = scan_list_line(piece.data(), piece.size(), line);
        std::string archive(piece.size() + 1, '\0'), entry(piece.size() + 1, '\0');
        long offset = 0, stored = 0;
        errno = 0;
        const std::string c_text(piece.c_str()); // sscanf stops at a NUL byte too
        const int fields = std::sscanf(c_text.c_str(), "%s%ld%ld%s", archive.data(), &offset,
                                       &stored, entry.data());
        const bool clamped = errno == ERANGE;
        archive.resize(std::strlen(archive.c_str()));
        entry.resize(std::strlen(entry.c_str()));
        if (result == kLineSkipped) {
            if (fields == 4) std::abort();
        } else {
            if (fields != 4 || line.archive_name != archive || line.entry_name != entry)
                std::abort();
            if (result == kLineOverflow && !clamped) std::abort();
            if (result == kLineOk &&
                (clamped || line.offset != offset || line.stored_size != stored))
                std::abort();
        }
    }
    std::fclose(file);
    std::string crlf_as_lf;
    for (size_t i = 0; i < text.size(); i++)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) crlf_as_lf += text[i];
    if (joined != crlf_as_lf) std::abort();
    return 0;
}
