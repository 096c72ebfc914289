#include "naming.h"

#include "host.h"

void replace_extension(std::string& out, const std::string& name, const char* ext) {
    out.append(name, 0, name.find('.'));
    out += '.';
    out += ext;
}

namespace {

// Starts `out` with `work_dir` and a separator, and returns `name`'s base name.
std::string start_path(std::string& out, const std::string& name, const std::string& work_dir) {
    out.clear();
    if (!work_dir.empty()) {
        out = work_dir;
        if (work_dir.back() != '\\' && work_dir.back() != '/') out += kHostJoin;
    }
    const size_t separator = name.find_last_of(kHostSeparators);
    return separator == std::string::npos ? name : name.substr(separator + 1);
}

} // namespace

void make_output_name(std::string& out, const std::string& name, const std::string& work_dir,
                      const char* ext) {
    replace_extension(out, start_path(out, name, work_dir), ext);
}

void make_output_path(std::string& out, const std::string& name, const std::string& work_dir) {
    out += start_path(out, name, work_dir);
}

std::string output_stem(const std::string& name) {
    std::string path;
    const std::string base = start_path(path, name, "");
    return base.substr(0, base.find('.'));
}

bool same_stem(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        const char x = a[i], y = b[i];
        const bool letter = (x | 0x20) >= 'a' && (x | 0x20) <= 'z';
        if (x != y && !(kHostIgnoresCase && letter && (x | 0x20) == (y | 0x20))) return false;
    }
    return true;
}
