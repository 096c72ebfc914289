// Runs quorbin and quorbin-pack in a scratch directory, a row of a table at a
// time: their output, exit status and every file left behind, byte for byte.
#include <gtest/gtest.h>

#include "lzss/lzss.h"
#include "sample_images.h"
#include "test_util.h"

using Tree = std::map<std::string, std::string>;

// clang-format off
std::string str(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::string banner(const std::string& title) { return title + std::string(63 - title.size(), ' ') + "2026 The quorbin authors\n"; }
const std::string kUsage = "usage: quorbin [option] [kzp-file]\n[option]\n    -l list-file     : list file\n"
                           "    -c arc-dir       : Archive file Directory\n    -C work-dir      : Work Directory\n";
const std::string kTitle = "quorbin - KZP to BMP converter", kPackTitle = "quorbin-pack - BMP to KZP packer";
const std::string kOptionError = "option error.\n", kSame = "' is the input file.\n", kClosed = "(closed)";
// Starting tree entries other than files: directories end in '/'; a FIFO, a symbolic link (kSymlink + its target), both
// made by a shell command; a sparse file (kSparse + a count of zero bytes + ':' + the bytes after them); a hard link.
const std::string kFifo = "(special) mkfifo", kSymlink = "(special) ln -s ", kSparse = "(special) sparse ", kHardLink = "(link) ";

// A picture as its KZP stream, the BMP file quorbin must write for it, and the KZP stream quorbin-pack must write back.
struct Image { std::string kzp, bmp, packed; };

Image image(Bytes decoded) {
    const std::string kzp = str(lzss_encode(decoded)), bmp = expected_bmp(decoded);
    for (size_t unused = decoded.size() - 1029; unused < decoded.size() - 8; unused += 4)
        decoded[unused] = 0; // the palette's unused bytes do not reach the BMP file
    return {kzp, bmp, str(lzss_encode(decoded))};
}

// A progress line as the programs print it to standard output (marked \1...\2),
// without its "OK" and with it; `in` may name an archive entry as "archive|entry".
std::string job(std::string in, const std::string& out) {
    const size_t bar = in.find('|'), name = bar == std::string::npos ? 0 : bar + 1;
    if (name) in[bar] = '/';
    return "\1" + in + std::string(in.size() - name < 16 ? 16 - (in.size() - name) : 0, ' ') + " -> " + out + " ... \2";
}
std::string ok(const std::string& in, const std::string& out) { return job(in, out) + "\1OK\n\2"; }
// clang-format on

struct Row {
    std::string name; // "posix:", "windows:": on that host only; with "pack:", quorbin-pack
    std::vector<std::string> args;
    Tree before;     // the files it starts with
    std::string out; // standard output and error in order (see job()), after the banner
    Tree after;      // files the run adds or changes; all else stays as it was
    int status = 0;
    std::string input = ""; // standard input; kClosed: closed
};

// clang-format off
std::vector<Row> rows() {
    using std::to_string;
    const Image a = image(make_sample_image(kSamplePhoto, 5, 3)), b = image(make_sample_image(kSampleNoise, 64, 10)),
                c = image(make_sample_image(kSampleDithered, 6, 5)), d = image(make_sample_image(kSampleNoise, 9, 4));
    Bytes zeros(512 * 512 + 1024); // 512 x 512 in colour 0: the stream holds nine times less
    zeros.insert(zeros.end(), {0, 2, 0, 0, 0, 2, 0, 0});
    const Image z = image(zeros);
    auto patched = [&](size_t at, const std::string& bytes) { return std::string(a.bmp).replace(at, bytes.size(), bytes); };
    auto refused = [&](const std::string& name, const std::string& why) {
        return job(name + ".bmp", "out/" + name + ".kzp") + "'" + name + ".bmp' " + why + "\n"; };
    const std::string broken = str(lzss_encode(Bytes(1031, 7))), junk = "JUNK!!!";
    const std::string at_c = "pack.dat 7 " + to_string(c.kzp.size()) + " ",
                      at_d = "pack.dat " + to_string(2 * junk.size() + c.kzp.size()) + " " + to_string(d.kzp.size()) + " ";
    // A list of good entries and every kind of bad line; the last entry is cut short.
    const std::string list = at_c + "first.kzp\r\n\n" + at_c + "\n" + at_d + "img\\second.kzp fifth field\n" + at_c +
        "dup.kzp\n" + at_d + "dup.kzp\npack.dat 7 0 zero.kzp\npack.dat 999999 10 past.kzp\npack.dat -1 5 neg.kzp\n"
        "pack.dat 99999999999999999999 1 big.kzp\nnope.dat 0 1 x.kzp\nlast.dat 0 4611686018427387904 huge.kzp\n"
        "cut.dat 0 " + to_string(d.kzp.size()) + " cut.kzp";
    const std::string list_out = ok("data/pack.dat|first.kzp", "out/first.bmp") +
        ok("data/pack.dat|img\\second.kzp", "out/second.bmp") + ok("data/pack.dat|dup.kzp", "out/dup.bmp") +
        ok("data/pack.dat|dup.kzp", "out/dup.bmp") + ok("data/pack.dat|zero.kzp", "out/zero.bmp") +
        ok("data/pack.dat|past.kzp", "out/past.bmp") + "can't seek to offset -1 in 'data/pack.dat'.\nbad offset or size "
        "for entry 'big.kzp'.\ncan't open file 'data/nope.dat'.\n" + ok("data/last.dat|huge.kzp", "out/huge.bmp") +
        job("data/cut.dat|cut.kzp", "out/cut.bmp") + "broken image data for 'out/cut.bmp'.\n";
    const Tree list_files = {{"data/pack.dat", junk + c.kzp + junk + d.kzp}, {"data/last.dat", d.kzp},
                             {"data/cut.dat", d.kzp.substr(0, d.kzp.size() / 2)}, {"out/", ""}, {"list.txt", list}};
    const Tree list_outputs = {{"out/first.bmp", c.bmp}, {"out/second.bmp", d.bmp}, {"out/dup.bmp", d.bmp},
                               {"out/huge.bmp", d.bmp}, {"out/zero.bmp", ""}, {"out/past.bmp", ""}, {"out/cut.bmp", ""}};
    // The list and 237 lines of junk, 400 times over: 100,000 lines, every good
    // entry converted each time, every bad one reported, and the run goes on.
    std::string long_list, long_out;
    for (int i = 0; i < 400; i++)
        long_list += list + "\n\n\nx 0x10 5 y\n\n\n\npack.dat 1 2\n\n\n\n\nx 1 y\n" + std::string(225, '\n'), long_out += list_out;
    return {
        {"no arguments", {}, {}, kUsage, {}, 1},
        {"an archive directory alone, named like an option", {"-c", "-C"}, {}, kUsage, {}, 1},
        {"last option without its value", {"-l", "list", "-C"}, {}, kOptionError, {}, 1},
        {"unknown option", {"-x", "a.kzp"}, {{"a.kzp", a.kzp}}, "Unknown option 'x'.\n" + kOptionError, {}, 1},
        {"a lone dash", {"-C", "out", "-"}, {}, std::string("Unknown option '\0'.\n", 20) + kOptionError, {}, 1},
        {"single files", {"-C", "out/", "", "pic.kzp", "missing.kzp", "empty.kzp", "lone.kzp", "broken.kzp", "dir.kzp", "wide.kzp", "-C"},
         {{"pic.kzp", a.kzp}, {"wide.kzp", b.kzp}, {"empty.kzp", ""}, {"lone.kzp", std::string("\0\x12", 2)},
          {"broken.kzp", broken}, {"dir.kzp/", ""}, {"out/", ""}},
         "can't open file ''.\n" + ok("pic.kzp", "out/pic.bmp") + "can't open file 'missing.kzp'.\n" + ok("empty.kzp", "out/empty.bmp") +
         ok("lone.kzp", "out/lone.bmp") + job("broken.kzp", "out/broken.bmp") + "broken image data for 'out/broken.bmp'.\n"
         "can't open file 'dir.kzp'.\n" + ok("wide.kzp", "out/wide.bmp") + "can't open file '-C'.\n",
         {{"out/pic.bmp", a.bmp}, {"out/wide.bmp", b.bmp}, {"out/empty.bmp", ""}, {"out/lone.bmp", ""}, {"out/broken.bmp", ""}}},
        {"posix: a backslash joins the work directory", {"-C", "out", "sub/a.kzp", "a-rather-long.kzp"},
         {{"sub/a.kzp", a.kzp}, {"a-rather-long.kzp", a.kzp}}, job("sub/a.kzp", "out/a.bmp") +
         "can't create file 'out/a.bmp'.\n" + job("a-rather-long.kzp", "out/a-rather-long.bmp") + "can't create file 'out/a-rather-long.bmp'.\n", {}},
        {"never overwrites its input", {"-C", "./", "-l", "lst.bmp", "self.bmp", "twin.abc"},
         {{"self.bmp", a.kzp}, {"twin.abc", a.kzp}, {"twin.bmp", kHardLink + "twin.abc"}, {"arc.bmp", a.kzp},
          {"lst.bmp", "arc.bmp 0 99 arc.kzp\narc.bmp 0 99 lst.kzp\n"}},
         job("arc.bmp|arc.kzp", "./arc.bmp") + "output file './arc.bmp" + kSame + job("arc.bmp|lst.kzp", "./lst.bmp") +
         "output file './lst.bmp" + kSame + job("self.bmp", "./self.bmp") + "output file './self.bmp" + kSame +
         job("twin.abc", "./twin.bmp") + "output file './twin.bmp" + kSame, {}},
        {"list from standard input", {"-c", "data/", "-C", "out/", "-l", "-"}, list_files, list_out, list_outputs, 0, list},
        {"list file", {"-Cx", "x/", "-c", "data/", "-C", "out/", "-lx", "list.txt"}, list_files, list_out, list_outputs},
        {"list file is a directory", {"-l", "dir", "a.kzp"}, {{"a.kzp", a.kzp}, {"dir/", ""}},
         "cat't open list file 'dir'.\n" + ok("a.kzp", "a.bmp"), {{"a.bmp", a.bmp}}},
        {"list file named by empty text", {"-l", ""}, {}, "cat't open list file ''.\n", {}},
        {"standard input closed", {"-l", "-"}, {}, "", {}, 0, kClosed},
        {"posix: input through a pipe", {"in.kzp"}, {{"in.kzp", kSymlink + "/dev/stdin"}}, ok("in.kzp", "in.bmp"),
         {{"in.bmp", z.bmp}}, 0, z.kzp},
        {"posix: an empty pipe", {"in.kzp"}, {{"in.kzp", kSymlink + "/dev/stdin"}}, ok("in.kzp", "in.bmp"), {{"in.bmp", ""}}},
        {"a hundred thousand lines", {"-c", "data/", "-C", "out/", "-l", "-"}, list_files, long_out, list_outputs, 0, long_list},
        {"an entry past 4 GiB", {"-l", "list"}, {{"big.dat", kSparse + "4294967303:" + a.kzp}, {"list", "big.dat 4294967303 99999 e.kzp"}},
         ok("big.dat|e.kzp", "e.bmp"), {{"e.bmp", a.bmp}}},
        {"posix: more memory than there is", {"-l", "list"}, {{"sparse.dat", kSparse + "1099511627775:x"},
          {"list", "sparse.dat 0 1099511627776 huge.kzp"}}, job("sparse.dat|huge.kzp", "huge.bmp") +
         "out of memory for 'huge.bmp'.\n", {{"huge.bmp", ""}}},
        {"posix: a directory nothing can be created in", {"-C", "/proc/", "a.kzp"}, {{"a.kzp", a.kzp}},
         job("a.kzp", "/proc/a.bmp") + "can't create file '/proc/a.bmp'.\n", {}},
        {"posix: outputs that are no files", {"full.kzp", "pipe.kzp"},
         {{"full.kzp", a.kzp}, {"pipe.kzp", a.kzp}, {"full.bmp", kSymlink + "/dev/full"}, {"pipe.bmp", kFifo}},
         job("full.kzp", "full.bmp") + "can't write file 'full.bmp'.\n" + job("pipe.kzp", "pipe.bmp") + "can't create file 'pipe.bmp'.\n", {}},
        {"windows: a backslash work directory is a folder; another letter case names the input", {"-C", "out", "a.kzp",
         "out\\SELF.BMP"}, {{"a.kzp", a.kzp}, {"out/self.bmp", a.kzp}}, ok("a.kzp", "out\\a.bmp") + job("out\\SELF.BMP",
         "out\\SELF.bmp") + "output file 'out\\SELF.bmp" + kSame, {{"out/a.bmp", a.bmp}}},
        {"a name beyond ASCII", {"été 日.kzp"}, {{"été 日.kzp", a.kzp}}, ok("été 日.kzp", "été 日.bmp"), {{"été 日.bmp", a.bmp}}},
        {"a Ctrl-Z in a list is data", {"-l", "-"}, {{"a.dat", a.kzp}}, ok("a.dat|f.kzp", "f.bmp") + ok("a.dat|g.kzp", "g.bmp"),
         {{"f.bmp", a.bmp}, {"g.bmp", a.bmp}}, 0,
         "a.dat 0 " + to_string(a.kzp.size()) + " f.kzp\n\x1a\r\na.dat 0 " + to_string(a.kzp.size()) + " g.kzp\r\n"},
        {"pack: no file", {"-C", "out"}, {}, "usage: quorbin-pack [option] [bmp-file]\n[option]\n"
         "    -C work-dir      : Work Directory\n", {}, 1},
        {"pack: only -C", {"-l", "x", "a.bmp"}, {}, "Unknown option 'l'.\n" + kOptionError, {}, 1},
        {"pack: files", {"-C", "out/", "a.bmp", "deep.bmp", "no.bmp", "missing.bmp", "in.bmp", "cut.bmp", "rle.bmp", "many.bmp",
                         "wide.bmp", "sub/x.bmp", "w.b.bmp"},
         {{"a.bmp", a.bmp}, {"deep.bmp", patched(28, "\x18")}, {"no.bmp", ""}, {"in.bmp", a.bmp}, {"w.b.bmp", b.bmp},
          {"cut.bmp", a.bmp.substr(0, a.bmp.size() - 1)}, {"rle.bmp", patched(30, "\1")}, {"many.bmp", patched(46, le32(257))},
          {"wide.bmp", patched(21, "\x80")}, {"sub/x.bmp", a.bmp}, {"out/", ""}, {"out/in.kzp", kHardLink + "in.bmp"}},
         ok("a.bmp", "out/a.kzp") + refused("deep", "is a 24-bit BMP file; only 8-bit palette images can be packed.") +
         refused("no", "is not a BMP file.") + "can't open file 'missing.bmp'.\n" + job("in.bmp", "out/in.kzp") +
         "output file 'out/in.kzp" + kSame + refused("cut", "is truncated.") + refused("rle", "is compressed (RLE or bit "
         "fields); only uncompressed files can be packed.") + refused("many", "has a colour table of more than 256 entries.") +
         refused("wide", "has dimensions or offsets that overflow or don't fit in the file.") + ok("sub/x.bmp", "out/x.kzp") +
         ok("w.b.bmp", "out/w.kzp"),
         {{"out/a.kzp", a.packed}, {"out/w.kzp", b.packed}, {"out/x.kzp", a.packed}}, 2},
        {"posix: pack: a failed write leaves no output; a part file is no output", {"full.bmp", "p.kzp.part"},
         {{"full.bmp", a.bmp}, {"full.kzp.part", kSymlink + "/dev/full"}, {"p.kzp.part", a.bmp}}, job("full.bmp", "full.kzp") +
         "can't write file 'full.kzp'.\n" + job("p.kzp.part", "p.kzp") + "output file 'p.kzp.part" + kSame, {}, 2},
    };
}
// clang-format on

// Makes one entry of a row's starting tree.
void put(const fs::path& root, const std::string& name, const std::string& contents) {
    const fs::path path = root / u8path(name);
    fs::create_directories(name.ends_with('/') ? path : path.parent_path());
    if (contents.starts_with(kHardLink))
        fs::create_hard_link(root / contents.substr(kHardLink.size()), path);
    else if (contents.starts_with(kSparse))
        std::ofstream(path, std::ios::binary).seekp(std::stoll(contents.substr(kSparse.size())))
            << contents.substr(contents.find(':') + 1);
    else if (contents.starts_with("(special) ")) // a command makes it
        EXPECT_EQ(std::system((contents.substr(10) + " " + quote(u8name(path))).c_str()), 0);
    else if (!name.ends_with('/'))
        write_file(path, contents);
}

TEST(E2E, Table) {
    TempDir io;
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.name);
        if (row.name.starts_with(kWindows ? "posix:" : "windows:")) continue;
        if (row.name.ends_with("there is") && read_file("/proc/sys/vm/overcommit_memory") == "1\n")
            continue; // the kernel would grant it, and decoding 1 TiB takes hours
        const bool pack = row.name.find("pack:") != std::string::npos;
        // Standard error after the banner, output (marked \1...\2), both in order; files.
        std::string want[3];
        for (bool to_out = false; char c : row.out)
            c == 1 || c == 2 ? void(to_out = c == 1) : void((want[to_out] += c, want[2] += c));
        Tree expected;
        for (const Tree& tree : {row.before, row.after})
            for (const auto& [name, contents] : tree)
                if (!name.ends_with('/'))
                    expected[name] =
                        contents.starts_with(kHardLink)
                            ? row.before.at(contents.substr(kHardLink.size()))
                            : contents.substr(0, contents.starts_with("(special)") ? 9 : -1);
        for (bool merged : {false, true}) {
            TempDir work;
            for (const auto& [name, contents] : row.before) // a hard link sorts after its file
                put(work.path, name, contents);
            auto [status, out, err] =
                run_program(pack ? QUORBIN_PACK_BINARY : QUORBIN_BINARY, row.args, work.path,
                            io.path, row.input == kClosed ? nullptr : &row.input, merged);
            // The host's line ends go; so does AddressSanitizer's note of a refused allocation.
            for (std::string* s : {&out, &err}) {
                std::erase(*s, '\r');
                if (size_t at = s->find("==WARNING: AddressSanitizer"); at != std::string::npos)
                    s->erase(s->rfind("==", at - 1),
                             s->find('\n', at) + 1 - s->rfind("==", at - 1));
            }
            EXPECT_EQ(status, row.status);
            EXPECT_EQ(out, merged ? banner(pack ? kPackTitle : kTitle) + want[2] : want[1]);
            EXPECT_EQ(err, merged ? "" : banner(pack ? kPackTitle : kTitle) + want[0]);
            EXPECT_EQ(read_tree(work.path), expected);
        }
    }
}
