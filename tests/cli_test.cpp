#include <gtest/gtest.h>

#include "quorbin.h"
#include "test_util.h"

namespace {

TEST(Naming, OutputNames) {
    const std::string long_dir(2000, 'd'), long_name(3000, 'x');
    // clang-format off
    const std::string cases[][3] = { // name, work directory, output
        {"title.kzp", "", "title.bmp"}, {"data\\title.kzp", "", "title.bmp"},
        {"a\\b\\c.d.e", "", "c.bmp"},   {"a.b.c", "", "a.bmp"},   {"noext", "", "noext.bmp"},
        {"sub/pic.kzp", "", "sub/pic.bmp"}, {"./pic.kzp", "", ".bmp"}, {".hidden", "", ".bmp"},
        {"", "", ".bmp"}, {"dir\\", "", ".bmp"}, {"title.kzp", "out", "out\\title.bmp"},
        {"title.kzp", "out\\", "out\\title.bmp"}, {"title.kzp", "out/", "out/title.bmp"},
        {"img\\title.kzp", "o", "o\\title.bmp"},
        {long_name + ".kzp", long_dir + "/", long_dir + "/" + long_name + ".bmp"},
    };
    // clang-format on
    for (const auto& [name, work_dir, expected] : cases) {
        std::string out = "stale";
        make_output_name(out, name, work_dir);
        EXPECT_EQ(out, expected) << name << " in " << work_dir;
    }
}

TEST(Options, Parsing) {
    struct Case {
        std::vector<const char*> args;
        int result;
        bool has_list;
        std::string list, work, archive;
    } cases[] = {
        // clang-format off
        {{}, 1, false, "", "", ""},                   {{"-C"}, -1, false, "", "", ""},
        {{"-C", "out", "a", "b"}, 3, false, "", "out", ""}, {{"a", "-C", "out"}, 1, false, "", "", ""},
        {{"-C", "x", "-C", "y"}, 5, false, "", "y", ""},
        {{"-lfoo", "L", "-c", "-C"}, 5, true, "L", "", "-C"}, {{"-l", ""}, 3, true, "", "", ""},
        {{"", "-C"}, 1, false, "", "", ""}, {{"-c", "arc", "-Cdir", "w", "-", "f"}, -1, false, "", "", ""},
        // clang-format on
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"quorbin"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Options options;
        testing::internal::CaptureStderr();
        int result = parse_options(static_cast<int>(argv.size()), argv.data(), options);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, c.result) << c.args.size();
        if (result < 0) continue;
        EXPECT_EQ(options.has_list_file, c.has_list);
        EXPECT_EQ(options.list_file + "|" + options.work_dir + "|" + options.archive_dir,
                  c.list + "|" + c.work + "|" + c.archive);
    }
}

TEST(ListFile, LineScanning) {
    struct Case {
        std::string text;
        int result;
        std::string archive;
        int64_t offset, size;
        std::string entry;
    } cases[] = {
        // clang-format off
        {"pack01.dat 640 512 title.kzp\n", kLineOk, "pack01.dat", 640, 512, "title.kzp"},
        {"a 1 512title.kzp", kLineOk, "a", 1, 512, "title.kzp"},
        {"a +5 -3 t fifth field\n", kLineOk, "a", 5, -3, "t"},
        {" \ta\v7\f8\rt\r\n", kLineOk, "a", 7, 8, "t"},
        {"a 9223372036854775807 -9223372036854775808 t", kLineOk, "a", INT64_MAX, INT64_MIN, "t"},
        {"a 5000000000 4 big", kLineOk, "a", 5000000000, 4, "big"},
        {"a 9223372036854775808 1 t", kLineOverflow, "", 0, 0, "t"},
        {"a 1 -99999999999999999999 u v", kLineOverflow, "", 0, 0, "u"},
        {"a 99999999999999999999 1", kLineSkipped, "", 0, 0, ""}, {"a 0x10 5 t", kLineSkipped, "", 0, 0, ""},
        {"a - 3 t", kLineSkipped, "", 0, 0, ""}, {"a 1 2", kLineSkipped, "", 0, 0, ""},
        {"", kLineSkipped, "", 0, 0, ""}, {" \r\n", kLineSkipped, "", 0, 0, ""},
        {std::string("a 1\0 2 t", 8), kLineSkipped, "", 0, 0, ""},
        // clang-format on
    };
    for (const Case& c : cases) {
        ListLine line;
        int result = scan_list_line(c.text.data(), c.text.size(), line);
        EXPECT_EQ(result, c.result) << c.text;
        if (result != kLineSkipped) {
            EXPECT_EQ(line.entry_name, c.entry) << c.text;
        }
        if (result != kLineOk) continue;
        EXPECT_EQ(line.archive_name, c.archive);
        EXPECT_EQ(line.offset, c.offset);
        EXPECT_EQ(line.stored_size, c.size);
    }
}

TEST(ListFile, LinePieces) {
    const std::string x(1022, 'x'), y(1023, 'y'), w(1023, 'w');
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // clang-format off
        {"a\r\nb\n\nc", {"a\n", "b\n", "\n", "c"}}, {"lone\rcr\r", {"lone\rcr\r"}},
        {x + "\r\nz", {x + "\n", "z"}}, {y + "\n", {y, "\n"}}, {w + w + "www", {w, w, "www"}},
        {std::string("n\0ul\n", 5), {std::string("n\0ul\n", 5)}}, {"", {}},
        // clang-format on
    };
    for (const auto& [text, expected] : cases) {
        std::FILE* file = std::tmpfile();
        std::fwrite(text.data(), 1, text.size(), file);
        std::rewind(file);
        std::vector<std::string> pieces;
        for (std::string piece; read_line_piece(file, piece);)
            pieces.push_back(piece);
        std::fclose(file);
        EXPECT_EQ(pieces, expected) << text.substr(0, 20);
    }
}

} // namespace
