// The few things quorbin needs from the host's file API beyond standard C++:
// telling directories from files, file identity, 64-bit seeks, and creating an
// output without truncating the file it would replace before it is checked.
#pragma once

#include <cstdint>
#include <cstdio>

// Identity of an open file (device and inode on POSIX hosts).
struct FileId {
    uint64_t device;
    uint64_t inode;
    bool known; // false when the host could not tell
};

FileId file_id_of(std::FILE* file);

// How an input is read: in large blocks of its own (no stdio buffer needed)
// or in small pieces, such as a list file read a byte at a time.
enum InputUse : int { kReadBlocks, kReadText };

// Opens an existing file for reading (binary and text are the same on POSIX
// hosts).  A directory is refused as if it did not exist.  nullptr on failure.
std::FILE* open_input(const char* path, InputUse use);

// Outcome of create_output.
enum CreateResult : int {
    kCreated = 0,
    kCreateFailed = -1, // the host refused to create or open the path
    kCreateIsInput = -2 // the path names one of the protected files
};

// An output file opened for writing in binary mode, unbuffered: the BMP
// writer hands it large blocks.
struct OutputFile {
    std::FILE* file;
    bool regular; // a regular file, which may be removed when a write fails
};

// Creates `path` for writing, or truncates it when it exists, unless it is the
// same file as one of the `count` protected files, which are left untouched.
int create_output(const char* path, const FileId* protect, int count, OutputFile* out);

// Bytes from the current position to the end of the file; 0 when that cannot
// be told (a pipe or a device) or the position is at or past the end.
int64_t bytes_to_end(std::FILE* file);

// Size of the whole file in bytes, 0 when it cannot be told.
int64_t file_size(std::FILE* file);

// Moves to an absolute offset; false when the host refuses it.
bool seek_to(std::FILE* file, int64_t offset);
