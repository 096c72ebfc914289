// The start of a conversion job on a file named on the command line.
#pragma once

#include <cstdio>
#include <string>

#include "files.h"
#include "run_options.h"

// The start of a job on the file at `path`: opens it (reporting when it
// cannot), derives `output_path` with the extension `ext`, and prints the
// progress line.  nullptr when the input could not be opened.
std::FILE* start_job(const std::string& path, const Options& options, const char* ext,
                     std::string& output_path);
