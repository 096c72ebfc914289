// Arbitrary argument vectors (NUL-separated) through parse_options, with
// quorbin's option letters and quorbin-pack's.  The result is an
// OptionsResult or an index where the options end; every argument before it
// is an option letter with its value (-P has none), and the values kept are
// the last ones given.
#include <cstdlib>
#include <string>
#include <vector>

#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"quorbin"};
    std::string current;
    for (size_t i = 0; i < size && args.size() < 64; i++) {
        if (data[i] == 0)
            args.push_back(current), current.clear();
        else
            current += static_cast<char>(data[i]);
    }
    args.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(args.size());

    // Both programs' letters: quorbin's, and quorbin-pack's with -p and -P.
    for (const std::string letters : {"hlCcf", "hlcCpP"}) {
        Options options;
        const int first = parse_options(argc, argv.data(), options, letters.c_str());
        // The same scan, spelled out.
        Options expected;
        int i = 1, ended = 0;
        for (; !ended && i < argc && args[i][0] == '-'; i += 2) {
            const char letter = args[i][1];
            int ends = 0;
            if (args[i] == "--help" || letter == 'h')
                ends = kOptionsHelp;
            else if (args[i] == "--version")
                ends = kOptionsVersion;
            else if (letters.find(letter) == std::string::npos || letter == 0 ||
                     (letter != 'P' && i + 1 >= argc))
                ends = kOptionsBad;
            if ((ended = ends)) break;
            if (letter == 'P') { // no value
                expected.own_palette = true;
                i--;
                continue;
            }
            std::string value = args[i + 1];
            if (letter == 'f') {
                for (char& c : value)
                    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
                if (value != "bmp" && value != "png") {
                    ended = kOptionsBad;
                    break;
                }
                expected.format = value == "png" ? kFormatPng : kFormatBmp;
                continue;
            }
            (letter == 'l'   ? expected.list_file
             : letter == 'C' ? expected.work_dir
             : letter == 'p' ? expected.palette_file
                             : expected.archive_dir) = value;
            expected.has_list_file |= letter == 'l';
            expected.has_palette_file |= letter == 'p';
        }
        if (ended ? first != ended
                  : first != i || options.list_file != expected.list_file ||
                        options.work_dir != expected.work_dir ||
                        options.archive_dir != expected.archive_dir ||
                        options.has_list_file != expected.has_list_file ||
                        options.format != expected.format ||
                        options.palette_file != expected.palette_file ||
                        options.has_palette_file != expected.has_palette_file ||
                        options.own_palette != expected.own_palette)
            std::abort();
    }
    return 0;
}
