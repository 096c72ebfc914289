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
};

constexpr const char* kSampleNames[] = {"flat", "photo", "dithered", "noise",
                                        "two",  "three", "four",     "mask"};

std::vector<uint8_t> make_sample_image(SampleKind kind, int32_t width, int32_t height);

// Writes `bytes` to a new file at `path`; false when that fails.
bool write_whole_file(const char* path, const std::vector<uint8_t>& bytes);
