#include "listfile.h"

#include <cstring>

#include "files.h"
#include "messages.h"
#include "naming.h"
#include "report.h"

namespace {

constexpr size_t kLinePieceMax = 1023; // what a 1024-byte line buffer holds

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A cursor over one piece of a list line.
struct Scanner {
    const char* p;
    const char* end;

    void skip_space() {
        while (p < end && is_space(*p))
            p++;
    }

    // Like "%s": a run of characters up to the next white space.
    bool text(std::string& out) {
        skip_space();
        const char* start = p;
        while (p < end && !is_space(*p))
            p++;
        out.assign(start, p);
        return p > start;
    }

    // Like "%ld" with 64 bits: optional sign, then decimal digits.  Sets
    // `overflow` when the digits do not fit, and still consumes them all.
    bool number(int64_t& value, bool& overflow) {
        skip_space();
        const char* q = p;
        bool negative = q < end && *q == '-';
        if (q < end && (*q == '+' || *q == '-')) q++;
        if (q == end || !is_digit(*q)) return false;
        // Accumulate as a negative number, whose range includes INT64_MIN.
        int64_t acc = 0;
        for (; q < end && is_digit(*q); q++) {
            int digit = *q - '0';
            if (acc < (INT64_MIN + digit) / 10)
                overflow = true;
            else
                acc = acc * 10 - digit;
        }
        if (!negative) {
            if (acc == INT64_MIN)
                overflow = true;
            else
                acc = -acc;
        }
        value = acc;
        p = q;
        return true;
    }
};

} // namespace

int scan_list_line(const char* text, size_t length, ListLine& line) {
    Scanner scan{text, text + strnlen(text, length)};
    bool overflow = false;
    if (!scan.text(line.archive_name) || !scan.number(line.offset, overflow) ||
        !scan.number(line.stored_size, overflow) || !scan.text(line.entry_name))
        return kLineSkipped;
    return overflow ? kLineOverflow : kLineOk;
}

bool read_line_piece(std::FILE* file, std::string& piece) {
    piece.clear();
    while (piece.size() < kLinePieceMax) {
        int c = std::getc(file);
        if (c == EOF) break;
        if (c == '\r') {
            int next = std::getc(file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, file);
        }
        piece += static_cast<char>(c);
        if (c == '\n') break;
    }
    return !piece.empty();
}

bool open_list(const std::string& path, ListReader* reader) {
    reader->from_stdin = path == "-";
    reader->file = reader->from_stdin ? stdin : open_input(path.c_str(), kReadText);
    if (!reader->file) {
        report(MSG_CANT_OPEN_LIST, path.c_str());
        return false;
    }
    reader->id = file_id_of(reader->file);
    return true;
}

bool next_list_line(ListReader& reader, ListLine* line) {
    while (read_line_piece(reader.file, reader.piece)) {
        switch (scan_list_line(reader.piece.data(), reader.piece.size(), *line)) {
        case kLineOk:
            return true;
        case kLineOverflow:
            report(MSG_BAD_NUMBER, line->entry_name.c_str());
            break;
        default:
            break;
        }
    }
    if (!reader.from_stdin) std::fclose(reader.file);
    return false;
}
