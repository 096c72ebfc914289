#include <gtest/gtest.h>

#include "listfile.h"
#include "naming.h"
#include "test_util.h"

// Name, work directory, output on POSIX hosts, and on Windows where it differs: there the
// backslash alone separates, and joins.
TEST(Naming, OutputNames) {
    const std::string dir(2000, 'd'), name(3000, 'x');
    const std::string cases[][4] = {{"title.kzp", "", "title.bmp"},
                                    {"data\\title.kzp", "", "title.bmp"},
                                    {"a\\b\\c.d.e", "", "c.bmp"},
                                    {"a.b.c", "", "a.bmp"},
                                    {"noext", "", "noext.bmp"},
                                    {"sub/pic.kzp", "", "pic.bmp", "sub/pic.bmp"},
                                    {"/a/.b/p.q", "", "p.bmp", "/a/.bmp"},
                                    {".hidden", "", ".bmp"},
                                    {"", "", ".bmp"},
                                    {"dir\\", "", ".bmp"},
                                    {"t.kzp", "out", "out/t.bmp", "out\\t.bmp"},
                                    {"t.kzp", "o\\", "o\\t.bmp"},
                                    {"a/b\\t.kzp", "o/", "o/t.bmp"},
                                    {name + ".kzp", dir + "/", dir + "/" + name + ".bmp"}};
    for (const auto& [input, work_dir, posix, windows] : cases) {
        std::string out = "stale";
        make_output_name(out, input, work_dir);
        EXPECT_EQ(out, kWindows && !windows.empty() ? windows : posix)
            << input << " in " << work_dir;
    }
}

// A list line and what is read from it: the result, then the fields it sets; then a file of
// lines and the pieces it is read in.
TEST(ListFile, Lines) {
    const std::string cases[][2] = {
        {"pack01.dat 640 512 title.kzp\n", "0 pack01.dat 640 512 title.kzp"},
        {"a 1 512title.kzp", "0 a 1 512 title.kzp"},
        {"a +5 -3 t fifth field\n", "0 a 5 -3 t"},
        {" \ta\v7\f8\rt\r\n", "0 a 7 8 t"},
        {"a 9223372036854775807 -9223372036854775808 t",
         "0 a 9223372036854775807 -9223372036854775808 t"},
        {"a 9223372036854775808 1 t", "-2 t"},
        {"a 1 -99999999999999999999 u v", "-2 u"},
        {"a 99999999999999999999 1", "-1"},
        {"a 0x10 5 t", "-1"},
        {"a - 3 t", "-1"},
        {"a 1 2", "-1"},
        {" \r\n", "-1"},
        {std::string("a 1\0 2 t", 8), "-1"}};
    for (const auto& [text, expected] : cases) {
        ListLine line{"", 0, 0, ""};
        const int result = scan_list_line(text.data(), text.size(), line);
        std::string got = std::to_string(result);
        if (result == kLineOk)
            got += " " + line.archive_name + " " + std::to_string(line.offset) + " " +
                   std::to_string(line.stored_size);
        EXPECT_EQ(got + (result == kLineSkipped ? "" : " " + line.entry_name), expected) << text;
    }
    const std::string x(1022, 'x'), y(1023, 'y'), w(1023, 'w');
    const std::pair<std::string, std::vector<std::string>> files[] = {
        {"a\r\nb\n\nc", {"a\n", "b\n", "\n", "c"}},
        {"lone\rcr\r", {"lone\rcr\r"}},
        {x + "\r\nz", {x + "\n", "z"}},
        {y + "\n", {y, "\n"}},
        {w + w + "www", {w, w, "www"}},
        {std::string("n\0ul\n", 5), {std::string("n\0ul\n", 5)}},
        {"", {}}};
    for (const auto& [text, expected] : files) {
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
