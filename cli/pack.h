// quorbin-pack's loose files: a BMP or PNG picture into a KZP file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host.h"
#include "kzp/kzp.h"
#include "options.h"

// A picture as read: a palette picture's indices and palette in the decoded
// layout, or a true-colour picture's colours.
struct Picture {
    bool true_colour;
    std::vector<uint8_t> image;
    KzpColours colours;
    int32_t width, height;
};

// Reads the BMP or PNG file of `size` bytes at `file` (told apart by their
// first bytes), which came from `path`: a palette picture, or with
// `true_colour_too` a true-colour one too.  Reports why it is refused and
// returns false then.
bool read_picture(const char* path, const uint8_t* file, size_t size, bool true_colour_too,
                  Picture* picture);

// Maps `picture` (of target's width and height) onto the decoded image
// `target` (kzp_map_picture), colours the palette lacks as options -n and -d
// say (`*mapped` tells which); without -n reports them and returns false.
// `*edited`, when given, marks the pixels whose colour is not target's there;
// `*nearest`, when given, is the picture mapped with nearest colours alone.
bool map_picture(const std::string& path, const std::vector<uint8_t>& target,
                 const Picture& picture, const Options& options, std::vector<uint8_t>* out,
                 KzpUnmapped* mapped, std::vector<uint8_t>* edited = nullptr,
                 std::vector<uint8_t>* nearest = nullptr);

// Says, after a picture's progress line, how many of its pixels took the
// nearest colours of the palette (with -d: dithered), if any did, and how many
// of those took the index of its corners' colour.
void report_nearest(const std::string& path, const KzpUnmapped& mapped, const Options& options);

// Reads the palette that -p names, as a decoded image: the decoded bytes of
// a KZP file, or a palette BMP or PNG file read by read_picture.  Reports
// why it cannot; false then.
bool read_palette_file(const std::string& path, std::vector<uint8_t>* image, FileId* id);

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
