#include "programs.h"

#include <algorithm>

#include "batch.h"
#include "convert.h"
#include "listfile.h"
#include "messages.h"
#include "naming.h"
#include "options.h"
#include "pack.h"
#include "png/png.h"
#include "putback.h"

namespace {

// An entry of the list or a file of the command line, with what reading the
// list said before it.
enum ConversionKind : int { kMessagesOnly, kEntry, kFile };
struct Conversion {
    Transcript before;
    ConversionKind kind = kMessagesOnly;
    ListLine line;    // an entry's
    std::string path; // a file's
};

// The list's entries and the files, converted `threads` at a time.
void convert_all(const std::vector<std::string>& paths, const Options& options, int threads) {
    std::vector<Conversion> jobs;
    FileId list_id{0, 0, false};
    Transcript said;
    if (options.has_list_file) {
        record_output(&said);
        ListReader list;
        if (open_list(options.list_file, &list)) {
            list_id = list.id;
            for (Conversion job{{}, kEntry, {}, {}}; next_list_line(list, &job.line);
                 said.clear()) {
                job.before = std::move(said);
                jobs.push_back(job);
            }
        }
        record_output(nullptr);
        if (!said.empty()) jobs.push_back({std::move(said), kMessagesOnly, {}, {}});
    }
    for (const std::string& path : paths)
        jobs.push_back({{}, kFile, {}, path});
    std::vector<JobFiles> files(jobs.size());
    const char* ext = format_extension(options.format);
    for (size_t i = 0; i < jobs.size(); i++) {
        const Conversion& job = jobs[i];
        files[i].input =
            job.kind == kEntry ? options.archive_dir + job.line.archive_name : job.path;
        if (job.kind != kMessagesOnly)
            make_output_name(files[i].output, job.kind == kEntry ? job.line.entry_name : job.path,
                             options.work_dir, ext);
    }
    run_jobs(threads, files, [&](size_t i) {
        const Conversion& job = jobs[i];
        replay(job.before);
        if (job.kind == kEntry)
            convert_archive_entry(files[i].input, job.line.offset, job.line.stored_size,
                                  job.line.entry_name, options, &list_id);
        else if (job.kind == kFile)
            convert_file(job.path, options);
    });
}

} // namespace

int quorbin_main(int argc, char** argv) {
    std::vector<std::string> args;
    Options options;
    const Program program{"quorbin", MSG_BANNER, MSG_USAGE, "hlCcfzj", false};
    const int first_file = start_run(argc, argv, program, options, args);
    if (first_file < 0) return first_file == kStartDone ? 0 : 1;
    if (!options.has_list_file && first_file >= static_cast<int>(args.size())) {
        report(MSG_USAGE);
        return 1;
    }
    const std::vector<std::string> paths(args.begin() + first_file, args.end());
    png_hint_big_buffers(prefer_huge_pages);
    png_set_effort(options.png_effort);
    const int threads = job_count(options.jobs);
    if (threads > 1) {
        convert_all(paths, options, threads);
        return 0;
    }
    // One at a time, each list line converted as it is read.
    if (options.has_list_file) process_list_file(options.list_file, options);
    for (const std::string& path : paths)
        convert_file(path, options);
    return 0;
}

int quorbin_pack_main(int argc, char** argv) {
    std::vector<std::string> args;
    Options options;
    const Program program{"quorbin-pack", MSG_PACK_BANNER, MSG_PACK_USAGE, "hlcCpPndFAsj", true};
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
    std::vector<JobFiles> files(pictures.size());
    for (size_t i = 0; i < pictures.size(); i++) {
        files[i].input = pictures[i];
        make_output_name(files[i].output, pictures[i], options.work_dir, "kzp");
    }
    std::vector<char> packed(pictures.size(), 0);
    run_jobs(job_count(options.jobs), files, [&](size_t i) {
        packed[i] = pack_file(pictures[i], options, options.has_palette_file ? &palette : nullptr,
                              &palette_id);
    });
    return std::count(packed.begin(), packed.end(), 0) ? 2 : 0;
}
