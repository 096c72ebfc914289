#include "kzp_encoder.h"

#include <algorithm>
#include <cstdio>

#include "lzss/lzss.h"

namespace {

// The format's constants, as the decoder defines them.
constexpr size_t kWindow = kLzssWindowSize;
constexpr size_t kMinMatch = kLzssMinMatch;
constexpr size_t kMaxMatch = kLzssMaxMatch;
constexpr size_t kPositionBias = kLzssPositionBias; // window index = position + 18
constexpr int kHashBits = 15;

uint32_t hash3(const uint8_t* p) {
    return ((p[0] << 16 | p[1] << 8 | p[2]) * 2654435761u) >> (32 - kHashBits);
}

// Collects items into groups: one flag byte, then up to eight items.
struct GroupWriter {
    std::vector<uint8_t>& out;
    size_t flag_at = 0;
    int items = 8;

    void start_item(bool literal) {
        if (items == 8) {
            flag_at = out.size();
            out.push_back(0);
            items = 0;
        }
        if (literal) out[flag_at] |= static_cast<uint8_t>(1 << items);
        items++;
    }
};

} // namespace

std::vector<uint8_t> lzss_compress(const uint8_t* data, size_t size, int max_chain) {
    // Work on the data behind 4096 zero bytes, which stand for the decoder's
    // initial window: matches into them are ordinary matches here.
    std::vector<uint8_t> hist(kWindow + size + 2, 0);
    std::copy(data, data + size, hist.begin() + kWindow);
    const size_t end = kWindow + size;
    std::vector<int64_t> head(size_t{1} << kHashBits, -1);
    std::vector<int64_t> prev(end, -1);
    auto insert = [&](size_t pos) {
        if (pos + kMinMatch > end) return;
        uint32_t h = hash3(&hist[pos]);
        prev[pos] = head[h];
        head[h] = static_cast<int64_t>(pos);
    };
    for (size_t pos = kWindow - kMaxMatch; pos < kWindow; pos++)
        insert(pos);

    std::vector<uint8_t> out;
    GroupWriter groups{out};
    size_t i = kWindow;
    while (i < end) {
        size_t best_len = 0, best_pos = 0;
        size_t limit = std::min<size_t>(kMaxMatch, end - i);
        if (limit >= kMinMatch) {
            int64_t cand = head[hash3(&hist[i])];
            for (int tries = 0;
                 cand >= 0 && i - static_cast<size_t>(cand) <= kWindow && tries < max_chain;
                 tries++) {
                size_t len = 0;
                while (len < limit && hist[static_cast<size_t>(cand) + len] == hist[i + len])
                    len++;
                if (len > best_len) {
                    best_len = len;
                    best_pos = static_cast<size_t>(cand);
                    if (len == limit) break;
                }
                cand = prev[static_cast<size_t>(cand)];
            }
        }
        if (best_len >= kMinMatch) {
            // The source's window index is its distance behind the write
            // index; positions are stored 18 below window indexes.
            uint32_t position = static_cast<uint32_t>(best_pos - kPositionBias) & (kWindow - 1);
            groups.start_item(false);
            out.push_back(static_cast<uint8_t>(position));
            out.push_back(static_cast<uint8_t>((position >> 8) << 4 | (best_len - kMinMatch)));
            for (size_t k = 0; k < best_len; k++)
                insert(i + k);
            i += best_len;
        } else {
            groups.start_item(true);
            out.push_back(hist[i]);
            insert(i);
            i++;
        }
    }
    return out;
}

std::vector<uint8_t> kzp_image_bytes(int32_t width, int32_t height, const uint8_t* pixels,
                                     const uint8_t* palette) {
    // A width or height of 0 or less has no pixel rows.
    size_t pixel_bytes =
        width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;
    std::vector<uint8_t> image(pixels, pixels + pixel_bytes);
    image.insert(image.end(), palette, palette + 1024);
    for (uint32_t v : {static_cast<uint32_t>(width), static_cast<uint32_t>(height)})
        for (int shift = 0; shift < 32; shift += 8)
            image.push_back(static_cast<uint8_t>(v >> shift));
    return image;
}

bool write_whole_file(const char* path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
