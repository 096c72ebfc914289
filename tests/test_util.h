// Helpers shared by the tests: scratch directories, whole files and trees,
// running a program, and a deliberately plain model of the BMP file quorbin
// must write for a decoded image.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
constexpr bool kWindows = true;
#else
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
constexpr bool kWindows = false;
#endif

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// A path from UTF-8 text, and back: on every host.
inline fs::path u8path(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}
inline std::string u8name(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string str(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

inline Bytes random_bytes(std::mt19937& rng, size_t size, unsigned alphabet = 256) {
    Bytes bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(rng() % alphabet);
    return bytes;
}

// A fresh directory under the system's temporary directory, removed at the end.
struct TempDir {
    fs::path path;
    TempDir() {
        std::random_device random;
        do
            path = fs::temp_directory_path() / ("quorbin-" + std::to_string(random()));
        while (!fs::create_directory(path));
    }
    ~TempDir() { fs::remove_all(path); }
};

// Every file and directory below `root` (directories end in '/'), with the
// contents of the files.
inline std::map<std::string, std::string> read_tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string name = u8name(entry.path().lexically_relative(root));
        if (entry.is_symlink())
            tree[name] = "(special)";
        else if (entry.is_directory())
            tree[name + "/"] = "";
        else
            tree[name] = entry.is_regular_file() && entry.file_size() < (1u << 30)
                             ? read_file(entry.path())
                             : "(special)";
    }
    return tree;
}

struct RunResult {
    int status;
    std::string out, err; // with `merged`, both streams are in `out`
};

// Runs `program` with `args` in `dir`; standard input is `input` through a
// pipe (closed when `input` is null), standard output and error go to files
// in `io`, read back when the program has ended.
inline RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                             const fs::path& dir, const fs::path& io, const std::string* input,
                             bool merged = false) {
#ifdef _WIN32
    // The command line as the C runtime splits it: quotes around every
    // argument, backslashes doubled where a quote follows them.
    std::wstring line = L'"' + u8path(program).wstring() + L'"';
    for (const std::string& arg : args) {
        std::wstring quoted = L" \"", wide = u8path(arg).wstring();
        size_t slashes = 0;
        for (wchar_t c : wide) {
            quoted += c == L'"' ? std::wstring(slashes + 1, L'\\') + L'"' : std::wstring(1, c);
            slashes = c == L'\\' ? slashes + 1 : 0;
        }
        line += quoted + std::wstring(slashes, L'\\') + L'"';
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    auto create = [&](const char* name) {
        return CreateFileW((io / name).wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
    };
    HANDLE read_end = nullptr, write_end = nullptr;
    CreatePipe(&read_end, &write_end, &inherit, 0);
    SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = input ? read_end : INVALID_HANDLE_VALUE;
    start.hStdOutput = create("out");
    start.hStdError = merged ? start.hStdOutput : create("err");
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        dir.wstring().c_str(), &start, &process);
    CloseHandle(read_end);
    for (DWORD done = 0, n = 0; started && input && done < input->size(); done += n)
        if (!WriteFile(write_end, input->data() + done, DWORD(input->size() - done), &n, nullptr))
            break;
    CloseHandle(write_end);
    DWORD status = 127;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    for (HANDLE h : {process.hProcess, process.hThread, start.hStdOutput, start.hStdError})
        CloseHandle(h);
    return {started ? int(status) : -1, read_file(io / "out"), merged ? "" : read_file(io / "err")};
#else
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return {-1, "", ""};
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<const char*> argv{program.c_str()};
        for (const std::string& arg : args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        int out = open((io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = merged ? out : open((io / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        close(pipe_fds[1]);
        if (chdir(dir.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            (input ? dup2(pipe_fds[0], 0) : close(0)) < 0)
            _exit(127);
        execv(program.c_str(), const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    close(pipe_fds[0]);
    signal(SIGPIPE, SIG_IGN); // the program need not read all of its input
    for (size_t done = 0; input && done < input->size();) {
        ssize_t n = write(pipe_fds[1], input->data() + done, input->size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(pipe_fds[1]);
    int status = -1;
    waitpid(pid, &status, 0);
    return {WEXITSTATUS(status), read_file(io / "out"), merged ? "" : read_file(io / "err")};
#endif
}

inline std::string le32(uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// The BMP file for the decoded image `d` (pixels, palette, width, height),
// spelled out field by field.
inline std::string expected_bmp(const Bytes& d) {
    auto at = [&](size_t from_end) {
        const uint8_t* p = &d[d.size() - from_end];
        return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
    };
    const int32_t width = at(8), height = at(4);
    const size_t row = (static_cast<uint32_t>(width) + 3) / 4 * 4;
    const size_t rows = height > 0 && row > 0 ? static_cast<size_t>(height) : 0;
    std::string bmp = "BM" + le32(uint32_t(1078 + row * rows)) + le32(0) + le32(1078) + le32(40) +
                      le32(uint32_t(width)) + le32(uint32_t(height)) + std::string("\1\0\10\0", 4) +
                      std::string(24, '\0');
    const uint8_t* palette = &d[d.size() - 1032];
    for (int i = 0; i < 256; i++)
        bmp += {char(palette[4 * i + 2]), char(palette[4 * i + 1]), char(palette[4 * i]), '\0'};
    for (size_t y = rows; y-- > 0;) {
        const char* first = reinterpret_cast<const char*>(palette) - (rows - y) * size_t(width);
        bmp += std::string(first, size_t(width)) + std::string(row - size_t(width), '\0');
    }
    return bmp;
}
