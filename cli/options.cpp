#include <cstdarg>
#include <cstring>

#include "messages.h"
#include "quorbin.h"

void report(const char* format, ...) {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

int start_run(int argc, char** argv, const Program& program, Options& options,
              std::vector<std::string>& args) {
    args = host_start(argc, argv);
    std::vector<const char*> arg_ptrs;
    for (const std::string& arg : args)
        arg_ptrs.push_back(arg.c_str());
    report(program.banner, "");
    const int first_file =
        parse_options(static_cast<int>(args.size()), arg_ptrs.data(), options, program.letters);
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

int parse_options(int argc, const char* const* argv, Options& options, const char* letters) {
    int i = 1;
    while (i < argc && argv[i][0] == '-') {
        if (std::strcmp(argv[i], "--help") == 0) return kOptionsHelp;
        if (std::strcmp(argv[i], "--version") == 0) return kOptionsVersion;
        std::string* value = nullptr;
        switch (argv[i][1] != '\0' && std::strchr(letters, argv[i][1]) ? argv[i][1] : '\0') {
        case 'h':
            return kOptionsHelp;
        case 'l':
            options.has_list_file = true;
            value = &options.list_file;
            break;
        case 'C':
            value = &options.work_dir;
            break;
        case 'c':
            value = &options.archive_dir;
            break;
        default:
            // For the argument "-" alone this prints the terminating NUL byte.
            report(MSG_UNKNOWN_OPTION, argv[i][1]);
            return kOptionsBad;
        }
        if (i + 1 >= argc) return kOptionsBad;
        *value = argv[i + 1];
        i += 2;
    }
    return i;
}

void replace_extension(std::string& out, const std::string& name, const char* ext) {
    out.append(name, 0, name.find('.'));
    out += '.';
    out += ext;
}

void make_output_name(std::string& out, const std::string& name, const std::string& work_dir,
                      const char* ext) {
    out.clear();
    if (!work_dir.empty()) {
        out = work_dir;
        if (work_dir.back() != '\\' && work_dir.back() != '/') out += kHostJoin;
    }
    const size_t separator = name.find_last_of(kHostSeparators);
    replace_extension(out, separator == std::string::npos ? name : name.substr(separator + 1), ext);
}
