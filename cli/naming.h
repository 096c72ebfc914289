// Output names: the input's base name up to its first '.', a new extension,
// inside the work directory.
#pragma once

#include <string>

// Appends to `out` the stem of `name` (up to its first '.') then "." and `ext`.
void replace_extension(std::string& out, const std::string& name, const char* ext);

// The output path for an input called `name`: its base name (after the last
// of the host's separators, see host.h) with the extension `ext`, inside
// `work_dir` when that is not empty, joined by the host's separator unless
// `work_dir` already ends in '\' or '/'.
void make_output_name(std::string& out, const std::string& name, const std::string& work_dir,
                      const char* ext = "bmp");
