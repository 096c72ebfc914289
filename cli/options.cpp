#include "options.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host.h"
#include "messages.h"

namespace {

// Whether `text` is `lower` in any letter case.
bool equals_any_case(const char* text, const char* lower) {
    for (; *text && *lower; text++, lower++)
        if ((*text | 0x20) != *lower) return false;
    return *text == *lower;
}

} // namespace

int start_run(int argc, char** argv, const Program& program, Options& options,
              std::vector<std::string>& args) {
    args = host_start(argc, argv);
    std::vector<const char*> arg_ptrs;
    for (const std::string& arg : args)
        arg_ptrs.push_back(arg.c_str());
    report(program.banner, "");
    const int first_file = parse_options(static_cast<int>(args.size()), arg_ptrs.data(), options,
                                         program.letters, program.one_letter);
    switch (first_file) {
    case kOptionsBad:
        report(MSG_OPTION_ERROR);
        return kStartFailed;
    case kOptionsHelp:
        std::fputs(program.usage, stdout);
        return kStartDone;
    case kOptionsVersion:
        std::printf("%s %s\n", program.name, QUORBIN_VERSION);
        return kStartDone;
    default:
        return first_file;
    }
}

int parse_options(int argc, const char* const* argv, Options& options, const char* letters,
                  bool one_letter) {
    int i = 1;
    while (i < argc && argv[i][0] == '-') {
        if (std::strcmp(argv[i], "--help") == 0) return kOptionsHelp;
        if (std::strcmp(argv[i], "--version") == 0) return kOptionsVersion;
        const char letter = argv[i][1] != '\0' && std::strchr(letters, argv[i][1]) ? argv[i][1] : 0;
        if (letter == 'h') return kOptionsHelp;
        if (letter == 0) {
            // For the argument "-" alone this prints the terminating NUL byte.
            report(MSG_UNKNOWN_OPTION, argv[i][1]);
            return kOptionsBad;
        }
        if (one_letter && argv[i][2] != '\0') {
            std::string alone;
            for (const char* c = argv[i] + 1; *c; c++)
                alone += (alone.empty() ? "-" : " -") + std::string(1, *c);
            report(MSG_COMBINED, argv[i], alone.c_str());
            return kOptionsBad;
        }
        if (std::strchr("PndFA", letter)) {
            options.own_palette |= letter == 'P';
            options.nearest |= letter == 'n' || letter == 'd';
            options.dither |= letter == 'd';
            options.fit |= letter == 'F' || letter == 'A';
            options.accept |= letter == 'A';
            i++;
            continue;
        }
        if (i + 1 >= argc) return kOptionsBad;
        const char* value = argv[i + 1];
        switch (letter) {
        case 'p':
            options.has_palette_file = true;
            options.palette_file = value;
            break;
        case 'l':
            options.has_list_file = true;
            options.list_file = value;
            break;
        case 'C':
            options.work_dir = value;
            break;
        case 'c':
            options.archive_dir = value;
            break;
        case 's':
            options.show_dir = value;
            break;
        case 'z':
            if (value[0] < '1' || value[0] > '9' || value[1] != '\0') {
                report(MSG_UNKNOWN_LEVEL, value);
                return kOptionsBad;
            }
            options.png_effort = value[0] - '0';
            break;
        case 'j':
            options.jobs = std::atoi(value);
            if (options.jobs < 1 || std::strspn(value, "0123456789") != std::strlen(value))
                return kOptionsBad;
            break;
        default: // 'f'
            if (equals_any_case(value, "bmp")) {
                options.format = kFormatBmp;
            } else if (equals_any_case(value, "png")) {
                options.format = kFormatPng;
            } else {
                report(MSG_UNKNOWN_FORMAT, value);
                return kOptionsBad;
            }
        }
        i += 2;
    }
    return i;
}
