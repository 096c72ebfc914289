// quorbin-pack's job: a palette BMP or PNG file into a KZP file.
#pragma once

#include <string>

#include "options.h"

// Packs the BMP or PNG file at `path` (told apart by their first bytes) into
// a KZP file named as quorbin names its outputs (extension "kzp").  The
// output appears, under its name, only when it was written whole.  Returns 1
// when it was, 0 after any failure.
int pack_file(const std::string& path, const Options& options);
