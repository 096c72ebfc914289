#include "host.h"

#include <algorithm>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

// A UTF-8 path as the wide-character API wants it.
std::wstring wide(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    out.resize(out.size() - 1);
    return out;
}

std::string utf8(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

HANDLE handle_of(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

FileId id_of(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return FileId{0, 0, false};
    return FileId{info.dwVolumeSerialNumber,
                  static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow, true};
}

// Wraps a handle in a C stream; the stream owns it afterwards.
std::FILE* stream_of(HANDLE handle, int flags, const char* mode) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, mode);
    if (!file) _close(fd);
    return file;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Another process's handle makes some calls fail for a moment: opening a
// file that is being replaced (access denied while its old self is deleted),
// or replacing one that is open (a sharing violation, access denied), as
// another run of quorbin-pack, a virus scanner or an indexer may have it.
// `attempt` is tried again after such a failure, waiting longer each time,
// for at most about `ms` milliseconds.
template <typename Attempt> bool retrying(Attempt attempt, DWORD ms) {
    for (DWORD waited = 0, step = 1;; waited += step, step = std::min<DWORD>(2 * step, 64)) {
        if (attempt()) return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
             error != ERROR_LOCK_VIOLATION) ||
            waited >= ms)
            return false;
        Sleep(step);
    }
}

// CreateFileW, tried again for a moment where another handle is in the way.
HANDLE open_retrying(const std::wstring& name, DWORD access, DWORD disposition, DWORD flags) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    retrying(
        [&] {
            handle =
                CreateFileW(name.c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
            if (handle != INVALID_HANDLE_VALUE) return true;
            // A directory that does not open stays so.
            const DWORD error = GetLastError(), attributes = GetFileAttributesW(name.c_str());
            const bool directory =
                attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
            SetLastError(directory ? ERROR_DIRECTORY : error);
            return false;
        },
        2000);
    return handle;
}

struct StartInfo {
    int new_mode;
};

} // namespace

const char kHostSeparators[] = "\\";
const char kHostJoin = '\\';
const bool kHostIgnoresCase = true;

// The C runtime's own splitting of the wide command line.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int glob,
                              StartInfo* info);

std::vector<std::string> host_start(int argc, char** argv) {
    _setmode(_fileno(stdin), _O_BINARY);
    int wide_argc = 0;
    wchar_t** wide_argv = nullptr;
    wchar_t** env = nullptr;
    StartInfo info{0};
    if (__wgetmainargs(&wide_argc, &wide_argv, &env, 0, &info) != 0 || !wide_argv)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < wide_argc; i++)
        args.push_back(utf8(wide_argv[i]));
    return args;
}

FileId file_id_of(std::FILE* file) {
    return id_of(handle_of(file));
}

FileId path_id(const char* path) {
    HANDLE handle = open_retrying(wide(path), 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) return FileId{0, 0, false};
    const FileId id = id_of(handle);
    CloseHandle(handle);
    return id;
}

bool rename_file(const char* from, const char* to) {
    const std::wstring source = wide(from), target = wide(to);
    return retrying(
        [&] { return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0; },
        10000);
}

std::FILE* open_input(const char* path, InputUse use) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open.
    HANDLE handle = open_retrying(wide(path), GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    std::FILE* file = stream_of(handle, _O_RDONLY, "rb");
    if (file && use == kReadBlocks) std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

int create_output(const char* path, const FileId* protect, int count, OutputFile* out) {
    // OPEN_ALWAYS does not truncate: the file is only emptied once it is known
    // not to be one of the files this job reads.
    HANDLE handle = CreateFileW(wide(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return kCreateFailed;
    const FileId id = id_of(handle);
    for (int i = 0; i < count; i++) {
        if (same_file(protect[i], id)) {
            CloseHandle(handle);
            return kCreateIsInput;
        }
    }
    out->regular = GetFileType(handle) == FILE_TYPE_DISK;
    if (out->regular && !SetEndOfFile(handle)) {
        CloseHandle(handle);
        return kCreateFailed;
    }
    out->file = stream_of(handle, _O_WRONLY, "wb");
    if (!out->file) return kCreateFailed;
    std::setvbuf(out->file, nullptr, _IONBF, 0);
    return kCreated;
}

int create_new_output(const char* path, OutputFile* out) {
    const std::wstring name = wide(path);
    auto create = [&] {
        return CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE handle = create();
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS &&
        !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        DeleteFileW(name.c_str()))
        handle = create();
    if (handle == INVALID_HANDLE_VALUE) return kCreateFailed;
    out->regular = true;
    out->file = stream_of(handle, _O_WRONLY, "wb");
    if (!out->file) return kCreateFailed;
    std::setvbuf(out->file, nullptr, _IONBF, 0);
    return kCreated;
}

std::string link_target(const std::string& path) {
    const std::wstring name = wide(path.c_str());
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return path;
    HANDLE handle = CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return path;
    wchar_t final[32768];
    const DWORD n = GetFinalPathNameByHandleW(handle, final, 32768, FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    if (n == 0 || n >= 32768) return path;
    const std::string target = utf8(final);
    return target.starts_with("\\\\?\\") ? target.substr(4) : target;
}

bool is_read_only(const char* path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool lock_file(const char* path, FileLock* lock) {
    // A named mutex for the file's identity: a lock held by an open handle of
    // the file would keep the rename from replacing it, as Windows does not
    // give up a name while a handle to its file is open.  The system releases
    // a mutex whose owner dies.
    for (;;) {
        const FileId id = path_id(path);
        if (!id.known) return false;
        const std::wstring name =
            L"Local\\quorbin-" + std::to_wstring(id.device) + L"-" + std::to_wstring(id.inode);
        HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
        if (!mutex) return false;
        const DWORD waited = WaitForSingleObject(mutex, INFINITE);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
            CloseHandle(mutex);
            return false;
        }
        if (same_file(id, path_id(path))) {
            lock->handle = reinterpret_cast<intptr_t>(mutex);
            return true;
        }
        ReleaseMutex(mutex); // replaced while this run waited: lock the new file
        CloseHandle(mutex);
    }
}

void unlock_file(FileLock& lock) {
    ReleaseMutex(reinterpret_cast<HANDLE>(lock.handle));
    CloseHandle(reinterpret_cast<HANDLE>(lock.handle));
}

int64_t file_size(std::FILE* file) {
    HANDLE handle = handle_of(file);
    LARGE_INTEGER size;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) return -1;
    return size.QuadPart;
}

int64_t bytes_to_end(std::FILE* file) {
    const int64_t size = file_size(file);
    const int64_t position = _ftelli64(file);
    if (size < 0 || position < 0) return -1;
    return position >= size ? 0 : size - position;
}

bool seek_to(std::FILE* file, int64_t offset) {
    return offset >= 0 && _fseeki64(file, offset, SEEK_SET) == 0;
}

bool remove_file(const char* path) {
    return DeleteFileW(wide(path).c_str()) != 0;
}

bool copy_permissions(std::FILE* from, std::FILE* to) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle_of(from), &info)) return false;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return true;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_READONLY;
    return SetFileInformationByHandle(handle_of(to), FileBasicInfo, &basic, sizeof basic) != 0;
}

bool flush_to_disk(std::FILE* file) {
    return std::fflush(file) == 0 && FlushFileBuffers(handle_of(file)) != 0;
}

bool copy_bytes(std::FILE* from, std::FILE* to, int64_t count) {
    std::vector<char> block(size_t{1} << 20);
    while (count > 0) {
        const DWORD want = static_cast<DWORD>(std::min<int64_t>(count, 1 << 20));
        DWORD got = 0, put = 0;
        if (!ReadFile(handle_of(from), block.data(), want, &got, nullptr) || got == 0 ||
            !WriteFile(handle_of(to), block.data(), got, &put, nullptr) || put != got)
            return false;
        count -= got;
    }
    return true;
}

void prefer_huge_pages(void*, size_t) {}
