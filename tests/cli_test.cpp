#include <gtest/gtest.h>

#include "quorbin.h"
#include "test_util.h"

namespace {

TEST(Naming, OutputNames) {
    struct Case {
        std::string name, work_dir, expected;
    } cases[] = {
        {"title.kzp", "", "title.bmp"},
        {"data\\title.kzp", "", "title.bmp"},
        {"a\\b\\c.d.e", "", "c.bmp"},
        {"a.b.c", "", "a.bmp"},
        {"noext", "", "noext.bmp"},
        {"sub/pic.kzp", "", "sub/pic.bmp"},
        {"./pic.kzp", "", ".bmp"},
        {".hidden", "", ".bmp"},
        {"", "", ".bmp"},
        {"dir\\", "", ".bmp"},
        {"title.kzp", "out", "out\\title.bmp"},
        {"title.kzp", "out\\", "out\\title.bmp"},
        {"title.kzp", "out/", "out/title.bmp"},
        {"img\\title.kzp", "o", "o\\title.bmp"},
        {std::string(3000, 'x') + ".kzp", std::string(2000, 'd') + "/",
         std::string(2000, 'd') + "/" + std::string(3000, 'x') + ".bmp"},
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        make_output_name(out, c.name, c.work_dir);
        EXPECT_EQ(out, c.expected) << c.name << " in " << c.work_dir;
    }
}

TEST(Options, Parsing) {
    struct Case {
        std::vector<const char*> args;
        int result;
        bool has_list;
        std::string list, work, archive;
    } cases[] = {
        {{}, 1, false, "", "", ""},
        {{"-C"}, -1, false, "", "", ""},
        {{"-C", "out", "a", "b"}, 3, false, "", "out", ""},
        {{"a", "-C", "out"}, 1, false, "", "", ""},
        {{"-C", "x", "-C", "y"}, 5, false, "", "y", ""},
        {{"-lfoo", "L", "-c", "-C"}, 5, true, "L", "", "-C"},
        {{"-l", ""}, 3, true, "", "", ""},
        {{"", "-C"}, 1, false, "", "", ""},
        {{"-c", "arc", "-Cdir", "w", "-", "f"}, -1, false, "", "w", "arc"},
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
        EXPECT_EQ(options.list_file, c.list);
        EXPECT_EQ(options.work_dir, c.work);
        EXPECT_EQ(options.archive_dir, c.archive);
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
        {"pack01.dat 640 512 title.kzp\n", kLineOk, "pack01.dat", 640, 512, "title.kzp"},
        {"a 1 512title.kzp", kLineOk, "a", 1, 512, "title.kzp"},
        {"a +5 -3 t fifth field\n", kLineOk, "a", 5, -3, "t"},
        {" \ta\v7\f8\rt\r\n", kLineOk, "a", 7, 8, "t"},
        {"a 9223372036854775807 -9223372036854775808 t", kLineOk, "a", INT64_MAX, INT64_MIN, "t"},
        {"a 5000000000 4 big", kLineOk, "a", 5000000000, 4, "big"},
        {"a 9223372036854775808 1 t", kLineOverflow, "", 0, 0, "t"},
        {"a 1 -99999999999999999999 u v", kLineOverflow, "", 0, 0, "u"},
        {"a 99999999999999999999 1", kLineSkipped, "", 0, 0, ""},
        {"a 0x10 5 t", kLineSkipped, "", 0, 0, ""},
        {"a - 3 t", kLineSkipped, "", 0, 0, ""},
        {"a 1 2", kLineSkipped, "", 0, 0, ""},
        {"", kLineSkipped, "", 0, 0, ""},
        {" \r\n", kLineSkipped, "", 0, 0, ""},
        {std::string("a 1\0 2 t", 8), kLineSkipped, "", 0, 0, ""},
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
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a\r\nb\n\nc", {"a\n", "b\n", "\n", "c"}},
        {"lone\rcr\r", {"lone\rcr\r"}},
        {std::string(1022, 'x') + "\r\nz", {std::string(1022, 'x') + "\n", "z"}},
        {std::string(1023, 'y') + "\n", {std::string(1023, 'y'), "\n"}},
        {std::string(2500, 'w'),
         {std::string(1023, 'w'), std::string(1023, 'w'), std::string(454, 'w')}},
        {std::string("n\0ul\n", 5), {std::string("n\0ul\n", 5)}},
        {"", {}},
    };
    for (Case& c : cases) {
        std::FILE* file = fmemopen(c.text.data(), c.text.size(), "rb");
        std::vector<std::string> pieces;
        for (std::string piece; read_line_piece(file, piece);)
            pieces.push_back(piece);
        std::fclose(file);
        EXPECT_EQ(pieces, c.pieces) << c.text.substr(0, 20);
    }
}

} // namespace
