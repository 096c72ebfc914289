// The quorbin driver: options, output naming, conversion jobs and list files.
//
// Every job, a file named on the command line or an entry of an archive, runs
// the same steps: open the input at the start of its stored stream, derive the
// output path, print the progress line, create the output, decode, write the
// BMP, print "OK".  A failure prints one message on standard error and the run
// goes on with the next job.  Standard output is always flushed before
// anything goes to standard error, so messages follow their progress line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host.h"

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};

struct Options {
    bool has_list_file = false;
    std::string list_file; // "-" reads the list from standard input
    std::string work_dir;  // empty: the current directory
    std::string archive_dir;
};

// --- options -------------------------------------------------------------

enum OptionsResult : int {
    kOptionsBad = -1,     // a missing value or an unknown letter
    kOptionsHelp = -2,    // "-h" (any argument whose second character is 'h') or "--help"
    kOptionsVersion = -3, // "--version"
};

// Scans argv[1..]: "-l FILE", "-C DIR" and "-c DIR" (only the second character
// counts; the value is always the next argument), and the requests for help
// and the version, which end the scan.  The first argument that does not
// begin with '-' and everything after it are file arguments.  Returns the
// index of the first file argument (argc when there is none), or an
// OptionsResult; an unknown letter is reported on standard error.  `letters`
// lists the options a program takes, 'h' among them.
int parse_options(int argc, const char* const* argv, Options& options,
                  const char* letters = "hlCc");

// What sets each program apart at the start of a run.
struct Program {
    const char* name;    // as --version prints it
    const char* banner;  // a format with one %s for its padding
    const char* usage;   // the usage text
    const char* letters; // its option letters, for parse_options
};

enum StartResult : int {
    kStartFailed = -1, // "option error." was reported: exit status 1
    kStartDone = -2,   // the usage text or the version was printed: exit status 0
};

// The start of a run: takes the arguments from the host as UTF-8 into
// `args`, prints the banner and parses the options.  Help and the version
// go to standard output.  Returns the index of the first file argument, or a
// StartResult when the run ends here.
int start_run(int argc, char** argv, const Program& program, Options& options,
              std::vector<std::string>& args);

// Flushes standard output, then writes a formatted message to standard error.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

// --- output naming -------------------------------------------------------

// Appends to `out` the stem of `name` (up to its first '.') then "." and `ext`.
void replace_extension(std::string& out, const std::string& name, const char* ext);

// The output path for an input called `name`: its base name (after the last
// of the host's separators) with the extension `ext`, inside `work_dir` when
// that is not empty, joined by the host's separator unless `work_dir` already
// ends in '\' or '/'.
void make_output_name(std::string& out, const std::string& name, const std::string& work_dir,
                      const char* ext = "bmp");

// --- conversion ----------------------------------------------------------

enum ConvertResult : int {
    kConvertOk = 0,
    kConvertNoMemory = -1,
    kConvertBroken = -2,
    kConvertWriteError = -3,
};

// Decodes up to `stored_size` bytes from the current position of `input` and,
// when anything was decoded, writes it to `output` as a BMP file.  The decode
// buffer holds nine times the bytes that can actually be read.
int convert_stream(std::FILE* output, std::FILE* input, int64_t stored_size);

// Creates `output_path` and converts the stored stream into it, refusing to
// touch the input or `also_protect` (the list file being read; may be null).
// Reports every failure; returns 1 only when the BMP file was written whole.
int create_bmp_file(const std::string& output_path, std::FILE* input, int64_t stored_size,
                    const FileId* also_protect);

// The start of a job on the file at `path`: opens it (reporting when it
// cannot), derives `output_path` with the extension `ext`, and prints the
// progress line.  nullptr when the input could not be opened.
std::FILE* start_job(const std::string& path, const Options& options, const char* ext,
                     std::string& output_path);

// Converts the whole file at `path`.  Returns 1 when the input could be opened.
int convert_file(const std::string& path, const Options& options);

// Reads at most `limit` bytes, to the end of `input`, into `bytes`, which
// grows as it fills.  Returns the number read, or -1 when memory runs out.
int64_t read_to_end(std::FILE* input, int64_t limit, std::unique_ptr<uint8_t, FreeDeleter>& bytes);

// --- packing ---------------------------------------------------------------

// Packs the BMP file at `path` into a KZP file named as quorbin names its
// outputs (extension "kzp").  The output appears, under its name, only when
// it was written whole.  Returns 1 when it was, 0 after any failure.
int pack_file(const std::string& path, const Options& options);

// --- list files ----------------------------------------------------------

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

// Converts the entry of `stored_size` bytes at `offset` in the archive.
// Returns 1 when the archive could be opened.
int convert_archive_entry(const std::string& archive_path, int64_t offset, int64_t stored_size,
                          const std::string& entry_name, const Options& options,
                          const FileId* list_id);

// Runs every line of the list file ("-": standard input).  Returns 1 when the
// list was read to its end, 0 when it could not be opened.
int process_list_file(const std::string& list_path, const Options& options);
