#include "job.h"

#include "messages.h"
#include "naming.h"

std::FILE* start_job(const std::string& path, const Options& options, const char* ext,
                     std::string& output_path) {
    std::FILE* input = open_input(path.c_str(), kReadBlocks);
    if (!input) {
        report(MSG_CANT_OPEN, path.c_str());
        return nullptr;
    }
    make_output_name(output_path, path, options.work_dir, ext);
    say("%s", progress_line(path, output_path).c_str());
    return input;
}
