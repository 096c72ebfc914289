#include "messages.h"
#include "quorbin.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args = host_start(argc, argv);
    std::vector<const char*> arg_ptrs;
    for (const std::string& arg : args)
        arg_ptrs.push_back(arg.c_str());
    argc = static_cast<int>(args.size());
    print_banner();
    Options options;
    int first_file = parse_options(argc, arg_ptrs.data(), options);
    if (first_file < 0) {
        report(MSG_OPTION_ERROR);
        return 1;
    }
    if (!options.has_list_file && first_file >= argc) {
        print_usage();
        return 1;
    }
    if (options.has_list_file) process_list_file(options.list_file, options);
    for (int i = first_file; i < argc; i++)
        convert_file(args[static_cast<size_t>(i)], options);
    return 0;
}
