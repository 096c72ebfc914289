// A small LZSS encoder for KZP stored streams, used to make test data,
// benchmark images and the bundled examples.  Greedy parsing with a hash-chain
// match finder; matches of 3..18 bytes reach up to 4096 bytes back, into the
// initial zero window too, and may overlap the bytes they produce.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Compresses `size` bytes.  `max_chain` bounds the candidates tried per byte.
std::vector<uint8_t> lzss_compress(const uint8_t* data, size_t size, int max_chain = 64);

inline std::vector<uint8_t> lzss_compress(const std::vector<uint8_t>& data, int max_chain = 64) {
    return lzss_compress(data.data(), data.size(), max_chain);
}

// Writes `bytes` to a new file at `path`; false when that fails.
bool write_whole_file(const char* path, const std::vector<uint8_t>& bytes);

// The decoded layout of a KZP image: `width * height` pixel bytes (top row
// first), the 1024-byte palette (red, green, blue, unused), then width and
// height as little-endian 32-bit values.  With a width or height of 0 or
// less there are no pixel bytes.
std::vector<uint8_t> kzp_image_bytes(int32_t width, int32_t height, const uint8_t* pixels,
                                     const uint8_t* palette);
