// Files as the programs use them: buffers that cost nothing until written,
// whole files read, outputs written under a part name and renamed into place
// when complete, the progress line of a job, and what became of an output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "host.h"
#include "report.h"

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// What became of an output; every failure has its message (report_failure).
enum ConvertResult : int {
    kConvertOk = 0,
    kConvertNoMemory = -1,
    kConvertBroken = -2,
    kConvertWriteError = -3,
    kConvertNoPixels = -4, // PNG only: nothing decoded, a width of 0 or a height of 0 or less
};

// A buffer of `size` bytes, not cleared: its pages cost nothing until they
// are written.  Null when memory is short, or when `size` is more than the
// host can address (a 32-bit host, such as the web page's module).
Buffer allocate(int64_t size);

// Reports why writing `output_path` failed (`result` is not kConvertOk).
void report_failure(int result, const std::string& output_path);

// Flushes and closes an output; `result` becomes kConvertWriteError when that
// fails after a conversion that went well.
int close_output(OutputFile& out, int result);

// The progress line of a job from `input` to `output`: "%-16s -> %s ... ".
std::string progress_line(const std::string& input, const std::string& output);

// Reads at most `limit` bytes, to the end of `input`, into `bytes`, which
// grows as it fills.  Returns the number read, or -1 when memory runs out.
int64_t read_to_end(std::FILE* input, int64_t limit, Buffer& bytes);

// Reads the whole of `input` (a file, or a pipe to its end); -1 when memory
// runs out.
int64_t read_whole(std::FILE* input, Buffer& bytes);

// Opens the file at `path` and reads it whole into `bytes` (`*size` bytes),
// with its identity in `*id` when `id` is not null.  Reports when it cannot
// be opened or memory runs out, and returns false then.
bool read_file(const std::string& path, Buffer& bytes, int64_t* size, FileId* id = nullptr);

// Opens `path`.part for writing, after checking that neither `path` nor the
// part file is one of the `count` protected files.  Reports why it cannot;
// false then.
bool open_part(const std::string& path, const FileId* protect, int count, OutputFile* out);

// Closes a part file opened by open_part.  When `result` (of what was
// written to it) is kConvertOk and the close succeeds, renames it into
// place; otherwise, or when the rename fails, removes it and reports why.
// True when the file is in place.
bool finish_part(const std::string& path, OutputFile& out, int result);
