// quorbin-pack's loose files: a BMP or PNG picture into a KZP file.
#pragma once

#include <string>
#include <vector>

#include "host.h"
#include "picture.h"

// Packs the BMP or PNG file at `path` into a KZP file named as quorbin names
// its outputs (extension "kzp"), which is never the picture or the palette
// file (`palette_id`).  The output appears, under its name, only
// when it was written whole.  Returns 1 when it was, 0 after any failure.
//
// Without `palette` (the image -p read) the picture is a palette picture
// and keeps its palette and indices: BMP files of 1, 4 or 8 bits, plain or
// RLE, with any of their header versions, and palette or grey PNG files.
// With it, any picture read_picture reads as colours is mapped onto that
// image's palette (kzp_map_picture), onto the image itself when its width
// and height are the picture's (so that unchanged pixels keep their
// indices and the bytes in front of them are kept), else onto a fresh image
// of the picture's size.  Anything else gets one message on standard error
// naming the file, what it is and, for pictures of another kind, what to
// save it as; nothing is written for it.  The stream is the smallest the
// format allows (lzss_encode).
int pack_file(const std::string& path, const Options& options,
              const std::vector<uint8_t>* palette = nullptr, const FileId* palette_id = nullptr);
