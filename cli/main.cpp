#include "convert.h"
#include "listfile.h"
#include "messages.h"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    Options options;
    const Program program{"quorbin", MSG_BANNER, MSG_USAGE, "hlCcf"};
    const int first_file = start_run(argc, argv, program, options, args);
    if (first_file < 0) return first_file == kStartDone ? 0 : 1;
    if (!options.has_list_file && first_file >= static_cast<int>(args.size())) {
        report(MSG_USAGE);
        return 1;
    }
    if (options.has_list_file) process_list_file(options.list_file, options);
    for (size_t i = static_cast<size_t>(first_file); i < args.size(); i++)
        convert_file(args[i], options);
    return 0;
}
