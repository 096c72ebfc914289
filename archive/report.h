// The one way the programs' messages go out: progress lines to standard
// output, everything else to standard error, or, for a thread that records
// them, into a transcript (the library's callers take them as values).
#pragma once

#include <string>
#include <utility>
#include <vector>

// Prints the line held by hold_progress, if any, and flushes standard output,
// then writes a formatted message to standard error, so that a message
// follows the progress line it belongs to.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Holds a progress line that is printed only if a message follows it (an
// empty text drops it): for jobs whose line, when they succeed, comes later.
// A thread ends with no line held.
void hold_progress(const std::string& line);

// Writes a formatted text to standard output.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What a thread wrote, in order: each piece for standard error (true) or output.
using Transcript = std::vector<std::pair<bool, std::string>>;

// From now on, what this thread says and reports goes into `to` (nullptr: to
// the standard streams again).  Returns where it went before.
Transcript* record_output(Transcript* to);

// Writes a transcript as the same calls of say and report would have written it.
void replay(const Transcript& pieces);
