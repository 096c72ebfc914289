#include "messages.h"
#include "quorbin.h"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    Options options;
    const int first_file = start_run(argc, argv, MSG_PACK_BANNER, "C", options, args);
    if (first_file < 0) return 1;
    if (first_file >= static_cast<int>(args.size())) {
        report(MSG_PACK_USAGE);
        return 1;
    }
    for (size_t i = static_cast<size_t>(first_file); i < args.size(); i++)
        pack_file(args[i], options);
    return 0;
}
