// The few things quorbin needs from the host's file API beyond standard C++:
// telling directories from files, file identity, 64-bit seeks, creating an
// output without truncating the file it would replace before it is checked,
// and UTF-8 file names.  One implementation per host: host_posix.cpp and
// host_windows.cpp; paths are UTF-8 (on POSIX hosts: bytes, used unchanged).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// How the host's paths separate directories, for naming outputs: the
// characters that end a directory part of an input name, and the one put
// between a work directory and a file name.  POSIX hosts take '/' and also the
// backslash (list files written on DOS name entries like GFX\TITLE.KZP) and
// join with '/'; Windows takes the backslash alone, and joins with it.
extern const char kHostSeparators[];
extern const char kHostJoin;

// Whether the host's file names are the same in either case of ASCII letters
// (Windows), so that output names are compared that way.
extern const bool kHostIgnoresCase;

// Called first thing in main: puts standard input in binary mode (a list read
// from it is bytes) and returns the arguments, argv[0] included, as UTF-8.
std::vector<std::string> host_start(int argc, char** argv);

// Identity of an open file (device and inode on POSIX hosts, volume serial
// number and file index on Windows).
struct FileId {
    uint64_t device;
    uint64_t inode;
    bool known; // false when the host could not tell
};

FileId file_id_of(std::FILE* file);

inline bool same_file(const FileId& a, const FileId& b) {
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

// How an input is read: in large blocks of its own (no stdio buffer needed)
// or in small pieces, such as a list file read a byte at a time.
enum InputUse : int { kReadBlocks, kReadText };

// Opens an existing file for reading in binary mode.  A directory is refused
// as if it did not exist.  nullptr on failure.
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

// Bytes from the current position to the end of the file, 0 when the
// position is at or past the end; -1 when that cannot be told (a pipe, a
// console or another device).
int64_t bytes_to_end(std::FILE* file);

// Size of the whole file in bytes; -1 when it cannot be told.
int64_t file_size(std::FILE* file);

// Removes a file; false when the host refuses.
bool remove_file(const char* path);

// Moves to an absolute offset; false when the host refuses it.
bool seek_to(std::FILE* file, int64_t offset);

// Identity of the existing file at `path`; `known` is false when there is none.
FileId path_id(const char* path);

// Moves `from` to `to`, replacing a file there; false when the host refuses.
bool rename_file(const char* from, const char* to);

// Gives the file `to` the permission bits of `from` (on Windows: the
// read-only attribute); false when the host refuses.
bool copy_permissions(std::FILE* from, std::FILE* to);

// Writes what the host holds of `file` to the disk, so that a rename after it
// never leaves a name for data that a system crash would lose.
bool flush_to_disk(std::FILE* file);

// Copies `count` bytes from the current position of `from` to that of `to`
// (both unbuffered, as this layer opens them), in the kernel where the host
// can (copy_file_range on Linux).  False when a read or write fails or
// `from` ends first.
bool copy_bytes(std::FILE* from, std::FILE* to, int64_t count);

// The file that `path` names once symbolic links are followed: the path of
// the link's target (on POSIX hosts absolute), or `path` itself when it is no
// link or names nothing.
std::string link_target(const std::string& path);

// Whether the existing file at `path` is read-only: its permission bits let
// nobody write it, or this user may not (POSIX); its read-only attribute
// (Windows).  An editor does not save over such a file, even as root.
bool is_read_only(const char* path);

// Creates `path` for writing only when no file is there (O_EXCL,
// CREATE_NEW), so that no two runs ever write one file; one that is there
// already is removed first when it is a regular file, as its writer is gone
// (the caller holds the lock that every writer takes).  The outcome as
// create_output's.
int create_new_output(const char* path, OutputFile* out);

// An exclusive lock on a file, held until unlock_file: a descriptor locked
// with flock on POSIX hosts, a named mutex of the file's identity on Windows.
struct FileLock {
    intptr_t handle;
};

// Locks the file at `path` against other runs that lock it, waiting for
// one that holds it.  A writer that holds the lock may replace the file by a
// rename; a lock on the old file is then worth nothing, so once it is had
// the file at `path` is checked to be the one locked, and the new one is
// locked instead when it is not.  False when the file cannot be opened (the
// lock is not taken then).
bool lock_file(const char* path, FileLock* lock);

void unlock_file(FileLock& lock);

// Asks that the block of `size` bytes at `memory` be backed by huge pages
// where the host gives them on request (Linux's transparent huge pages), so
// that first touches cost one fault per 2 MiB, not per 4 KiB; parts never
// touched still cost nothing.  Elsewhere it does nothing.
void prefer_huge_pages(void* memory, size_t size);
