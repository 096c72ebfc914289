#include "sample_images.h"

#include <algorithm>
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

// Median cut: the box of colours with the widest range in one channel is
// split at its median in that channel until there are 256 boxes (or no box
// can be split); each box's mean is a palette entry.  `pixel_index`
// receives each pixel's box.
void median_cut(const std::vector<uint8_t>& rgb, uint8_t* palette,
                std::vector<uint8_t>& pixel_index) {
    const size_t count = rgb.size() / 3;
    std::vector<uint32_t> order(count);
    for (size_t i = 0; i < count; i++)
        order[i] = static_cast<uint32_t>(i);
    struct Box {
        size_t begin, end;
        int channel, range;
    };
    auto measure = [&](Box& box) {
        int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
        for (size_t i = box.begin; i < box.end; i++)
            for (int c = 0; c < 3; c++) {
                lo[c] = std::min<int>(lo[c], rgb[3 * order[i] + c]);
                hi[c] = std::max<int>(hi[c], rgb[3 * order[i] + c]);
            }
        box.range = -1;
        for (int c = 0; c < 3; c++)
            if (hi[c] - lo[c] > box.range) box.range = hi[c] - lo[c], box.channel = c;
    };
    std::vector<Box> boxes{{0, count, 0, 0}};
    measure(boxes[0]);
    while (boxes.size() < 256) {
        Box& widest = *std::max_element(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) {
            return a.range < b.range;
        });
        if (widest.range <= 0 || widest.end - widest.begin < 2) break;
        const size_t middle = widest.begin + (widest.end - widest.begin) / 2;
        const int c = widest.channel;
        std::nth_element(order.begin() + static_cast<ptrdiff_t>(widest.begin),
                         order.begin() + static_cast<ptrdiff_t>(middle),
                         order.begin() + static_cast<ptrdiff_t>(widest.end),
                         [&](uint32_t a, uint32_t b) { return rgb[3 * a + c] < rgb[3 * b + c]; });
        Box upper{middle, widest.end, 0, 0};
        widest.end = middle;
        measure(widest);
        measure(upper);
        boxes.push_back(upper);
    }
    pixel_index.assign(count, 0);
    for (size_t b = 0; b < boxes.size(); b++) {
        uint64_t sum[3] = {0, 0, 0};
        for (size_t i = boxes[b].begin; i < boxes[b].end; i++) {
            pixel_index[order[i]] = static_cast<uint8_t>(b);
            for (int c = 0; c < 3; c++)
                sum[c] += rgb[3 * order[i] + c];
        }
        const uint64_t n = std::max<size_t>(1, boxes[b].end - boxes[b].begin);
        for (int c = 0; c < 3; c++)
            palette[4 * b + c] = static_cast<uint8_t>(sum[c] / n);
    }
}

// Floyd-Steinberg to the palette's nearest colours, one channel's error at a
// time; nearest colours are cached by the colour's top five bits a channel.
void dither_to_palette(const std::vector<uint8_t>& rgb, int32_t w, int32_t h,
                       const uint8_t* palette, std::vector<uint8_t>& px) {
    std::vector<int16_t> nearest(1 << 15, -1);
    std::vector<int32_t> err(static_cast<size_t>(w + 2) * 6, 0); // two rows of three channels
    for (int32_t y = 0; y < h; y++) {
        int32_t* cur = &err[static_cast<size_t>(y % 2) * (w + 2) * 3 + 3];
        int32_t* nxt = &err[static_cast<size_t>((y + 1) % 2) * (w + 2) * 3 + 3];
        std::fill(nxt - 3, nxt + 3 * (w + 1), 0);
        for (int32_t x = 0; x < w; x++) {
            int want[3];
            for (int c = 0; c < 3; c++)
                want[c] = std::clamp(
                    rgb[(static_cast<size_t>(y) * w + x) * 3 + c] + cur[3 * x + c] / 16, 0, 255);
            const int key = (want[0] >> 3) << 10 | (want[1] >> 3) << 5 | want[2] >> 3;
            if (nearest[key] < 0) {
                int best = INT32_MAX;
                for (int i = 0; i < 256; i++) {
                    int d = 0;
                    for (int c = 0; c < 3; c++)
                        d += (want[c] - palette[4 * i + c]) * (want[c] - palette[4 * i + c]);
                    if (d < best) best = d, nearest[key] = static_cast<int16_t>(i);
                }
            }
            const uint8_t index = static_cast<uint8_t>(nearest[key]);
            px[static_cast<size_t>(y) * w + x] = index;
            for (int c = 0; c < 3; c++) {
                const int e = want[c] - palette[4 * index + c];
                cur[3 * (x + 1) + c] += 7 * e;
                nxt[3 * (x - 1) + c] += 3 * e;
                nxt[3 * x + c] += 5 * e;
                nxt[3 * (x + 1) + c] += e;
            }
        }
    }
}

} // namespace

std::vector<uint8_t> make_true_colour_picture(int32_t w, int32_t h) {
    Lcg rng{99};
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            const int32_t dx = x - w / 3, dy = y - h / 2;
            const int32_t noise = static_cast<int32_t>(rng.next() % 9) - 4;
            uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<uint8_t>(std::clamp(x * 255 / std::max(1, w) + noise, 0, 255));
            p[1] = static_cast<uint8_t>(
                std::clamp(255 - (dx * dx + dy * dy) / std::max(1, w * h / 300) + noise, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp(
                (y * 200 / std::max(1, h) + x * 55 / std::max(1, w)) / 2 + 60 + noise, 0, 255));
        }
    return rgb;
}

std::vector<uint8_t> shuffle_palette(std::vector<uint8_t> image, uint32_t seed) {
    KzpImage parsed;
    if (!kzp_image_parse(image.data(), static_cast<int64_t>(image.size()), &parsed)) return image;
    uint8_t order[256];
    for (int i = 0; i < 256; i++)
        order[i] = static_cast<uint8_t>(i);
    Lcg rng{seed};
    for (int i = 255; i > 0; i--)
        std::swap(order[i], order[rng.next() % (i + 1)]);
    uint8_t* palette = image.data() + image.size() - kKzpTrailerSize;
    if (parsed.pixels)
        for (uint8_t* p = image.data() + (parsed.pixels - image.data()); p < palette; p++)
            *p = order[*p];
    const std::vector<uint8_t> old(palette, palette + 1024);
    for (int i = 0; i < 256; i++)
        std::copy_n(&old[4 * i], 4, palette + 4 * order[i]);
    return image;
}

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
    case kSampleMedianCut:
    case kSampleMedianCutDithered: {
        const std::vector<uint8_t> rgb = make_true_colour_picture(width, height);
        uint8_t palette[1024] = {};
        median_cut(rgb, palette, pixels);
        if (kind == kSampleMedianCutDithered)
            dither_to_palette(rgb, width, height, palette, pixels);
        return kzp_image_bytes(width, height, pixels.data(), palette);
    }
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
