// Conversion jobs: a KZP stored stream, from a file named on the command line
// or from an archive entry, into one BMP or PNG file.
//
// Every job runs the same steps: open the input at the start of its stored
// stream, derive the output path, print the progress line, create the
// output, decode, write, print "OK".  A failure prints one message on
// standard error and the run goes on with the next job.  A BMP file is
// created in place before anything is decoded; a PNG file, like quorbin-pack's
// KZP files, is written as NAME.part and renamed into place when complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "files.h"
#include "listfile.h"
#include "run_options.h"

// Decodes up to `stored_size` bytes from the current position of `input` and,
// when anything was decoded, writes the image to `output` in `format`.  The
// decode buffer holds nine times the bytes that can actually be read.
// Returns a ConvertResult.
int convert_stream(std::FILE* output, std::FILE* input, int64_t stored_size,
                   OutputFormat format = kFormatBmp);

// Creates `output_path` and converts the stored stream into it as a BMP file,
// refusing to touch the input or `also_protect` (the list file being read;
// may be null).  Reports every failure; returns 1 only when the BMP file was
// written whole.
int create_bmp_file(const std::string& output_path, std::FILE* input, int64_t stored_size,
                    const FileId* also_protect);

// The same for a PNG file, written under a part name and renamed into place:
// after a failure neither file is left and an earlier file at `output_path`
// stays as it was.
int create_png_file(const std::string& output_path, std::FILE* input, int64_t stored_size,
                    const FileId* also_protect);

// The one of the two above that writes `format`.
int create_image_file(OutputFormat format, const std::string& output_path, std::FILE* input,
                      int64_t stored_size, const FileId* also_protect);

// The extension of the files written in `format`.
const char* format_extension(OutputFormat format);

// Converts the whole file at `path`.  Returns 1 when the input could be opened.
int convert_file(const std::string& path, const Options& options);

// Converts the entry of `stored_size` bytes at `offset` in the archive.
// Returns 1 when the archive could be opened.
int convert_archive_entry(const std::string& archive_path, int64_t offset, int64_t stored_size,
                          const std::string& entry_name, const Options& options,
                          const FileId* list_id);

// Runs every line of the list file ("-": standard input).  Returns 1 when the
// list was read to its end, 0 when it could not be opened.
int process_list_file(const std::string& list_path, const Options& options);
