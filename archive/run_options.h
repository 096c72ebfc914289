// What a run of quorbin or quorbin-pack is asked to do, as its options say.
#pragma once

#include <string>

enum OutputFormat : int { kFormatBmp, kFormatPng };

struct Options {
    bool has_list_file = false;
    std::string list_file; // "-" reads the list from standard input
    std::string work_dir;  // empty: the current directory
    std::string archive_dir;
    OutputFormat format = kFormatBmp;
    int png_effort = 0;            // quorbin -z: 1 to 9; 0: the default
    bool has_palette_file = false; // quorbin-pack -p: the palette to map colours to
    std::string palette_file;
    bool own_palette = false; // quorbin-pack -P: keep the pictures' palettes and indices
    bool nearest = false;     // quorbin-pack -n: colours a palette lacks take the nearest ones
    bool dither = false;      // quorbin-pack -d: those diffuse their error (implies -n)
    bool fit = false;     // quorbin-pack -F: fit a picture into its entry where that hardly shows
    bool accept = false;  // quorbin-pack -A: take the best fit whatever it shows (implies -F)
    std::string show_dir; // quorbin-pack -s: where the pictures as put back go (empty: nowhere)
    int jobs = 0;         // -j: entries converted at once; 0: as many as there are processors
};
