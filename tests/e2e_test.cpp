// Runs the built quorbin in a scratch directory and checks standard output,
// standard error, the exit status and every file left behind, byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "kzp_encoder.h"
#include "test_util.h"

namespace {

const std::string kBanner =
    "quorbin - KZP to BMP converter" + std::string(33, ' ') + "2026 The quorbin authors\n";

std::string quote(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Result {
    int status;
    std::string out, err;
};

class E2E : public testing::Test {
  protected:
    TempDir work, io;
    std::mt19937 rng{42};

    // Runs quorbin in the work directory; with `merged` standard error goes
    // into `out` as well, to check the order the two streams appear in.
    // `stdin_from` replaces the redirection of standard input (e.g. "<&-").
    Result run(const std::vector<std::string>& args, const std::string& input = "",
               bool merged = false, const char* stdin_from = nullptr) {
        write_file(io.path / "in", Bytes(input.begin(), input.end()));
        std::string command = "cd " + quote(work.path.string()) + " && exec " + QUORBIN_BINARY;
        for (const std::string& arg : args)
            command += " " + quote(arg);
        command += std::string(" ") +
                   (stdin_from ? stdin_from : "<" + quote((io.path / "in").string())) + " >" +
                   quote((io.path / "out").string()) +
                   (merged ? " 2>&1" : " 2>" + quote((io.path / "err").string()));
        int status = std::system(command.c_str());
        return {WEXITSTATUS(status), read_file(io.path / "out"),
                merged ? "" : read_file(io.path / "err")};
    }

    void put(const std::string& name, const std::string& contents) {
        fs::create_directories((work.path / name).parent_path());
        write_file(work.path / name, Bytes(contents.begin(), contents.end()));
    }

    // Every regular file below the work directory, with its contents.
    std::map<std::string, std::string> files() {
        std::map<std::string, std::string> all;
        for (const auto& entry : fs::recursive_directory_iterator(work.path))
            if (entry.is_regular_file())
                all[fs::relative(entry.path(), work.path).string()] = read_file(entry.path());
        return all;
    }

    // A random picture and its KZP stream.
    std::pair<Picture, std::string> picture(int32_t width, int32_t height) {
        Picture pic = random_picture(rng, width, height);
        Bytes image = kzp_image_bytes(width, height, pic.pixels.data(), pic.palette.data());
        return {pic, as_string(lzss_compress(image))};
    }
};

TEST_F(E2E, CommandLineErrors) {
    const std::string usage = "usage: quorbin [option] [kzp-file]\n[option]\n"
                              "    -l list-file     : list file\n"
                              "    -c arc-dir       : Archive file Directory\n"
                              "    -C work-dir      : Work Directory\n";
    const std::string option_error = "option error.\n";
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{}, usage},
        {{"-C"}, option_error},
        {{"-c", "arc"}, usage},
        {{"-l", "list", "-C"}, option_error},
        {{"-x", "a.kzp"}, "Unknown option 'x'.\n" + option_error},
        {{"-"}, std::string("Unknown option '\0'.\n", 20) + option_error},
    };
    put("a.kzp", picture(4, 4).second);
    for (const Case& c : cases) {
        Result r = run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, kBanner + c.err);
        EXPECT_EQ(files().size(), 1u) << "nothing converted";
    }
}

TEST_F(E2E, SingleFiles) {
    auto [pic, stream] = picture(5, 3);
    auto [wide, wide_stream] = picture(64, 10);
    put("pic.kzp", stream);
    put("wide.kzp", wide_stream);
    put("empty.kzp", "");
    put("broken.kzp", as_string(lzss_compress(random_bytes(rng, 1031))));
    fs::create_directories(work.path / "folder.kzp");
    fs::create_directories(work.path / "out");
    const std::vector<std::string> args = {"-C",        "out/",       "pic.kzp",    "missing.kzp",
                                           "empty.kzp", "broken.kzp", "folder.kzp", "wide.kzp"};
    Result r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "pic.kzp          -> out/pic.bmp ... OK\n"
                     "empty.kzp        -> out/empty.bmp ... OK\n"
                     "broken.kzp       -> out/broken.bmp ... "
                     "wide.kzp         -> out/wide.bmp ... OK\n");
    EXPECT_EQ(r.err, kBanner + "can't open file 'missing.kzp'.\n"
                               "broken image data for 'out/broken.bmp'.\n"
                               "can't open file 'folder.kzp'.\n");
    std::map<std::string, std::string> expected = files();
    EXPECT_EQ(expected["out/pic.bmp"], expected_bmp(pic));
    EXPECT_EQ(expected["out/wide.bmp"], expected_bmp(wide));
    EXPECT_EQ(expected["out/empty.bmp"], "");
    EXPECT_EQ(expected["out/broken.bmp"], "");
    EXPECT_EQ(expected.size(), 8u);

    // On one stream, every message follows the progress line it belongs to.
    Result merged = run(args, "", true);
    EXPECT_EQ(merged.out, kBanner + "pic.kzp          -> out/pic.bmp ... OK\n"
                                    "can't open file 'missing.kzp'.\n"
                                    "empty.kzp        -> out/empty.bmp ... OK\n"
                                    "broken.kzp       -> out/broken.bmp ... "
                                    "broken image data for 'out/broken.bmp'.\n"
                                    "can't open file 'folder.kzp'.\n"
                                    "wide.kzp         -> out/wide.bmp ... OK\n");
}

// The backslash is the only directory separator the program knows: on a
// POSIX host "-C out" names files in the current directory.
TEST_F(E2E, BackslashAfterWorkDirectory) {
    auto [pic, stream] = picture(3, 2);
    put("sub/pic.kzp", stream);
    put("a-rather-long-name.kzp", stream);
    Result r = run({"-C", "out", "sub/pic.kzp", "a-rather-long-name.kzp"});
    EXPECT_EQ(r.out, "sub/pic.kzp      -> out\\sub/pic.bmp ... " // out\sub is no directory
                     "a-rather-long-name.kzp -> out\\a-rather-long-name.bmp ... OK\n");
    EXPECT_EQ(r.err, kBanner + "can't create file 'out\\sub/pic.bmp'.\n");
    EXPECT_EQ(files()["out\\a-rather-long-name.bmp"], expected_bmp(pic));
}

TEST_F(E2E, NeverOverwritesItsInput) {
    const std::string stream = picture(4, 2).second;
    put("self.bmp", stream);
    put("twin.kzp", stream);
    fs::create_hard_link(work.path / "twin.kzp", work.path / "twin.bmp");
    put("arc.bmp", stream);
    put("lst.bmp", "arc.bmp 0 " + std::to_string(stream.size()) + " arc.kzp\n" + "arc.bmp 0 " +
                       std::to_string(stream.size()) + " lst.kzp\n");
    Result r = run({"-C", "./", "-l", "lst.bmp", "self.bmp", "twin.kzp"});
    EXPECT_EQ(r.out, "arc.bmp/arc.kzp          -> ./arc.bmp ... "
                     "arc.bmp/lst.kzp          -> ./lst.bmp ... "
                     "self.bmp         -> ./self.bmp ... twin.kzp         -> ./twin.bmp ... ");
    EXPECT_EQ(r.err, kBanner + "output file './arc.bmp' is the input file.\n"
                               "output file './lst.bmp' is the input file.\n"
                               "output file './self.bmp' is the input file.\n"
                               "output file './twin.bmp' is the input file.\n");
    for (const char* name : {"self.bmp", "twin.kzp", "twin.bmp", "arc.bmp"})
        EXPECT_EQ(files()[name], stream) << name;
}

TEST_F(E2E, ListFileFromFileAndStandardInput) {
    auto [first, first_stream] = picture(6, 5);
    auto [second, second_stream] = picture(9, 4);
    const std::string junk = "JUNK!!!";
    put("data/pack.dat", junk + first_stream + junk + second_stream);
    put("data/last.dat", second_stream);
    const std::string o1 = "7 ", n1 = std::to_string(first_stream.size()) + " ";
    const std::string o2 = std::to_string(2 * junk.size() + first_stream.size()) + " ",
                      n2 = std::to_string(second_stream.size()) + " ";
    const std::string list = "pack.dat " + o1 + n1 + "first.kzp\r\n" + "\n" + "pack.dat " + o1 +
                             n1 + "\n" + "pack.dat " + o2 + n2 + "img\\second.kzp fifth field\n" +
                             "pack.dat " + o1 + n1 + "dup.kzp\n" + "pack.dat " + o2 + n2 +
                             "dup.kzp\n" + "pack.dat " + o1 + "0 zero.kzp\n" +
                             "pack.dat 999999 10 past.kzp\n" + "pack.dat -1 " + n1 + "neg.kzp\n" +
                             "pack.dat 99999999999999999999 1 big.kzp\n" + "nope.dat 0 1 x.kzp\n" +
                             "last.dat 0 4611686018427387904 huge.kzp";
    const std::string out = "data/pack.dat/first.kzp        -> out/first.bmp ... OK\n"
                            "data/pack.dat/img\\second.kzp   -> out/second.bmp ... OK\n"
                            "data/pack.dat/dup.kzp          -> out/dup.bmp ... OK\n"
                            "data/pack.dat/dup.kzp          -> out/dup.bmp ... OK\n"
                            "data/pack.dat/zero.kzp         -> out/zero.bmp ... OK\n"
                            "data/pack.dat/past.kzp         -> out/past.bmp ... OK\n"
                            "data/last.dat/huge.kzp         -> out/huge.bmp ... OK\n";
    const std::string err = kBanner + "can't seek to offset -1 in 'data/pack.dat'.\n" +
                            "bad offset or size for entry 'big.kzp'.\n" +
                            "can't open file 'data/nope.dat'.\n";
    fs::create_directories(work.path / "out");
    put("list.txt", list);
    for (bool from_stdin : {false, true}) {
        Result r = run({"-c", "data/", "-C", "out/", "-l", from_stdin ? "-" : "list.txt"},
                       from_stdin ? list : "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, err);
        std::map<std::string, std::string> all = files();
        EXPECT_EQ(all["out/first.bmp"], expected_bmp(first));
        EXPECT_EQ(all["out/second.bmp"], expected_bmp(second));
        EXPECT_EQ(all["out/dup.bmp"], expected_bmp(second));
        EXPECT_EQ(all["out/huge.bmp"], expected_bmp(second));
        EXPECT_EQ(all["out/zero.bmp"], "");
        EXPECT_EQ(all["out/past.bmp"], "");
        EXPECT_EQ(all.size(), 9u);
        fs::remove_all(work.path / "out");
        fs::create_directories(work.path / "out");
    }
}

TEST_F(E2E, UnreadableListFile) {
    auto [pic, stream] = picture(2, 2);
    put("a.kzp", stream);
    fs::create_directories(work.path / "folder");
    for (const char* list : {"missing.lst", "folder", ""}) {
        Result r = run({"-l", list, "a.kzp"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, kBanner + "cat't open list file '" + list + "'.\n");
        EXPECT_EQ(r.out, "a.kzp            -> a.bmp ... OK\n");
        EXPECT_EQ(files()["a.bmp"], expected_bmp(pic));
    }
}

// Outputs that are not files: a full device, and a FIFO nobody reads.
TEST_F(E2E, OutputThatIsNoFile) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "this host has no /dev/full";
    put("full.kzp", picture(3, 3).second);
    put("pipe.kzp", picture(3, 3).second);
    fs::create_symlink("/dev/full", work.path / "full.bmp");
    ASSERT_EQ(mkfifo((work.path / "pipe.bmp").c_str(), 0600), 0);
    Result r = run({"full.kzp", "pipe.kzp"});
    EXPECT_EQ(r.out, "full.kzp         -> full.bmp ... pipe.kzp         -> pipe.bmp ... ");
    EXPECT_EQ(r.err,
              kBanner + "can't write file 'full.bmp'.\n" + "can't create file 'pipe.bmp'.\n");
}

// A stored size the machine cannot hold nine times over, backed by a sparse
// file so that the size is real.
TEST_F(E2E, OutOfMemory) {
    if (read_file("/proc/sys/vm/overcommit_memory") == "1\n")
        GTEST_SKIP() << "the kernel grants any allocation; decoding would take hours";
    const std::string size = "1099511627776"; // 1 TiB: a 9 TiB buffer
    put("sparse.dat", "");
    fs::resize_file(work.path / "sparse.dat", std::stoull(size));
    put("list", "sparse.dat 0 " + size + " huge.kzp\n");
    Result r = run({"-l", "list"});
    // Under AddressSanitizer the refused allocation is also noted on stderr.
    if (size_t at = r.err.find("==WARNING: AddressSanitizer failed"); at != std::string::npos)
        r.err.erase(r.err.rfind('\n', at) + 1, r.err.find('\n', at) - r.err.rfind('\n', at));
    EXPECT_EQ(r.out, "sparse.dat/huge.kzp         -> huge.bmp ... ");
    EXPECT_EQ(r.err, kBanner + "out of memory for 'huge.bmp'.\n");
    EXPECT_EQ(fs::file_size(work.path / "huge.bmp"), 0u);
    fs::remove(work.path / "sparse.dat");
}

// The bundled examples are what the generator makes, and all convert.
TEST_F(E2E, BundledExamples) {
    std::string command = std::string(MAKE_EXAMPLES_BINARY) + " " + quote(io.path.string());
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char* name : {"sunset.kzp", "mandel.kzp", "tiles.kzp", "pack.dat", "pack.lst"}) {
        EXPECT_EQ(read_file(io.path / name), read_file(fs::path(EXAMPLES_DIR) / name))
            << name << " is stale: rebuild the 'examples' target";
        fs::copy_file(io.path / name, work.path / name);
    }
    Result r = run({"-l", "pack.lst", "sunset.kzp", "mandel.kzp", "tiles.kzp"});
    EXPECT_EQ(r.err, kBanner);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 6);
    for (const char* name : {"sunset", "mandel", "tiles", "title", "logo", "map"}) {
        std::string bmp = files()[std::string(name) + ".bmp"];
        ASSERT_GT(bmp.size(), 1078u) << name;
        EXPECT_EQ(bmp.substr(2, 4), le32(static_cast<uint32_t>(bmp.size()))) << name;
    }
}

// --- hostile input -------------------------------------------------------

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

// Sizes near 2^62 and offsets near 2^63 neither crash nor cost memory.
TEST_F(E2E, HugeSizesAndOffsets) {
    auto [pic, stream] = picture(5, 4);
    put("a.dat", stream);
    put("list", "a.dat 0 4611686018427387904 big.kzp\n"
                "a.dat 9223372036854775807 4611686018427387904 far.kzp\n"
                "a.dat 4611686018427387904 9223372036854775807 mid.kzp\n");
    Result r = run({"-l", "list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(files()["big.bmp"], expected_bmp(pic));
    // Whether the host can seek that far depends on the file system: either
    // the seek is refused, or the offset lies past the end (empty file, OK).
    for (const char* name : {"far", "mid"}) {
        std::string bmp = std::string(name) + ".bmp";
        bool refused = r.err.find(std::string(" in 'a.dat'.\n")) != std::string::npos &&
                       !fs::exists(work.path / bmp);
        EXPECT_TRUE(refused || (fs::file_size(work.path / bmp) == 0 &&
                                r.out.find("-> " + bmp + " ... OK\n") != std::string::npos))
            << name;
    }
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "peak resident KiB of quorbin";
}

// 100,000 lines of good entries, broken ones and junk: every good entry is
// converted, every bad one reported, and the run goes to its end.
TEST_F(E2E, HundredThousandLines) {
    std::vector<Picture> pics;
    std::string archive = "HDR";
    std::vector<std::string> where;
    for (auto [w, h] : {std::pair{4, 3}, {5, 2}, {7, 1}}) {
        auto [pic, stream] = picture(w, h);
        where.push_back(std::to_string(archive.size()) + " " + std::to_string(stream.size()));
        archive += stream;
        pics.push_back(pic);
    }
    const std::string broken = as_string(lzss_compress(random_bytes(rng, 900)));
    where.push_back(std::to_string(archive.size()) + " " + std::to_string(broken.size()));
    archive += broken;
    put("pack.dat", archive);
    std::string list;
    for (int i = 0; i < 100000; i++) {
        const std::string n = std::to_string(i / 10 % 20);
        switch (i % 10) {
        case 0:
        case 1:
        case 2:
            list +=
                "pack.dat " + where[i % 10] + " g" + std::to_string(i % 10) + "_" + n + ".kzp\n";
            break;
        case 3:
            list += "pack.dat " + where[3] + " b" + n + ".kzp\r\n";
            break;
        case 4:
            list += "nope.dat 0 10 x.kzp\n";
            break;
        case 5:
            list += "pack.dat 1 99999999999999999999 o.kzp\n";
            break;
        case 6:
            list += "pack.dat -5 10 s.kzp\n";
            break;
        case 7:
            list += "pack.dat 1 2\n";
            break;
        case 8:
            list += i % 20 == 8 ? "\n" : "x 0x10 5 y\n";
            break;
        default:
            list += "pack.dat 3 0 z.kzp\n";
        }
    }
    put("list", list);
    Result r = run({"-l", "list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(r.out, " ... OK\n"), 40000u);
    EXPECT_EQ(count(r.out, " ... "), 50000u);
    EXPECT_EQ(count(r.err, "broken image data for 'b"), 10000u);
    EXPECT_EQ(count(r.err, "can't open file 'nope.dat'.\n"), 10000u);
    EXPECT_EQ(count(r.err, "bad offset or size for entry 'o.kzp'.\n"), 10000u);
    EXPECT_EQ(count(r.err, "can't seek to offset -5 in 'pack.dat'.\n"), 10000u);
    EXPECT_EQ(count(r.err, "\n"), 40001u);
    std::map<std::string, std::string> all = files();
    EXPECT_EQ(all.size(), 2u + 60 + 20 + 1);
    for (int k = 0; k < 3; k++)
        for (int n = 0; n < 20; n++)
            ASSERT_EQ(all["g" + std::to_string(k) + "_" + std::to_string(n) + ".bmp"],
                      expected_bmp(pics[static_cast<size_t>(k)]));
    EXPECT_EQ(all["b0.bmp"] + all["b19.bmp"] + all["z.bmp"], "");
}

// An archive that ends in the middle of an entry: the entries before it are
// converted, the cut one is refused, the ones after it are past the end.
TEST_F(E2E, TruncatedArchive) {
    auto [first, first_stream] = picture(6, 6);
    auto [second, second_stream] = picture(8, 8);
    put("cut.dat", first_stream + second_stream.substr(0, second_stream.size() / 2));
    const std::string at2 = std::to_string(first_stream.size()) + " ";
    put("list", "cut.dat 0 " + std::to_string(first_stream.size()) + " one.kzp\n" + "cut.dat " +
                    at2 + std::to_string(second_stream.size()) + " two.kzp\n" + "cut.dat " +
                    std::to_string(first_stream.size() + second_stream.size()) +
                    " 100 three.kzp\n");
    Result r = run({"-l", "list"});
    EXPECT_EQ(r.out, "cut.dat/one.kzp          -> one.bmp ... OK\n"
                     "cut.dat/two.kzp          -> two.bmp ... "
                     "cut.dat/three.kzp        -> three.bmp ... OK\n");
    EXPECT_EQ(r.err, kBanner + "broken image data for 'two.bmp'.\n");
    std::map<std::string, std::string> all = files();
    EXPECT_EQ(all["one.bmp"], expected_bmp(first));
    EXPECT_EQ(all["two.bmp"] + all["three.bmp"], "");
}

// A directory nothing can be created in, even by root: the job fails, the
// next one still runs.
TEST_F(E2E, UnwritableOutputDirectory) {
    fs::create_directories(work.path / "ro");
    fs::permissions(work.path / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    std::string dir = access((work.path / "ro").c_str(), W_OK) == 0 ? "/proc/" : "ro/";
    if (dir == "/proc/" && !fs::is_directory("/proc")) GTEST_SKIP() << "no read-only directory";
    auto [pic, stream] = picture(3, 3);
    put("a.kzp", stream);
    Result r = run({"-C", dir, "a.kzp", "a.kzp"});
    EXPECT_EQ(r.out,
              "a.kzp            -> " + dir + "a.bmp ... a.kzp            -> " + dir + "a.bmp ... ");
    EXPECT_EQ(r.err, kBanner + "can't create file '" + dir + "a.bmp'.\n" + "can't create file '" +
                         dir + "a.bmp'.\n");
    fs::permissions(work.path / "ro", fs::perms::owner_all);
}

// A list that comes through a FIFO, and standard input closed at once.
TEST_F(E2E, ListFromFifoOrClosedInput) {
    auto [pic, stream] = picture(4, 4);
    put("a.dat", stream);
    ASSERT_EQ(mkfifo((work.path / "fifo").c_str(), 0600), 0);
    std::thread writer(
        [&] { std::ofstream(work.path / "fifo") << "a.dat 0 " << stream.size() << " f.kzp\n"; });
    Result r = run({"-l", "fifo"});
    writer.join();
    EXPECT_EQ(r.out, "a.dat/f.kzp            -> f.bmp ... OK\n");
    EXPECT_EQ(r.err, kBanner);
    EXPECT_EQ(files()["f.bmp"], expected_bmp(pic));
    for (const char* closed : {"<&-", "</dev/null"}) {
        r = run({"-l", "-"}, "", false, closed);
        EXPECT_EQ(r.status, 0) << closed;
        EXPECT_EQ(r.out + r.err, kBanner) << closed;
    }
    EXPECT_EQ(files().size(), 2u);
}

} // namespace
