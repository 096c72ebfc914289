// Arbitrary argument vectors (NUL-separated) through parse_options, with
// quorbin's option letters and quorbin-pack's.  The result is an
// OptionsResult or an index where the options end; every argument before it
// is an option letter with its value (-P, -n, -d, -F and -A have none), and
// the values kept are the last ones given; quorbin-pack refuses an option of
// more letters than one.
#include <cstdlib>
#include <string>
#include <utility>
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

    // Both programs' letters: quorbin's, and quorbin-pack's, each of whose options is one letter.
    for (const auto& [letters, one_letter] :
         {std::pair<std::string, bool>{"hlCcfj", false}, {"hlcCpPndFAsj", true}}) {
        Options options;
        const int first = parse_options(argc, argv.data(), options, letters.c_str(), one_letter);
        // The same scan, spelled out.
        Options expected;
        int i = 1, ended = 0;
        for (; !ended && i < argc && args[i][0] == '-'; i += 2) {
            const char letter = args[i][1];
            const bool flag = letter != 0 && std::string("PndFA").find(letter) != std::string::npos;
            int ends = 0;
            if (args[i] == "--help" || letter == 'h')
                ends = kOptionsHelp;
            else if (args[i] == "--version")
                ends = kOptionsVersion;
            else if (letters.find(letter) == std::string::npos || letter == 0 ||
                     (one_letter && args[i].size() > 2) || (!flag && i + 1 >= argc))
                ends = kOptionsBad;
            if ((ended = ends)) break;
            if (flag) { // no value
                expected.own_palette |= letter == 'P';
                expected.nearest |= letter == 'n' || letter == 'd';
                expected.dither |= letter == 'd';
                expected.fit |= letter == 'F' || letter == 'A';
                expected.accept |= letter == 'A';
                i--;
                continue;
            }
            std::string value = args[i + 1];
            if (letter == 'j') {
                const bool digits =
                    !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
                expected.jobs = digits ? std::atoi(value.c_str()) : 0;
                if (expected.jobs < 1) ended = kOptionsBad;
                continue;
            }
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
             : letter == 's' ? expected.show_dir
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
                        options.own_palette != expected.own_palette ||
                        options.nearest != expected.nearest || options.dither != expected.dither ||
                        options.fit != expected.fit || options.accept != expected.accept ||
                        options.show_dir != expected.show_dir || options.jobs != expected.jobs)
            std::abort();
    }
    return 0;
}
