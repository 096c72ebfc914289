#include "sample_images.h"

#include <cstdio>
#include <cstdlib>

#include "kzp/kzp.h"

namespace {

// A small deterministic generator, the same on every host.
struct Lcg {
    uint64_t state;
    uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
};

void draw_flat(std::vector<uint8_t>& px, int32_t w, int32_t h, Lcg& rng) {
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++)
            px[static_cast<size_t>(y) * w + x] = y * 4 / h;
    for (int shape = 0; shape < 60; shape++) {
        int32_t cx = rng.next() % w, cy = rng.next() % h, r = rng.next() % (w / 6) + 8;
        uint8_t colour = static_cast<uint8_t>(rng.next());
        bool disc = shape % 2;
        for (int32_t y = std::max(0, cy - r); y < std::min(h, cy + r); y++)
            for (int32_t x = std::max(0, cx - r); x < std::min(w, cx + r); x++)
                if (!disc || (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r)
                    px[static_cast<size_t>(y) * w + x] = colour;
    }
}

void draw_photo(std::vector<uint8_t>& px, int32_t w, int32_t h, Lcg& rng) {
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            int32_t smooth = (x * 3 + y * 2) / 48 + ((x - w / 2) * (x - w / 2) + y * y) / (w * 24);
            int32_t noise = rng.next() % 7 < 2 ? static_cast<int32_t>(rng.next() % 3) - 1 : 0;
            px[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(smooth + noise);
        }
}

// Floyd-Steinberg error diffusion, row by row: `target(x, y)` is the value
// wanted at a pixel before the error carried to it, `quantize(value, &index)`
// the level it gets, whose palette index goes into the pixel.
template <typename Target, typename Quantize>
void diffuse(std::vector<uint8_t>& px, int32_t w, int32_t h, Target target, Quantize quantize) {
    std::vector<int32_t> err(static_cast<size_t>(w + 2) * 2, 0);
    for (int32_t y = 0; y < h; y++) {
        int32_t* cur = &err[static_cast<size_t>(y % 2) * (w + 2) + 1];
        int32_t* nxt = &err[static_cast<size_t>((y + 1) % 2) * (w + 2) + 1];
        for (int32_t x = -1; x <= w; x++)
            nxt[x] = 0;
        for (int32_t x = 0; x < w; x++) {
            const int32_t want = target(x, y) + cur[x];
            uint8_t index = 0;
            const int32_t e = want - quantize(want, &index);
            cur[x + 1] += e * 7 / 16;
            nxt[x - 1] += e * 3 / 16;
            nxt[x] += e * 5 / 16;
            nxt[x + 1] += e / 16;
            px[static_cast<size_t>(y) * w + x] = index;
        }
    }
}

// From a 16x finer gradient down to whole palette steps.
void draw_dithered(std::vector<uint8_t>& px, int32_t w, int32_t h, Lcg& rng) {
    diffuse(
        px, w, h,
        [&](int32_t x, int32_t y) {
            return (x * 7 + y * 3) * 16 / 64 + static_cast<int32_t>(rng.next() % 40);
        },
        [](int32_t want, uint8_t* index) {
            const int32_t level = std::max(0, want) / 16 * 16;
            *index = static_cast<uint8_t>(level / 16);
            return level;
        });
}

// From the photo kind's levels (0..~250) down to 0 and 1.
void draw_mask(std::vector<uint8_t>& px, int32_t w, int32_t h, Lcg& rng) {
    draw_photo(px, w, h, rng);
    diffuse(
        px, w, h, [&](int32_t x, int32_t y) { return px[static_cast<size_t>(y) * w + x] * 16; },
        [](int32_t want, uint8_t* index) {
            *index = want >= 2048 ? 1 : 0;
            return *index ? 4096 : 0;
        });
}

} // namespace

std::vector<uint8_t> make_sample_image(SampleKind kind, int32_t width, int32_t height) {
    Lcg rng{static_cast<uint64_t>(kind) + 1};
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
    switch (kind) {
    case kSampleFlat:
        draw_flat(pixels, width, height, rng);
        break;
    case kSamplePhoto:
        draw_photo(pixels, width, height, rng);
        break;
    case kSampleDithered:
        draw_dithered(pixels, width, height, rng);
        break;
    case kSampleNoise:
        for (uint8_t& p : pixels)
            p = static_cast<uint8_t>(rng.next());
        break;
    case kSampleTwo:
    case kSampleThree:
    case kSampleFour:
        for (uint8_t& p : pixels)
            p = static_cast<uint8_t>(rng.next() % (kind - kSampleTwo + 2));
        break;
    case kSampleMask:
        draw_mask(pixels, width, height, rng);
        break;
    }
    uint8_t palette[1024];
    for (int i = 0; i < 1024; i++)
        palette[i] = static_cast<uint8_t>(rng.next());
    return kzp_image_bytes(width, height, pixels.data(), palette);
}

bool write_whole_file(const char* path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
