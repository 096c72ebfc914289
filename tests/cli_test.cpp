#include <gtest/gtest.h>

#include "listfile.h"
#include "naming.h"
#include "test_util.h"

// Name, work directory, output on POSIX, and on Windows where it differs (backslash only).
TEST(Naming, OutputNames) {
    const std::string dir(2000, 'd'), name(3000, 'x');
    const std::string cases[][4] = {{"a\\b\\c.d.e", "", "c.bmp"},
                                    {"noext", "", "noext.bmp"},
                                    {".hidden.kzp", "", ".bmp"},
                                    {"", "", ".bmp"},
                                    {"dir\\", "", ".bmp"},
                                    {"t.kzp", "o\\", "o\\t.bmp"},
                                    {"/a/.b/p.q", "", "p.bmp", "/a/.bmp"},
                                    {"a/b\\t.kzp", "o", "o/t.bmp", "o\\t.bmp"},
                                    {name + ".kzp", dir + "/", dir + "/" + name + ".bmp"}};
    for (const auto& [input, work_dir, posix, windows] : cases) {
        std::string out = "stale";
        make_output_name(out, input, work_dir);
        EXPECT_EQ(out, kWindows && !windows.empty() ? windows : posix)
            << input << " in " << work_dir;
    }
}

// A list line: the result, then the fields it sets.
TEST(ListFile, Lines) {
    const std::string cases[][2] = {{"a 1 512title.kzp", "0 a 1 512 title.kzp"},
                                    {"a +5 -3 t fifth\n", "0 a 5 -3 t"},
                                    {" \ta\v7\f8\rt\r\n", "0 a 7 8 t"},
                                    {"a 9223372036854775807 -9223372036854775808 t",
                                     "0 a 9223372036854775807 -9223372036854775808 t"},
                                    {"a 9223372036854775808 1 t", "-2 t"},
                                    {"a 1 -99999999999999999999 u v", "-2 u"},
                                    {"a 99999999999999999999 1", "-1"},
                                    {"a - 3 t", "-1"},
                                    {"a 1\0 2 t"s, "-1"}};
    for (const auto& [text, expected] : cases) {
        ListLine line{"", 0, 0, ""};
        const int result = scan_list_line(text.data(), text.size(), line);
        std::string got = std::to_string(result);
        if (result == kLineOk)
            got += " " + line.archive_name + " " + std::to_string(line.offset) + " " +
                   std::to_string(line.stored_size);
        EXPECT_EQ(got + (result == kLineSkipped ? "" : " " + line.entry_name), expected) << text;
    }
}
