// Pictures as quorbin-pack takes them: BMP and PNG files read, palette or
// true colour, and their colours mapped onto a KZP image's palette.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host.h"
#include "kzp/kzp.h"
#include "report.h"
#include "run_options.h"

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
