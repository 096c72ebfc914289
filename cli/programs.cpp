#include "programs.h"

#include "convert.h"
#include "listfile.h"
#include "messages.h"
#include "options.h"
#include "pack.h"
#include "putback.h"

int quorbin_main(int argc, char** argv) {
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

int quorbin_pack_main(int argc, char** argv) {
    std::vector<std::string> args;
    Options options;
    const Program program{"quorbin-pack", MSG_PACK_BANNER, MSG_PACK_USAGE, "hlcCpPndF"};
    const int first_file = start_run(argc, argv, program, options, args);
    if (first_file < 0) return first_file == kStartDone ? 0 : 1;
    // -p gives the palette that -l takes from each entry and -P keeps.
    const char clash = options.own_palette ? 'P' : options.has_list_file ? 'l' : 0;
    if (options.has_palette_file && clash) {
        report(MSG_EXCLUSIVE, 'p', clash);
        report(MSG_OPTION_ERROR);
        return 1;
    }
    if (first_file >= static_cast<int>(args.size())) {
        report(MSG_PACK_USAGE);
        return 1;
    }
    const std::vector<std::string> pictures(args.begin() + first_file, args.end());
    if (options.has_list_file) return put_back(pictures, options) ? 0 : 2;
    std::vector<uint8_t> palette;
    FileId palette_id{0, 0, false};
    if (options.has_palette_file && !read_palette_file(options.palette_file, &palette, &palette_id))
        return 2;
    int status = 0;
    for (const std::string& picture : pictures)
        if (!pack_file(picture, options, options.has_palette_file ? &palette : nullptr,
                       &palette_id))
            status = 2;
    return status;
}
