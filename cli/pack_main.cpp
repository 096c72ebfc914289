#include "messages.h"
#include "options.h"
#include "pack.h"

// Exit status 0 when every file was packed, 2 when any was not.
int main(int argc, char** argv) {
    std::vector<std::string> args;
    Options options;
    const Program program{"quorbin-pack", MSG_PACK_BANNER, MSG_PACK_USAGE, "hC"};
    const int first_file = start_run(argc, argv, program, options, args);
    if (first_file < 0) return first_file == kStartDone ? 0 : 1;
    if (first_file >= static_cast<int>(args.size())) {
        report(MSG_PACK_USAGE);
        return 1;
    }
    int status = 0;
    for (size_t i = static_cast<size_t>(first_file); i < args.size(); i++)
        if (!pack_file(args[i], options)) status = 2;
    return status;
}
