// The start of a run of quorbin or quorbin-pack: the options, help and the
// version, the banner, and the one way messages reach standard error.
#pragma once

#include <string>
#include <utility>
#include <vector>

enum OutputFormat : int { kFormatBmp, kFormatPng };

struct Options {
    bool has_list_file = false;
    std::string list_file; // "-" reads the list from standard input
    std::string work_dir;  // empty: the current directory
    std::string archive_dir;
    OutputFormat format = kFormatBmp;
    bool has_palette_file = false; // quorbin-pack -p: the palette to map colours to
    std::string palette_file;
    bool own_palette = false; // quorbin-pack -P: keep the pictures' palettes and indices
    bool nearest = false;     // quorbin-pack -n: colours a palette lacks take the nearest ones
    bool dither = false;      // quorbin-pack -d: those diffuse their error (implies -n)
    bool fit = false;     // quorbin-pack -F: fit a picture into its entry where that hardly shows
    bool accept = false;  // quorbin-pack -A: take the best fit whatever it shows (implies -F)
    std::string show_dir; // quorbin-pack -s: where the pictures as put back go (empty: nowhere)
    int jobs = 0;         // -j: entries converted at once; 0: as many as there are processors
};

enum OptionsResult : int {
    kOptionsBad = -1,     // a missing value, an unknown letter or format
    kOptionsHelp = -2,    // "-h" (any argument whose second character is 'h') or "--help"
    kOptionsVersion = -3, // "--version"
};

// Scans argv[1..]: "-l FILE", "-C DIR", "-c DIR", "-f bmp|png", "-j N" (N > 0), "-p FILE",
// "-s DIR", "-P", "-n", "-d", "-F" and "-A" (the value, for those that take one, is always the
// next argument; the format in any letter case), and the requests for help and the version, which
// end the scan.  Only an option's second character counts, unless `one_letter`: then an option of
// more letters than one is refused (-nF is not taken for -n).  The first argument that does not
// begin with '-' and everything after it are file arguments.  Returns the index of the first file
// argument (argc when there is none), or an OptionsResult; an unknown letter or format and a
// refused option are reported on standard error.  `letters` lists the options a program takes,
// 'h' among them.
int parse_options(int argc, const char* const* argv, Options& options,
                  const char* letters = "hlCcf", bool one_letter = false);

// What sets each program apart at the start of a run.
struct Program {
    const char* name;    // as --version prints it
    const char* banner;  // a format with one %s for its padding
    const char* usage;   // the usage text
    const char* letters; // its option letters, for parse_options
    bool one_letter;     // an option is one letter, for parse_options
};

enum StartResult : int {
    kStartFailed = -1, // "option error." was reported: exit status 1
    kStartDone = -2,   // the usage text or the version was printed: exit status 0
};

// The start of a run: takes the arguments from the host as UTF-8 into
// `args`, prints the banner and parses the options.  Help and the version
// go to standard output.  Returns the index of the first file argument, or a
// StartResult when the run ends here.
int start_run(int argc, char** argv, const Program& program, Options& options,
              std::vector<std::string>& args);

// Prints the line held by hold_progress, if any, and flushes standard output,
// then writes a formatted message to standard error, so that a message
// follows the progress line it belongs to.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Holds a progress line that is printed only if a message follows it (an
// empty text drops it): for jobs whose line, when they succeed, comes later.
void hold_progress(const std::string& line);

// Writes a formatted text to standard output.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What a thread wrote, in order: each piece for standard error (true) or output.
using Transcript = std::vector<std::pair<bool, std::string>>;

// From now on, what this thread says and reports goes into `to` (nullptr: to
// the standard streams again).
void record_output(Transcript* to);

// Writes a transcript as the same calls of say and report would have written it.
void replay(const Transcript& pieces);
