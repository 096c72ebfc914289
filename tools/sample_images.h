// Synthetic pictures of the kinds that matter for decoding and packing speed, each
// returned in the decoded KZP layout (pixels, palette, width, height), and
// the file writer the picture generators share.
#pragma once

#include <cstdint>
#include <vector>

enum SampleKind : int {
    kSampleFlat,     // cartoon-like: large flat areas, long runs
    kSamplePhoto,    // smooth gradients with noise
    kSampleDithered, // error-diffused gradients: short, irregular matches
    kSampleNoise,    // random bytes: all literals
    // Few colours, where a match finder meets many equal candidates:
    kSampleTwo,   // random pixels in 2 colours
    kSampleThree, // random pixels in 3 colours
    kSampleFour,  // random pixels in 4 colours
    kSampleMask,  // the photo kind error-diffused to black and white
    // A true-colour photo-like picture in 256 colours chosen by median cut, whose
    // palette is in the order the cut made it, not by colour:
    kSampleMedianCut,         // each pixel the colour of its box
    kSampleMedianCutDithered, // error-diffused to that palette
};

constexpr const char* kSampleNames[] = {"flat",  "photo", "dithered", "noise", "two",
                                        "three", "four",  "mask",     "mcut",  "mcut-dithered"};

// In the decoded KZP layout (the palette's unused bytes random but for the
// median-cut kinds, where they are 0).
std::vector<uint8_t> make_sample_image(SampleKind kind, int32_t width, int32_t height);

// A smooth true-colour picture with a little noise: red, green, blue per pixel,
// top row first.
std::vector<uint8_t> make_true_colour_picture(int32_t width, int32_t height);

// The same image with other indices: the palette in the order of a
// permutation drawn from `seed`, and every pixel's index remapped with it.
std::vector<uint8_t> shuffle_palette(std::vector<uint8_t> image, uint32_t seed);

// Writes `bytes` to a new file at `path`; false when that fails.
bool write_whole_file(const char* path, const std::vector<uint8_t>& bytes);
