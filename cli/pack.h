// quorbin-pack's job: a palette BMP or PNG file into a KZP file.
#pragma once

#include <string>

#include "options.h"

// Packs the BMP or PNG file at `path` (told apart by their first bytes) into
// a KZP file named as quorbin names its outputs (extension "kzp").  The
// output appears, under its name, only when it was written whole.  Returns 1
// when it was, 0 after any failure.
//
// Every palette picture that bmp_read or png_read accepts is packed: BMP files
// of 1, 4 or 8 bits, plain or RLE, with any of their header versions, and
// palette or grey PNG files.  Anything else gets one message on standard
// error naming the file, what it is and, for pictures of another kind, what
// to save it as; nothing is written for it.  The stream is the smallest the
// format allows (lzss_encode).
int pack_file(const std::string& path, const Options& options);
