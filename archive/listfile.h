// List files: every line locates a KZP image inside an archive file
// (archive name, byte offset, stored size, entry name).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "host.h"

struct ListLine {
    std::string archive_name;
    int64_t offset;
    int64_t stored_size;
    std::string entry_name;
};

enum ScanResult : int {
    kLineOk = 0,
    kLineSkipped = -1, // fewer than four fields
    kLineOverflow = -2 // four fields, but a number too large for 64 bits
};

// Scans one piece of a list line like "%s%ld%ld%s" with 64-bit numbers; the
// scan stops at the first NUL byte.  On kLineOverflow `line.entry_name` is set.
int scan_list_line(const char* text, size_t length, ListLine& line);

// Reads the next piece of a line from `file` into `piece` like fgets with a
// 1024-byte buffer: at most 1023 bytes, the line feed included when it fits.
// A carriage return followed by a line feed reads as one line feed.  False at
// the end of the input.
bool read_line_piece(std::FILE* file, std::string& piece);

// A list file being read, a line at a time.
struct ListReader {
    std::FILE* file;
    bool from_stdin;
    FileId id;
    std::string piece;
};

// Opens the list file at `path` ("-": standard input); reports when it
// cannot, and returns false then.
bool open_list(const std::string& path, ListReader* reader);

// The next line of four fields; lines whose numbers do not fit in 64 bits
// are reported and skipped, lines of fewer fields skipped silently.  False
// at the end of the list, which is then closed (unless it is standard input).
bool next_list_line(ListReader& reader, ListLine* line);
