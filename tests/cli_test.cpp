#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "batch.h"
#include "listfile.h"
#include "naming.h"
#include "report.h"
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

// Jobs at once: what they say comes out in their order, and a job that writes what an earlier one
// reads or writes (names in any case) starts after it ends, though the earlier one takes longest.
TEST(Batch, OutputInOrderFilesShared) {
    const std::vector<JobFiles> files = {{"a", "X"}, {"b", "y"}, {"x", "z"}, {"c", "x"},
                                         {"d", "A"}, {"e", "w"}, {"f", "v"}};
    for (int threads : {1, 3, 8}) {
        std::mutex lock;
        std::string ended;
        Transcript out;
        int running = 0, most = 0; // jobs at once
        record_output(&out);
        run_jobs(threads, files, [&](size_t i) {
            {
                std::lock_guard<std::mutex> held(lock);
                most = std::max(most, ++running);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(i < 2 ? 60 : 1));
            say("%d", int(i));
            std::lock_guard<std::mutex> held(lock);
            ended += char('0' + i);
            running--;
        });
        record_output(nullptr);
        std::string said;
        for (const auto& [to_error, text] : out)
            said += text;
        EXPECT_EQ(said, "0123456") << threads;
        EXPECT_EQ(most > 1, threads > 1) << threads;
        for (const char* order : {"02", "03", "04", "23"}) // X before x (read), x (write), A
            EXPECT_LT(ended.find(order[0]), ended.find(order[1])) << threads << " " << ended;
    }
    EXPECT_EQ(job_count(3), 3);
    EXPECT_EQ(job_count(0), int(std::max(1u, std::thread::hardware_concurrency())));
}
