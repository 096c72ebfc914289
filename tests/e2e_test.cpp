// quorbin and quorbin-pack run in a scratch directory, a row at a time: output, exit status and
// every file left behind, byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <tuple>
#ifdef _WIN32
#include <windows.h>
#endif

#include "fit/fit.h"
#include "kzp/colour.h"
#include "lzss/lzss.h"
#include "pack.h"
#include "png/png.h"
#include "sample_images.h"
#include "test_util.h"

using Files = std::vector<std::string>; // name, contents, name, contents, ...

const std::string kUsage =
    "usage: quorbin [option] [kzp-file]\n[option]\n    -l list-file     : list file\n"
    "    -c arc-dir       : Archive file Directory\n    -C work-dir      : Work Directory\n"
    "    -f format        : Output Format, bmp or png\n    -z level         : PNG compression, 1 "
    "fastest to 9 smallest (default 6)\n                       against zlib's default, time and "
    "bytes: -z 1 0.2x 1.05x,\n                       -z 4 0.3x 1.01x, -z 6 0.35x 0.99x, -z 9 2.5x "
    "0.87x\n";
const std::string kPackUsage =
    "usage: quorbin-pack [option] [bmp-or-png-file]\n[option]\n    -l list-file     : list file; "
    "put the pictures back into its archives\n    -c arc-dir       : Archive file Directory\n"
    "    -C work-dir      : Work Directory\n    -p palette-file  : Palette of a KZP, BMP or PNG "
    "file to map the colours to\n    -P               : keep the pictures' own Palettes\n    -n "
    "              : map colours the palette lacks to the Nearest ones\n    -d               : "
    "and Dither them (implies -n)\n    -F               : with -l, Fit too-large pictures where "
    "that hardly shows\n    -A               : with -l, Accept the best fit "
    "whatever it shows (implies -F)\n    -s show-dir      : with -l, write the pictures as put "
    "back into Show-dir\n";
const std::string kOptionError = "option error.\n", kSame = "' is the input file.\n",
                  kClosed = "(closed)", kSep = kWindows ? "\\" : "/";
// Files other than plain ones: directories end in '/'; a FIFO or symbolic link, made by a shell
// command; a sparse file (count of zero bytes, ':', the bytes after them); a hard link; a
// read-only file. A file of the starting tree that a row removes is "(gone)" after it.
const std::string kFifo = "(special) mkfifo", kSymlink = "(special) ln -s ",
                  kSparse = "(special) sparse ", kHardLink = "(link) ", kReadOnly = "(read-only) ",
                  kGone = "(gone)";

// A progress line (standard output: \1...\2) without "OK"; `in` may be "archive|entry".
std::string job(std::string in, const std::string& out) {
    const size_t bar = in.find('|'), name = bar == std::string::npos ? 0 : bar + 1;
    if (name) in[bar] = '/';
    const size_t width = in.size() - name;
    return "\1" + in + std::string(width < 16 ? 16 - width : 0, ' ') + " -> " + out + " ... \2";
}

// A run: the command line ("pack:": quorbin-pack; "posix:", "windows:": that host only; "(files
// of 1 KiB)": a shell that lets a program write no more to a file), the files it starts with, its
// output after the banner, the files it adds or changes, exit status, input.
struct Row {
    std::string name;
    std::vector<std::string> args;
    Files before;
    std::string out;
    Files after;
    int status;
    std::string input;
};
Row row(std::string name, std::vector<std::string> args, Files before, std::string out, Files after,
        int status = 0, std::string input = "") {
    return {name, args, before, out, after, status, input};
}

std::vector<Row> rows() {
    using std::to_string;
    auto ok = [](const std::string& in, const std::string& out) {
        return job(in, out) + "\1OK\n\2";
    };
    auto str = [](const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); };
    // A picture's KZP stream, its BMP and PNG files, and the stream packed back (the palette's
    // unused bytes do not reach them).
    struct Image {
        std::string kzp, bmp, png, packed;
    };
    auto image = [&](const Bytes& decoded) {
        const Bytes plain = without_unused(decoded);
        int result;
        return Image{str(lzss_encode(decoded)), expected_bmp(decoded),
                     written(write_png, plain, result), str(lzss_encode(plain))};
    };
    const Image a = image(make_sample_image(kSamplePhoto, 5, 3)),
                b = image(make_sample_image(kSampleNoise, 64, 10)),
                c = image(make_sample_image(kSampleDithered, 6, 5)),
                d = image(make_sample_image(kSampleNoise, 9, 4));
    Bytes zeros(512 * 512 + 1024); // 512 x 512 in colour 0: the stream holds nine times less
    zeros.insert(zeros.end(), {0, 2, 0, 0, 0, 2, 0, 0});
    const Image z = image(zeros);
    auto patched = [&](size_t at, const std::string& bytes) {
        return std::string(a.bmp).replace(at, bytes.size(), bytes);
    };
    auto refused = [&](const std::string& name, const std::string& why) {
        return job(name + ".bmp", "out/" + name + ".kzp") + "'" + name + ".bmp' " + why + "\n";
    };
    // A BMP file of `form` for a picture in its colours, and the stream it packs into.
    std::mt19937 rng(4);
    auto bmp = [&](BmpForm form) {
        const Bytes image = picture(rng, 21, 7, form.bits, 1u << form.bits);
        return std::pair{expected_bmp(image, form), str(lzss_encode(image))};
    };
    const auto rle8 = bmp({40, 0, false, 0, 8, 1}), rle4 = bmp({64, 0, false, 0, 4, 2}),
               one = bmp({12, 0, false, 0, 1});
    // An archive as old game tools wrote it (greedy streams, junk between them): entries A (with
    // bytes in front of its pixels), B, C and D; `put` gives it with entry k holding `image`.
    std::vector<Bytes> e = {
        make_sample_image(kSamplePhoto, 40, 30), make_sample_image(kSamplePhoto, 36, 20),
        make_sample_image(kSampleDithered, 30, 20), make_sample_image(kSamplePhoto, 10, 10)};
    for (Bytes& image : e) // black from index 200 on: a colour at many indices
        std::fill(image.end() - 1032 + 800, image.end() - 8, 0);
    e[0][50] = e[0][51] = 250;
    e[0].insert(e[0].begin(), 16, 'h');
    std::string game = "GAMEDATA", at[4];
    size_t from[4], size[4];
    for (size_t k = 0; k < 4; k++) {
        const std::string stream = str(lzss_encode(e[k], {0, true}));
        from[k] = game.size(), size[k] = stream.size();
        at[k] = "game.dat " + to_string(from[k]) + " " + to_string(size[k]);
        game += stream + "junk";
    }
    auto put = [&](std::string archive, size_t k, const Bytes& image) {
        Bytes stream;
        lzss_encode_after(image.data(), image.size(),
                          reinterpret_cast<const uint8_t*>(game.data()) + from[k], size[k], &stream,
                          {0, false, 0, size[k]});
        return archive.replace(from[k], size[k], str(stream));
    };
    // Edits: one pixel (B's to index 250, which is black like index 200 and others), another
    // palette, noise in C's colours, a pixel of a colour D's palette lacks.
    Bytes a_edit = e[0], b_edit = e[1], c_other = e[2], c_noise = e[2], d_alien = e[3];
    a_edit[16 + 20] = 7, b_edit[3] = 200; // (index 250 in the picture: black too)
    std::fill_n(c_other.end() - 1032, 600, 9);
    c_other = without_unused(c_other);
    for (size_t i = 0; i < 600; i++)
        c_noise[i] = uint8_t(rng() % 200);
    d_alien[4] = 99, d_alien.end()[-1032 + 4 * 99 + 1] ^= 1; // index 99 is not in D
    // B's edited pixel is black, which B's own index there is not: it takes B's most used black.
    Bytes b_mapped = b_edit;
    size_t uses[256] = {};
    for (size_t i = 0; i < 36 * 20; i++)
        uses[e[1][i]]++;
    b_mapped[3] = uint8_t(std::max_element(uses + 200, uses + 256) - uses);
    // -n: D's alien pixel takes the nearest colour of D's palette.
    KzpImage alien_image;
    kzp_image_parse(d_alien.data(), int64_t(d_alien.size()), &alien_image);
    Bytes d_nearest;
    KzpUnmapped mapped{};
    kzp_map_picture(e[3], kzp_image_colours(alien_image), &d_nearest, &mapped, kKzpNearest);
    // D all in its colour 5, which a pixel near it takes as well.
    Bytes keyed = e[3], near_key;
    std::fill(keyed.end() - 1132, keyed.end() - 1032, 5);
    near_key = keyed;
    near_key[4] = 6, near_key.end()[-1032 + 24] = uint8_t(near_key.end()[-1032 + 20] ^ 1);
    std::copy_n(near_key.end() - 1032 + 21, 2, near_key.end() - 1032 + 25);
    char key_far[16];
    std::snprintf(key_far, sizeof key_far, "%.3f",
                  double(delta_e(oklab_of(&near_key.end()[-1032 + 20]),
                                 oklab_of(&near_key.end()[-1032 + 24]))));
    // -F and -A: C's noise changed until it fits C's entry, within the noise.
    KzpImage noise_image;
    kzp_image_parse(c_noise.data(), int64_t(c_noise.size()), &noise_image);
    Bytes c_wanted, edited;
    KzpUnmapped exact{};
    kzp_map_picture(e[2], kzp_image_colours(noise_image), &c_wanted, &exact, kKzpExact, &edited);
    const Fit fit = fit_edit({&e[2], &c_wanted, &edited, nullptr, size[2]});
    const std::string c_needs = to_string(lzss_encode(c_noise).size());
    int result;
    char alien[8], farthest[16], fitted[200], shows[300], over[32];
    std::snprintf(farthest, sizeof farthest, "%.3f", double(mapped.largest));
    const char* changes = "%llu of the edit's %llu pixels%s, by %.3f on average over the edit, "
                          "%.3f seen from a step back, %.3f at most (delta E OK)%s.\n";
    for (bool refused : {false, true})
        std::snprintf(refused ? shows : fitted, 300, changes, (unsigned long long)fit.changed,
                      (unsigned long long)fit.edit, refused ? "" : " changed", double(fit.mean),
                      double(fit.seen), double(fit.largest),
                      refused ? ", which shows: simplify the edit (fewer colours, less detail, a "
                                "smaller area) or take that fit with -A"
                              : "");
    std::snprintf(over, sizeof over, "%lld (%.2f%%) too many",
                  std::stoll(c_needs) - (long long)size[2],
                  100.0 * double(std::stoll(c_needs) - (long long)size[2]) / double(size[2]));
    std::snprintf(alien, sizeof alien, "%02x%02x%02x", d_alien.end()[-1032 + 4 * 99],
                  d_alien.end()[-1032 + 4 * 99 + 1], d_alien.end()[-1032 + 4 * 99 + 2]);
    const std::string lst = at[0] + " gfx\\A.KZP\n" + at[1] + " B.kzp\n" + at[2] + " C.kzp\n" +
                            at[3] + " D.kzp\n" + at[1] + " same.kzp\n",
                      not_held = "pixels of colours that the palette does not hold, the first at "
                                 "(4, 0): #" +
                                 std::string(alien) + ".\n";
    const std::string help = "\1" + kUsage + "\2", junk = "JUNK!!!",
                      at_c = "p.dat 7 " + to_string(c.kzp.size()) + " ",
                      at_d = "p.dat " + to_string(14 + c.kzp.size()) + " " +
                             to_string(d.kzp.size()) + " ";
    // Good entries (one name twice, the shorter last), bad lines, a line read in two pieces, the
    // last entry cut short; 400 times over: 100,000 lines.
    std::string list, list_out;
    for (int i = 0; i < 400; i++)
        list += at_d + "img\\d.kzp fifth\r\n\n" + at_c + "\n" + at_c + "d.kzp\np.dat 7 0 z.kzp\n" +
                "p.dat 999999 10 p.kzp\np.dat -1 5 n.kzp\np.dat 99999999999999999999 1 b.kzp\n" +
                "no.dat 0 1 x.kzp\nl.dat 0 4611686018427387904 h.kzp\nc.dat 0 " +
                to_string(d.kzp.size()) + " c.kzp\n" + std::string(1040, 'x') + " 1 2 y" +
                std::string(237, '\n'),
            list_out += ok("data/p.dat|img\\d.kzp", "out/d.bmp") +
                        ok("data/p.dat|d.kzp", "out/d.bmp") + ok("data/p.dat|z.kzp", "out/z.bmp") +
                        ok("data/p.dat|p.kzp", "out/p.bmp") +
                        "can't seek to offset -1 in 'data/p.dat'.\nbad offset or size for entry "
                        "'b.kzp'.\ncan't open file 'data/no.dat'.\n" +
                        ok("data/l.dat|h.kzp", "out/h.bmp") + job("data/c.dat|c.kzp", "out/c.bmp") +
                        "broken image data for 'out/c.bmp'.\ncan't open file 'data/" +
                        std::string(17, 'x') + "'.\n";
    // -p with other tools' files: Pillow's palette PNG and ImageMagick's true-colour BMP of one
    // picture, and Pillow's grey PNG; palettes from a KZP, a PNG and a BMP file.
    auto data = [](const std::string& name) {
        return read_file(u8path(QUORBIN_TEST_DATA "/truecolour/" + name));
    };
    const std::string colour_png = data("colour.png"), grey_png = data("grey.png");
    const char* why;
    Bytes colour, grey;
    png_read(reinterpret_cast<const uint8_t*>(colour_png.data()), colour_png.size(), &colour, &why);
    png_read(reinterpret_cast<const uint8_t*>(grey_png.data()), grey_png.size(), &grey, &why);
    Bytes greys(1024); // a palette of every grey, in a picture of another size
    for (size_t i = 0; i < 1024; i++)
        greys[i] = i % 4 == 3 ? 0 : uint8_t(i / 4);
    const Bytes grey_palette = kzp_image_bytes(2, 1, greys.data(), greys.data());
    const std::string colour_kzp = str(lzss_encode(colour)), grey_kzp = str(lzss_encode(grey));
    // Names as the host's shells write them.
    const std::string sub_a = "sub" + kSep + "photo.a.kzp", dot_b = "." + kSep + "b.kzp";
    const Files named = {"sub/photo.a.kzp",
                         a.kzp,
                         "b.kzp",
                         a.kzp,
                         "out/",
                         "",
                         "lst",
                         sub_a + " 0 99999 gfx" + kSep + "x.kzp"};
    return {
        row("no arguments", {}, {}, kUsage, {}, 1),
        row("option-like value; no value", {"-c", "-C", "-l", "list", "-C"}, {}, kOptionError, {},
            1),
        row("unknown option, before help", {"-x", "--help", "a.kzp"}, {"a.kzp", a.kzp},
            "Unknown option 'x'.\n" + kOptionError, {}, 1),
        row("help, a letter", {"-hx", "a.kzp"}, {"a.kzp", a.kzp}, help, {}),
        row("help between options", {"-C", "out", "--help", "-x"}, {}, help, {}),
        row("version", {"--version", "a.kzp"}, {"a.kzp", a.kzp},
            "\1quorbin " QUORBIN_VERSION "\n\2", {}),
        row("no such long option", {"--helpme"}, {}, "Unknown option '-'.\n" + kOptionError, {}, 1),
        row("a lone -: its NUL byte", {"-"}, {}, "Unknown option '\0'.\n"s + kOptionError, {}, 1),
        row("pack: a lone -: its NUL byte", {"-", "a.bmp"}, {},
            "Unknown option '\0'.\n"s + kOptionError, {}, 1),
        row("pack: each option alone", {"-n", "-nF", "-l", "x", "a.bmp"}, {},
            "option '-nF' is more than one option; give each alone, as in '-n -F'.\n" +
                kOptionError,
            {}, 1),
        row("single files",
            {"-C", "out/", "", "pic.kzp", "missing.kzp", "empty.kzp", "lone.kzp", "broken.kzp",
             "dir.kzp", "wide.kzp", "-C"},
            {"pic.kzp", a.kzp, "wide.kzp", b.kzp, "empty.kzp", "", "lone.kzp", "\0\x12"s,
             "broken.kzp", str(lzss_encode(Bytes(1031, 7))), "dir.kzp/", "", "out/", ""},
            "can't open file ''.\n" + ok("pic.kzp", "out/pic.bmp") +
                "can't open file 'missing.kzp'.\n" + ok("empty.kzp", "out/empty.bmp") +
                ok("lone.kzp", "out/lone.bmp") + job("broken.kzp", "out/broken.bmp") +
                "broken image data for 'out/broken.bmp'.\ncan't open file 'dir.kzp'.\n" +
                ok("wide.kzp", "out/wide.bmp") + "can't open file '-C'.\n",
            {"out/pic.bmp", a.bmp, "out/wide.bmp", b.bmp, "out/empty.bmp", "", "out/lone.bmp", "",
             "out/broken.bmp", ""}),
        row("names, current directory", {"-l", "lst", sub_a, dot_b}, named,
            ok(sub_a + "|gfx" + kSep + "x.kzp", "x.bmp") + ok(sub_a, "photo.bmp") +
                ok(dot_b, "b.bmp"),
            {"x.bmp", a.bmp, "photo.bmp", a.bmp, "b.bmp", a.bmp}),
        row("names, work directory", {"-C", "out", sub_a, dot_b}, named,
            ok(sub_a, "out" + kSep + "photo.bmp") + ok(dot_b, "out" + kSep + "b.bmp"),
            {"out/photo.bmp", a.bmp, "out/b.bmp", a.bmp}),
        row("posix: absolute names", {"-C", "/proc/self/cwd/out/", "/proc/self/cwd/" + sub_a},
            named, ok("/proc/self/cwd/" + sub_a, "/proc/self/cwd/out/photo.bmp"),
            {"out/photo.bmp", a.bmp}),
        row("never overwrites its input", {"-C", "./", "-l", "lst.bmp", "self.bmp", "twin.abc"},
            {"self.bmp", a.kzp, "twin.abc", a.kzp, "twin.bmp", kHardLink + "twin.abc", "arc.bmp",
             a.kzp, "lst.bmp", "arc.bmp 0 99 arc.kzp\narc.bmp 0 99 lst.kzp\n"},
            job("arc.bmp|arc.kzp", "./arc.bmp") + "output file './arc.bmp" + kSame +
                job("arc.bmp|lst.kzp", "./lst.bmp") + "output file './lst.bmp" + kSame +
                job("self.bmp", "./self.bmp") + "output file './self.bmp" + kSame +
                job("twin.abc", "./twin.bmp") + "output file './twin.bmp" + kSame,
            {}),
        row("a list file", {"-Cx", "x/", "-c", "data/", "-C", "out/", "-lx", "list.txt"},
            {"data/p.dat", junk + c.kzp + junk + d.kzp, "data/l.dat", d.kzp, "data/c.dat",
             d.kzp.substr(0, d.kzp.size() / 2), "out/", "", "list.txt", list},
            list_out,
            {"out/d.bmp", c.bmp, "out/h.bmp", d.bmp, "out/z.bmp", "", "out/p.bmp", "", "out/c.bmp",
             ""}),
        row("empty list file name", {"-l", "", "a.kzp"}, {"a.kzp", a.kzp},
            "cat't open list file ''.\n" + ok("a.kzp", "a.bmp"), {"a.bmp", a.bmp}),
        row("standard input closed", {"-l", "-"}, {}, "", {}, 0, kClosed),
        row("list on stdin; Ctrl-Z is data", {"-l", "-"}, {"a.dat", a.kzp},
            ok("a.dat|f.kzp", "f.bmp") + ok("a.dat|g.kzp", "g.bmp"),
            {"f.bmp", a.bmp, "g.bmp", a.bmp}, 0,
            "a.dat 0 " + to_string(a.kzp.size()) + " f.kzp\n\x1a\r\na.dat 0 " +
                to_string(a.kzp.size()) + " g.kzp\r\n"),
        row("posix: a pipe", {"in.kzp"}, {"in.kzp", kSymlink + "/dev/stdin"},
            ok("in.kzp", "in.bmp"), {"in.bmp", z.bmp}, 0, z.kzp),
        row("posix: an empty pipe", {"in.kzp"}, {"in.kzp", kSymlink + "/dev/stdin"},
            ok("in.kzp", "in.bmp"), {"in.bmp", ""}),
        row("an entry past 4 GiB", {"-l", "list"},
            {"big.dat", kSparse + "4294967303:" + a.kzp, "list", "big.dat 4294967303 99999 e.kzp"},
            ok("big.dat|e.kzp", "e.bmp"), {"e.bmp", a.bmp}),
        row("posix: more memory than there is", {"-l", "list"},
            {"s.dat", kSparse + "1099511627775:x", "list", "s.dat 0 1099511627776 h.kzp"},
            job("s.dat|h.kzp", "h.bmp") + "out of memory for 'h.bmp'.\n", {"h.bmp", ""}),
        row("posix: outputs that are no files", {"full.kzp", "pipe.kzp"},
            {"full.kzp", a.kzp, "pipe.kzp", a.kzp, "full.bmp", kSymlink + "/dev/full", "pipe.bmp",
             kFifo},
            job("full.kzp", "full.bmp") + "can't write file 'full.bmp'.\n" +
                job("pipe.kzp", "pipe.bmp") + "can't create file 'pipe.bmp'.\n",
            {}),
        row("windows: letter case", {"-C", "out", "out\\SELF.BMP"}, {"out/self.bmp", a.kzp},
            job("out\\SELF.BMP", "out\\SELF.bmp") + "output file 'out\\SELF.bmp" + kSame, {}),
        row("a name beyond ASCII", {"été 日.kzp"}, {"été 日.kzp", a.kzp},
            ok("été 日.kzp", "été 日.bmp"), {"été 日.bmp", a.bmp}),
        row("unknown format", {"-f", "gif", "a.kzp"}, {"a.kzp", a.kzp},
            "Unknown format 'gif'.\n" + kOptionError, {}, 1),
        row("unknown level", {"-z", "10", "a.kzp"}, {"a.kzp", a.kzp},
            "Unknown level '10'; -z takes 1 (fastest) to 9 (smallest).\n" + kOptionError, {}, 1),
        row("png: all jobs, no pixels, old file kept",
            {"-f", "Png", "-C", "out/", "-l", "lst", "a.kzp", "empty.kzp", "broken.kzp"},
            {"a.kzp", a.kzp, "empty.kzp", "", "broken.kzp", str(lzss_encode(Bytes(1031, 7))),
             "out/broken.png", "old", "c.dat", c.kzp, "lst", "c.dat 0 99999 c.kzp"},
            ok("c.dat|c.kzp", "out/c.png") + ok("a.kzp", "out/a.png") +
                job("empty.kzp", "out/empty.png") + "image for 'out/empty.png' has no pixels.\n" +
                job("broken.kzp", "out/broken.png") + "broken image data for 'out/broken.png'.\n",
            {"out/c.png", c.png, "out/a.png", a.png}),
        row("png: never overwrites its input", {"-f", "png", "x.png"}, {"x.png", a.kzp},
            job("x.png", "x.png") + "output file 'x.png" + kSame, {}),
        row("pack: no file", {"-C", "out"}, {}, kPackUsage, {}, 1),
        row("pack: -p with -l", {"-p", "x", "-l", "y", "a.bmp"}, {},
            "options -p and -l exclude each other.\n" + kOptionError, {}, 1),
        row("pack: help", {"-h"}, {}, "\1" + kPackUsage + "\2", {}),
        row("pack: version", {"--version"}, {}, "\1quorbin-pack " QUORBIN_VERSION "\n\2", {}),
        row("pack: an edited picture", {"-C", "out/", "edit" + kSep + "t.bmp"},
            {"edit/t.bmp", a.bmp, "out/", ""}, ok("edit" + kSep + "t.bmp", "out/t.kzp"),
            {"out/t.kzp", a.packed}),
        row("pack: files",
            {"-C", "out/", "a.bmp", "deep.bmp", "no.bmp", "missing.bmp", "in.bmp", "cut.bmp",
             "huge.bmp", "w.b.bmp"},
            {"a.bmp", a.bmp, "deep.bmp", patched(28, "\x18"), "no.bmp", "", "in.bmp", a.bmp,
             "w.b.bmp", b.bmp, "cut.bmp", a.bmp.substr(0, a.bmp.size() - 1), "huge.bmp",
             std::string(rle8.first).replace(18, 8, le32(1 << 15) + le32(1 << 14)), "out/", "",
             "out/in.kzp", kHardLink + "in.bmp"},
            ok("a.bmp", "out/a.kzp") +
                refused("deep", "is a 24-bit true-colour BMP file; only 1-, 4- and 8-bit palette "
                                "BMP files can be packed: save it as an 8-bit indexed picture (256 "
                                "colours or fewer) first.") +
                refused("no", "is neither a BMP nor a PNG file; save it as an 8-bit indexed BMP or "
                              "PNG file (256 colours or fewer) first.") +
                "can't open file 'missing.bmp'.\n" + job("in.bmp", "out/in.kzp") +
                "output file 'out/in.kzp" + kSame +
                refused("cut", "is a damaged BMP file: it ends before its last row.") +
                refused("huge", "has more pixels than quorbin-pack takes (268435456).") +
                ok("w.b.bmp", "out/w.kzp"),
            {"out/a.kzp", a.packed, "out/w.kzp", b.packed}, 2),
        row("pack: RLE8, RLE4, 1 bit", {"rle8.bmp", "rle4.bmp", "one.bmp"},
            {"rle8.bmp", rle8.first, "rle4.bmp", rle4.first, "one.bmp", one.first},
            ok("rle8.bmp", "rle8.kzp") + ok("rle4.bmp", "rle4.kzp") + ok("one.bmp", "one.kzp"),
            {"rle8.kzp", rle8.second, "rle4.kzp", rle4.second, "one.kzp", one.second}),
        row("pack: back into the archive in place, one picture per entry",
            {"-l", "game.lst", "edit" + kSep + "A.bmp", "C.png", "A.bmp", "E.bmp"},
            {"game.dat", game, "game.dat.part", "left by a killed run", "old/game.dat", game,
             "game.lst", lst + "old" + kSep + at[3] + " E.kzp\n", "edit/A.bmp",
             expected_bmp(a_edit), "C.png", written(write_png, shuffle_palette(e[2], 7), result),
             "A.bmp", expected_bmp(e[0]), "E.bmp", rgb_bmp(e[3])},
            job("A.bmp", "game.dat/gfx\\A.KZP") +
                "'A.bmp' is a second picture for entry 'gfx\\A.KZP' of 'game.dat'.\n" +
                ok("edit" + kSep + "A.bmp", "game.dat/gfx\\A.KZP") + ok("C.png", "game.dat/C.kzp") +
                ok("E.bmp", "old" + kSep + "game.dat/E.kzp"),
            {"game.dat", put(put(game, 0, a_edit), 2, e[2]), "game.dat.part", kGone, "old/game.dat",
             put(game, 3, e[3])},
            2),
        row("pack: true colour into a copy", {"-C", "out/", "-l", "game.lst", "B.bmp", "E.bmp"},
            {"game.dat", game, "old/game.dat", game, "game.lst",
             lst + "old" + kSep + at[3] + " E.kzp\n", "B.bmp", rgb_bmp(b_edit), "E.bmp",
             rgb_bmp(e[3]), "out/", ""},
            job("E.bmp", "out/game.dat/E.kzp") +
                "output file 'out/game.dat' is another archive of the list file or written for "
                "one.\n" +
                ok("B.bmp", "out/game.dat/B.kzp"),
            {"out/game.dat", put(game, 1, b_mapped)}, 2),
        row("pack: the archive where the list names it, not one of its name here; its other "
            "hard link keeps the old file",
            {"-c", "game/", "-l", "game/game.lst", "B.bmp"},
            {"game/game.dat", game, "game/game.lst", lst, "game/twin.dat",
             kHardLink + "game/game.dat", "game.dat", "BACKUP", "B.bmp", rgb_bmp(b_edit)},
            ok("B.bmp", "game/game.dat/B.kzp"), {"game/game.dat", put(game, 1, b_mapped)}),
        row("posix: pack: a linked archive: its target replaced, the link kept",
            {"-l", "link.lst", "B.bmp"},
            {"real/game.dat", game, "link.dat", kSymlink + "real/game.dat", "link.lst",
             "link.dat" + at[1].substr(8) + " B.kzp\n", "B.bmp", rgb_bmp(b_edit)},
            ok("B.bmp", "link.dat/B.kzp"), {"real/game.dat", put(game, 1, b_mapped)}),
        row("pack: a read-only archive", {"-l", "game.lst", "B.bmp"},
            {"game.dat", kReadOnly + game, "game.lst", lst, "B.bmp", rgb_bmp(b_edit)},
            job("B.bmp", "game.dat/B.kzp") + "'game.dat' is read-only.\n", {}, 2),
        row("pack: -n takes a colour the palette lacks", {"-n", "-l", "game.lst", "D.bmp"},
            {"game.dat", game, "game.lst", lst, "D.bmp", rgb_bmp(d_alien)},
            ok("D.bmp", "game.dat/D.kzp") +
                "'D.bmp' has 1 pixels of colours that the palette does "
                "not hold; they took the nearest ones, the farthest " +
                farthest + " away (delta E OK).\n",
            {"game.dat", put(game, 3, d_nearest)}),
        row("pack: -F refuses a fit that shows, and writes nothing; -A takes it, -s shows it",
            {"-F", "-l", "game.lst", "C.png"},
            {"game.dat", game, "game.lst", lst, "C.png", written(write_png, c_noise, result)},
            job("C.png", "game.dat/C.kzp") + "'C.png' needs " + c_needs +
                " bytes; the entry holds " + to_string(size[2]) + ": " + over +
                ", and the best fit changes " + shows,
            {}, 2),
        row("pack: -A takes the best fit; -s writes the picture as it went back",
            {"-A", "-s", "show", "-l", "game.lst", "C.png"},
            {"game.dat", game, "game.lst", lst, "C.png", written(write_png, c_noise, result),
             "show/", ""},
            ok("C.png", "game.dat/C.kzp") + "'C.png' fits the entry's " + to_string(size[2]) +
                " bytes with " + fitted,
            {"game.dat", put(game, 2, fit.image), "show/C.bmp", expected_bmp(fit.image)}),
        row("pack: -d says it dithered, and names the pixels that took the corners' colour",
            {"-d", "-p", "pal.kzp", "key.bmp"},
            {"pal.kzp", str(lzss_encode(e[3])), "key.bmp", rgb_bmp(near_key)},
            ok("key.bmp", "key.kzp") +
                "'key.bmp' has 1 pixels of colours that the palette does not "
                "hold; they were dithered with the nearest ones, the farthest " +
                key_far +
                " away (delta E OK).\n'key.bmp' has 1 pixels that took index 5, the colour of the "
                "picture's corners and likely its transparency key, without being that colour, "
                "the first at (4, 0).\n",
            {"key.kzp", str(lzss_encode(keyed))}),
        row("pack: -P keeps the picture's palette", {"-P", "-l", "game.lst", "C.bmp"},
            {"game.dat", game, "game.lst", lst, "C.bmp", expected_bmp(c_other)},
            ok("C.bmp", "game.dat/C.kzp"), {"game.dat", put(game, 2, c_other)}),
        row("pack: -p maps loose pictures", {"-p", "pal.kzp", "D.bmp", "x.bmp", "pal.bmp"},
            {"pal.kzp", str(lzss_encode(e[3])), "D.bmp", rgb_bmp(e[3]), "x.bmp", rgb_bmp(d_alien),
             "pal.bmp", rgb_bmp(e[3])},
            ok("D.bmp", "D.kzp") + job("x.bmp", "x.kzp") + "'x.bmp' has 1 " + not_held +
                job("pal.bmp", "pal.kzp") + "output file 'pal.kzp" + kSame,
            {"D.kzp", str(lzss_encode(e[3]))}, 2),
        row("pack: pictures refused for their entries",
            {"-l", "bad.lst", "none.bmp", "dup.bmp", "junk.bmp", "B.bmp", "A.bmp", "C.png",
             "D.bmp"},
            {"game.dat", game, "bad.lst",
             lst + "game.dat 0 8 junk.kzp\ngame.dat " + to_string(from[1] + 4) + " 3 over.kzp\n" +
                 "game.dat " + to_string(game.size() - 3) + " 1 dup.kzp\ngame.dat " +
                 to_string(game.size() - 2) + " 1 dup.kzp\n",
             "none.bmp", "", "dup.bmp", "", "junk.bmp", "", "B.bmp", "", "A.bmp",
             expected_bmp(e[3]), "C.png", written(write_png, c_noise, result), "D.bmp",
             rgb_bmp(d_alien)},
            "no entry of the list file has the name of 'none.bmp'.\n'dup.bmp' has the name of 2 "
            "different entries of the list file; give only the line of the wanted one, as in: grep "
            "' " +
                to_string(game.size() - 3) + " ' LIST | quorbin-pack -l - ... dup.bmp\n" +
                job("junk.bmp", "game.dat/junk.kzp") +
                "entry 'junk.kzp' of 'game.dat' does not decode to an image.\n" +
                job("B.bmp", "game.dat/B.kzp") +
                "entry 'B.kzp' of 'game.dat' overlaps another entry of the list file; writing it "
                "would change that one.\n" +
                job("A.bmp", "game.dat/gfx\\A.KZP") +
                "'A.bmp' is 10 x 10 pixels; entry 'gfx\\A.KZP' is 40 x 30.\n" +
                job("C.png", "game.dat/C.kzp") + "'C.png' needs " + c_needs +
                " bytes; the entry holds " + to_string(size[2]) + ": " + over +
                " (-F fits it where that hardly shows).\n" + job("D.bmp", "game.dat/D.kzp") +
                "'D.bmp' has 1 " + not_held,
            {}, 2),
        row("posix: pack: a part file that cannot be made",
            {"-C", "out/", "-l", "game.lst", "B.bmp"},
            {"game.dat", game, "game.lst", lst, "B.bmp", rgb_bmp(e[1]), "out/game.dat.part",
             kSymlink + "/dev/full"},
            job("B.bmp", "out/game.dat/B.kzp") + "can't create file 'out/game.dat.part'.\n", {}, 2),
        row("posix: pack: a full disk (files of 1 KiB)", {"-l", "game.lst", "B.bmp"},
            {"game.dat", game, "game.lst", lst, "B.bmp", rgb_bmp(b_edit)},
            job("B.bmp", "game.dat/B.kzp") + "can't write file 'game.dat'.\n", {}, 2),
        row("pack: -p maps every kind of picture; the palette from a PNG file",
            {"-p", "colour.png", "im24.bmp", "colour.png", "shuffled.bmp"},
            {"im24.bmp", data("im24.bmp"), "colour.png", colour_png, "shuffled.bmp",
             expected_bmp(shuffle_palette(colour, 5))},
            ok("im24.bmp", "im24.kzp") + ok("colour.png", "colour.kzp") +
                ok("shuffled.bmp", "shuffled.kzp"),
            {"im24.kzp", colour_kzp, "colour.kzp", colour_kzp, "shuffled.kzp", colour_kzp}),
        row("pack: -p from a BMP file to grey", {"-p", "greys.bmp", "grey.png"},
            {"greys.bmp", expected_bmp(grey_palette), "grey.png", grey_png},
            ok("grey.png", "grey.kzp"), {"grey.kzp", grey_kzp}),
        row("pack: PNG files", {"shot.bmp", "rgb.png", "big.png", "cut.png"},
            {"shot.bmp", a.png, "rgb.png", png_file({{"IHDR", be32(1) + be32(1) + "\10\2\0\0\0"s}}),
             "big.png", png_file({{"IHDR", be32(1 << 15) + be32(1 << 15) + "\10\3\0\0\0"s}}),
             "cut.png", a.png.substr(0, a.png.size() - 12)},
            ok("shot.bmp", "shot.kzp") + job("rgb.png", "rgb.kzp") +
                "'rgb.png' is a true-colour PNG file; only palette or grey images of up to 8 bits "
                "can be packed: save it as an indexed picture (256 colours or fewer) first.\n" +
                job("big.png", "big.kzp") +
                "'big.png' has more pixels than quorbin-pack takes (268435456).\n" +
                job("cut.png", "cut.kzp") +
                "'cut.png' is a damaged PNG file: it ends before its IEND chunk.\n",
            {"shot.kzp", a.packed}, 2),
        row("posix: pack: failed write", {"full.bmp"},
            {"full.bmp", a.bmp, "full.kzp.part", kSymlink + "/dev/full"},
            job("full.bmp", "full.kzp") + "can't write file 'full.kzp'.\n", {}, 2),
        row("pack: part file", {"p.kzp.part"}, {"p.kzp.part", a.bmp},
            job("p.kzp.part", "p.kzp") + "output file 'p.kzp.part" + kSame, {}, 2),
    };
}

// Every file below `root` and its contents; no regular file, or an unreadable one: "(special)".
std::map<std::string, std::string> read_tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::u8string name = entry.path().lexically_relative(root).generic_u8string();
        const bool plain =
            entry.is_regular_file() && !entry.is_symlink() &&
            (entry.status().permissions() & fs::perms::owner_read) != fs::perms::none;
        if (!entry.is_directory())
            tree[std::string(name.begin(), name.end())] =
                plain && entry.file_size() < (1u << 30) ? read_file(entry.path()) : "(special)";
    }
    return tree;
}

// An argument quoted for the host's shell (POSIX) or C runtime (Windows).
std::string quote(std::string arg) {
    if (kWindows) // backslashes before the closing quote are doubled
        return '"' + arg + std::string(arg.size() - arg.find_last_not_of('\\') - 1, '\\') + '"';
    for (size_t at = 0; (at = arg.find('\'', at)) != std::string::npos; at += 4)
        arg.replace(at, 1, "'\\''");
    return "'" + arg + "'";
}

// Runs `program` in `dir` (POSIX: by the shell, behind QUORBIN_E2E_CHECKER if set): exit status,
// standard output and error (`merged`: both as the output), given `input` (null: closed, POSIX).
std::tuple<int, std::string, std::string> run_program(const std::string& program,
                                                      const std::vector<std::string>& args,
                                                      const fs::path& dir, const fs::path& io,
                                                      const std::string* input, bool merged,
                                                      const std::string& prefix = "") {
    write_file(io / "in", input ? *input : "");
#ifdef _WIN32
    std::string line = quote(u8name(u8path(program)));
    for (const std::string& arg : args)
        line += " " + quote(arg);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    auto open = [&](const char* name, bool writing) {
        return CreateFileW((io / name).c_str(), writing ? GENERIC_WRITE : GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = open("in", false), start.hStdOutput = open("out", true);
    start.hStdError = merged ? start.hStdOutput : open("err", true);
    PROCESS_INFORMATION process{};
    std::wstring command = u8path(line).wstring();
    DWORD status = DWORD(-1);
    bool started = false;
    for (int tries = 0;
         !(started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                    dir.wstring().c_str(), &start, &process)) &&
         tries < 20;
         tries++)
        Sleep(100);
    EXPECT_TRUE(started) << line << ": error " << GetLastError();
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(start.hStdInput);
    CloseHandle(start.hStdOutput);
    if (!merged) CloseHandle(start.hStdError);
    (void)prefix; // the rows that need one are POSIX's
#else
    const std::string in = quote(u8name(io / "in")), out = quote(u8name(io / "out"));
    std::string line = prefix + "cd " + quote(u8name(dir)) + " && ";
    if (input) line += "cat " + in + " | ";
    if (const char* checker = std::getenv("QUORBIN_E2E_CHECKER"))
        line += std::string(checker) + " ";
    line += quote(u8name(u8path(program)));
    for (const std::string& arg : args)
        line += " " + quote(arg);
    line +=
        " >" + out + (merged ? " 2>&1" : " 2>" + quote(u8name(io / "err"))) + (input ? "" : " <&-");
    const int status = std::system(line.c_str()) >> 8; // the wait status's exit code
#endif
    return {int(status), read_file(io / "out"), merged ? "" : read_file(io / "err")};
}

// Makes one file of a row's starting tree.
void put(const fs::path& root, const std::string& name, const std::string& contents) {
    const fs::path path = root / u8path(name);
    fs::create_directories(name.ends_with('/') ? path : path.parent_path());
    if (contents.starts_with(kHardLink))
        fs::create_hard_link(root / contents.substr(kHardLink.size()), path);
    else if (contents.starts_with(kSparse))
        std::ofstream(path, std::ios::binary).seekp(std::stoll(contents.substr(kSparse.size())))
            << contents.substr(contents.find(':') + 1);
    else if (contents.starts_with(kReadOnly)) {
        write_file(path, contents.substr(kReadOnly.size()));
        fs::permissions(path,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    } else if (contents.starts_with("(special) ")) // a command makes it
        EXPECT_EQ(std::system((contents.substr(10) + " " + quote(u8name(path))).c_str()), 0);
    else if (!name.ends_with('/'))
        write_file(path, contents);
}

TEST(E2E, Table) {
    TempDir io;
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.name);
        if (row.name.starts_with(kWindows ? "posix:" : "windows:")) continue;
        const char* only = std::getenv("QUORBIN_E2E_ROWS"); // rows whose names hold this text
        if (only && row.name.find(only) == std::string::npos) continue;
        // Not where 1 TiB would be granted (decoding it takes hours), nor under ASan.
        if (row.name.ends_with("there is") &&
            (read_file("/proc/sys/vm/overcommit_memory") == "1\n" || std::getenv("ASAN_OPTIONS")))
            continue;
        const bool pack = row.name.find("pack:") != std::string::npos;
        std::map<std::string, std::string> before, expected;
        for (size_t i = 0; i < row.before.size(); i += 2)
            before[row.before[i]] = row.before[i + 1];
        for (const auto& [name, c] : before) // a hard link sorts after its file
            if (!name.ends_with('/'))
                expected[name] = c.starts_with(kHardLink) ? before[c.substr(7)]
                                 : c.starts_with(kReadOnly)
                                     ? c.substr(kReadOnly.size())
                                     : c.substr(0, c.starts_with("(sp") ? 9 : -1);
        for (size_t i = 0; i < row.after.size(); i += 2)
            if (row.after[i + 1] == kGone)
                expected.erase(row.after[i]);
            else
                expected[row.after[i]] = row.after[i + 1];
        // As many at once as there are processors, five, and one at a time: the same in every way.
        for (const char* jobs : {"", "5", "1"}) {
            const bool merged = jobs[0] == '5';
            std::vector<std::string> args = row.args;
            if (*jobs) args.insert(args.begin(), {"-j", jobs});
            TempDir work;
            std::string want[3] = {pack ? "quorbin-pack - BMP to KZP packer" + std::string(31, ' ')
                                        : "quorbin - KZP to BMP converter" + std::string(33, ' ')};
            want[2] = want[0] += "2026 The quorbin authors\n"; // standard error, output, both
            for (bool to_out = false; char ch : row.out)
                ch == 1 || ch == 2 ? void(to_out = ch == 1)
                                   : void((want[to_out] += ch, want[2] += ch));
            for (const auto& [name, contents] : before)
                put(work.path, name, contents);
            auto [status, out, err] =
                run_program(pack ? QUORBIN_PACK_BINARY : QUORBIN_BINARY, args, work.path, io.path,
                            row.input == kClosed ? nullptr : &row.input, merged,
                            row.name.find("(files of 1 KiB)") != std::string::npos
                                ? "trap '' XFSZ; ulimit -f 1; "
                                : "");
            std::erase(out, '\r'); // the host's line ends
            std::erase(err, '\r');
            EXPECT_EQ(status, row.status);
            EXPECT_EQ(out, want[merged ? 2 : 1]);
            EXPECT_EQ(err, merged ? "" : want[0]);
            EXPECT_TRUE(read_tree(work.path) == expected) << "the files left behind differ";
            std::error_code ignored; // read-only files made writable, to be removed
            for (const auto& entry : fs::recursive_directory_iterator(work.path))
                if (!entry.is_symlink())
                    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add,
                                    ignored);
        }
    }
}

// Runs at once that put pictures back into one archive, each into an entry of its own: every
// edit is in.
TEST(E2E, PutBacksAtOnce) {
    const size_t runs = kWindows ? 4 : 8;
    TempDir work;
    const Bytes image = make_sample_image(kSamplePhoto, 16, 12);
    const Bytes stream = lzss_encode(image, {0, true});
    std::string game, list, want, name[8];
    for (size_t k = 0; k < runs; k++) {
        Bytes edit = without_unused(image), fitted;
        edit[k] = edit[k + 1];
        lzss_encode_after(edit.data(), edit.size(), stream.data(), stream.size(), &fitted,
                          {0, false, 0, stream.size()});
        name[k] = "E" + std::to_string(k);
        list += "game.dat " + std::to_string(game.size()) + " " + std::to_string(stream.size()) +
                " " + name[k] + ".kzp\n";
        game.append(stream.begin(), stream.end());
        want.append(fitted.begin(), fitted.end());
        write_file(work.path / (name[k] + ".bmp"), expected_bmp(edit));
    }
    write_file(work.path / "game.dat", game);
    write_file(work.path / "game.lst", list);
    std::vector<std::tuple<int, std::string, std::string>> results(runs);
    std::vector<TempDir> io(runs);
    std::vector<std::thread> threads;
    for (size_t k = 0; k < runs; k++)
        threads.emplace_back([&, k] {
            results[k] =
                run_program(QUORBIN_PACK_BINARY, {"-P", "-l", "game.lst", name[k] + ".bmp"},
                            work.path, io[k].path, nullptr, false);
        });
    for (size_t k = 0; k < runs; k++) {
        threads[k].join();
        auto [status, out, err] = results[k];
        std::erase(out, '\r');
        EXPECT_EQ(status, 0) << err;
        EXPECT_EQ(out, name[k] + ".bmp           -> game.dat/" + name[k] + ".kzp ... OK\n");
    }
    EXPECT_TRUE(read_file(work.path / "game.dat") == want) << "an edit was lost";
    EXPECT_EQ(std::distance(fs::directory_iterator(work.path), {}), ptrdiff_t(runs) + 2);
}

// A picture that changes nothing leaves its archive as it was: not even written anew (its other
// hard link is still the same file).
TEST(E2E, UnchangedPictureLeavesTheArchive) {
    TempDir work, io;
    const Bytes image = without_unused(make_sample_image(kSamplePhoto, 16, 12));
    const Bytes stream = lzss_encode(image, {0, true});
    write_file(work.path / "game.dat", std::string(stream.begin(), stream.end()));
    fs::create_hard_link(work.path / "game.dat", work.path / "twin.dat");
    write_file(work.path / "game.lst", "game.dat 0 " + std::to_string(stream.size()) + " E.kzp\n");
    write_file(work.path / "E.bmp", expected_bmp(image));
    auto [status, out, err] = run_program(QUORBIN_PACK_BINARY, {"-F", "-l", "game.lst", "E.bmp"},
                                          work.path, io.path, nullptr, false);
    std::erase(out, '\r');
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(out, "E.bmp            -> game.dat/E.kzp ... OK\n");
    EXPECT_TRUE(fs::equivalent(work.path / "game.dat", work.path / "twin.dat"));
    EXPECT_EQ(std::distance(fs::directory_iterator(work.path), {}), 4);
}
