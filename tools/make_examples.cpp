// Draws the bundled example pictures and writes them as KZP files, plus an
// archive holding more pictures and the list file that locates them.
//
//   make_examples DIR
//
// Integer arithmetic only, so every host writes the same bytes.
#include <cstdio>
#include <string>
#include <vector>

#include "bmp/bmp.h"
#include "lzss/lzss.h"
#include "sample_images.h"

namespace {

struct Picture {
    int32_t width, height;
    std::vector<uint8_t> pixels;
    uint8_t palette[1024];
};

void set_colour(Picture& pic, int index, int r, int g, int b) {
    pic.palette[4 * index + 0] = static_cast<uint8_t>(r);
    pic.palette[4 * index + 1] = static_cast<uint8_t>(g);
    pic.palette[4 * index + 2] = static_cast<uint8_t>(b);
    pic.palette[4 * index + 3] = static_cast<uint8_t>(index * 7); // unused byte, not zero
}

// Index 0..255 around the colour wheel.
void rainbow_palette(Picture& pic) {
    for (int i = 0; i < 256; i++) {
        int h = i * 6, f = h % 256, sector = h / 256;
        int up = f, down = 255 - f;
        const int rgb[6][3] = {{255, up, 0},   {down, 255, 0}, {0, 255, up},
                               {0, down, 255}, {up, 0, 255},   {255, 0, down}};
        set_colour(pic, i, rgb[sector][0], rgb[sector][1], rgb[sector][2]);
    }
}

Picture blank(int32_t width, int32_t height) {
    Picture pic{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height), {}};
    rainbow_palette(pic);
    return pic;
}

Picture sunset(int32_t w, int32_t h) {
    Picture pic = blank(w, h);
    for (int i = 0; i < 128; i++)
        set_colour(pic, i, 255 - i, 80 + i, 40 + i); // sky
    for (int i = 128; i < 192; i++)
        set_colour(pic, i, 10, 30 + (i - 128), 90 + 2 * (i - 128));
    set_colour(pic, 200, 255, 230, 60); // sun
    const int horizon = h * 2 / 3, cx = w / 2, cy = horizon, radius = h / 4;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int dx = x - cx, dy = y - cy;
            uint8_t v;
            if (y < horizon)
                v = dx * dx + dy * dy < radius * radius ? 200 : y * 127 / horizon;
            else
                v = static_cast<uint8_t>(128 +
                                         ((y - horizon) * 63 / (h - horizon) + ((x / 8 + y) & 3)));
            pic.pixels[static_cast<size_t>(y) * w + x] = v;
        }
    return pic;
}

Picture mandelbrot(int32_t w, int32_t h, int64_t x0, int64_t y0, int64_t span) {
    Picture pic = blank(w, h);
    set_colour(pic, 0, 0, 0, 0);
    const int64_t one = int64_t{1} << 24; // fixed point
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int64_t cr = x0 + span * x / w, ci = y0 + span * y / w, zr = 0, zi = 0;
            int n = 0;
            while (n < 255 && zr * zr + zi * zi < 4 * one * one) {
                int64_t t = (zr * zr - zi * zi) / one + cr;
                zi = 2 * zr * zi / one + ci;
                zr = t;
                n++;
            }
            pic.pixels[static_cast<size_t>(y) * w + x] = n == 255 ? 0 : static_cast<uint8_t>(n * 9);
        }
    return pic;
}

Picture tiles(int32_t w, int32_t h) {
    Picture pic = blank(w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            pic.pixels[static_cast<size_t>(y) * w + x] =
                static_cast<uint8_t>(((x / 6) ^ (y / 6)) * 23 + ((x + y) % 6 == 0 ? 128 : 0));
    return pic;
}

Picture rings(int32_t w, int32_t h) {
    Picture pic = blank(w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int dx = x - w / 3, dy = y - h / 2, ex = x - 2 * w / 3;
            pic.pixels[static_cast<size_t>(y) * w + x] =
                static_cast<uint8_t>((dx * dx + dy * dy) / 40 + (ex * ex + dy * dy) / 55);
        }
    return pic;
}

// The smallest stream, or the longest match at each position, as the tools
// of old games wrote their archives.
std::vector<uint8_t> encode(const Picture& pic, bool greedy = false) {
    return lzss_encode(kzp_image_bytes(pic.width, pic.height, pic.pixels.data(), pic.palette),
                       {0, greedy});
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_examples DIR\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    const int64_t one = int64_t{1} << 24;
    struct Named {
        const char* name;
        Picture pic;
    };
    const Named files[] = {
        {"sunset.kzp", sunset(320, 200)},
        {"mandel.kzp", mandelbrot(256, 192, -2 * one - one / 4, -one - one / 8, 3 * one)},
        {"tiles.kzp", tiles(123, 77)},
    };
    for (const Named& f : files)
        if (!write_whole_file((dir + f.name).c_str(), encode(f.pic))) {
            std::fprintf(stderr, "can't write %s%s\n", dir.c_str(), f.name);
            return 1;
        }

    // The archive: a small header, then the entries with a little junk
    // between them, as game archives tend to have, compressed as their tools
    // did (so that edited pictures fit back in).
    const Named entries[] = {
        {"title.kzp", rings(250, 150)},
        {"gfx\\logo.kzp", tiles(45, 45)},
        {"map.kzp", mandelbrot(200, 160, -one, one / 8, one / 2)},
    };
    std::vector<uint8_t> archive = {'Q', 'P', 'A', 'K', 3, 0, 0, 0};
    std::string list;
    for (const Named& e : entries) {
        std::vector<uint8_t> stream = encode(e.pic, true);
        list += "pack.dat " + std::to_string(archive.size()) + " " + std::to_string(stream.size()) +
                " " + e.name + "\n";
        archive.insert(archive.end(), stream.begin(), stream.end());
        archive.insert(archive.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    }
    if (!write_whole_file((dir + "pack.dat").c_str(), archive) ||
        !write_whole_file((dir + "pack.lst").c_str(),
                          std::vector<uint8_t>(list.begin(), list.end()))) {
        std::fprintf(stderr, "can't write the archive into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
