#include "report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

// Each thread's: the progress line held (none: nullptr), and the transcript its output goes to
// (none: the standard streams).  Plain pointers: MinGW's runtime can free thread-local storage
// before it runs the destructors of what it holds, which then crash as the thread ends.
thread_local std::string* held_line = nullptr;
thread_local Transcript* transcript = nullptr;

// Writes `text` to standard output, or to the transcript.  Texts are written
// with their length: a message may carry a NUL byte.
void out(const std::string& text) {
    if (!transcript) {
        std::fwrite(text.data(), 1, text.size(), stdout);
    } else if (!text.empty()) {
        transcript->push_back({false, text});
    }
}

std::string format_text(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    std::string text(static_cast<size_t>(std::max(0, std::vsnprintf(nullptr, 0, format, again))),
                     '\0');
    va_end(again);
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

// Standard output flushed, then `text` on standard error.
void err(const std::string& text) {
    if (transcript) return transcript->push_back({true, text});
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr); // Windows' C runtime can hold what it is given for an unbuffered stream
}

} // namespace

void hold_progress(const std::string& line) {
    delete held_line;
    held_line = line.empty() ? nullptr : new std::string(line);
}

void report(const char* format, ...) {
    if (held_line) out(*held_line);
    hold_progress("");
    va_list args;
    va_start(args, format);
    err(format_text(format, args));
    va_end(args);
}

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    out(format_text(format, args));
    va_end(args);
}

Transcript* record_output(Transcript* to) {
    Transcript* const before = transcript;
    transcript = to;
    return before;
}

void replay(const Transcript& pieces) {
    for (const auto& [to_error, text] : pieces)
        to_error ? err(text) : out(text);
}
