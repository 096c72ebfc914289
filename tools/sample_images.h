// Synthetic pictures of the four kinds that matter for decoding speed, each
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
};

constexpr const char* kSampleNames[] = {"flat", "photo", "dithered", "noise"};

std::vector<uint8_t> make_sample_image(SampleKind kind, int32_t width, int32_t height);

// Writes `bytes` to a new file at `path`; false when that fails.
bool write_whole_file(const char* path, const std::vector<uint8_t>& bytes);
