// The start of a run of quorbin or quorbin-pack: the options, help and the
// version, the banner.
#pragma once

#include <string>
#include <vector>

#include "report.h"
#include "run_options.h"

enum OptionsResult : int {
    kOptionsBad = -1,     // a missing value, an unknown letter or format
    kOptionsHelp = -2,    // "-h" (any argument whose second character is 'h') or "--help"
    kOptionsVersion = -3, // "--version"
};

// Scans argv[1..]: "-l FILE", "-C DIR", "-c DIR", "-f bmp|png", "-z 1..9", "-j N" (N > 0),
// "-p FILE", "-s DIR", "-P", "-n", "-d", "-F" and "-A" (the value, for those that take one, is
// always the next argument; the format in any letter case), and the requests for help and the
// version, which end the scan.  Only an option's second character counts, unless `one_letter`: then
// an option of more letters than one is refused (-nF is not taken for -n).  The first argument that
// does not begin with '-' and everything after it are file arguments.  Returns the index of the
// first file argument (argc when there is none), or an OptionsResult; an unknown letter or format
// and a refused option are reported on standard error.  `letters` lists the options a program
// takes, 'h' among them.
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
