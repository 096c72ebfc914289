#include "messages.h"
#include "quorbin.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args = host_start(argc, argv);
    std::vector<const char*> arg_ptrs;
    for (const std::string& arg : args)
        arg_ptrs.push_back(arg.c_str());
    argc = static_cast<int>(args.size());
    print_pack_banner();
    Options options;
    const int first_file = parse_options(argc, arg_ptrs.data(), options, "C");
    if (first_file < 0) {
        report(MSG_OPTION_ERROR);
        return 1;
    }
    if (first_file >= argc) {
        report(MSG_PACK_USAGE);
        return 1;
    }
    for (int i = first_file; i < argc; i++)
        pack_file(args[static_cast<size_t>(i)], options);
    return 0;
}
