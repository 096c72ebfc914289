#include "naming.h"

#include "host.h"

void replace_extension(std::string& out, const std::string& name, const char* ext) {
    out.append(name, 0, name.find('.'));
    out += '.';
    out += ext;
}

void make_output_name(std::string& out, const std::string& name, const std::string& work_dir,
                      const char* ext) {
    out.clear();
    if (!work_dir.empty()) {
        out = work_dir;
        if (work_dir.back() != '\\' && work_dir.back() != '/') out += kHostJoin;
    }
    const size_t separator = name.find_last_of(kHostSeparators);
    replace_extension(out, separator == std::string::npos ? name : name.substr(separator + 1), ext);
}
