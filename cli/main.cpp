#include "messages.h"
#include "quorbin.h"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    Options options;
    const int first_file = start_run(argc, argv, MSG_BANNER, "lCc", options, args);
    if (first_file < 0) return 1;
    if (!options.has_list_file && first_file >= static_cast<int>(args.size())) {
        print_usage();
        return 1;
    }
    if (options.has_list_file) process_list_file(options.list_file, options);
    for (size_t i = static_cast<size_t>(first_file); i < args.size(); i++)
        convert_file(args[i], options);
    return 0;
}
