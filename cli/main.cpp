#include "messages.h"
#include "quorbin.h"

int main(int argc, char** argv) {
    print_banner();
    Options options;
    int first_file = parse_options(argc, argv, options);
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
        convert_file(argv[i], options);
    return 0;
}
