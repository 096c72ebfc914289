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

// The path of a file called `name` (its base name, after the last of the
// host's separators) inside `work_dir`, as make_output_name joins them.
void make_output_path(std::string& out, const std::string& name, const std::string& work_dir);

// The stem quorbin gives the outputs of an input called `name`: its base
// name up to its first '.'.
std::string output_stem(const std::string& name);

// Whether two stems name the same output: byte for byte on POSIX hosts, ASCII
// letters in either case on Windows, as its file systems compare names.
bool same_stem(const std::string& a, const std::string& b);
