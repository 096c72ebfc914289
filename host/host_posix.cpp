#include "host.h"

#include <fcntl.h>

#include <cerrno>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

const char kHostSeparators[] = "/\\";
const char kHostJoin = '/';
const bool kHostIgnoresCase = false;

std::vector<std::string> host_start(int argc, char** argv) {
    // Standard input is already binary here, and arguments are bytes.
    return std::vector<std::string>(argv, argv + argc);
}

namespace {

FileId id_of(int result, const struct stat& st) {
    if (result != 0) return FileId{0, 0, false};
    return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), true};
}

} // namespace

FileId file_id_of(std::FILE* file) {
    struct stat st;
    return id_of(fstat(fileno(file), &st), st);
}

FileId path_id(const char* path) {
    struct stat st;
    return id_of(stat(path, &st), st);
}

bool rename_file(const char* from, const char* to) {
    return std::rename(from, to) == 0;
}

std::FILE* open_input(const char* path, InputUse use) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return nullptr;
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    if (use == kReadBlocks) std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

// Wraps a descriptor opened for writing in an unbuffered stream.
int output_of(int fd, OutputFile* out) {
    out->file = fdopen(fd, "wb");
    if (!out->file) {
        close(fd);
        return kCreateFailed;
    }
    std::setvbuf(out->file, nullptr, _IONBF, 0);
    return kCreated;
}

int create_output(const char* path, const FileId* protect, int count, OutputFile* out) {
    // Open without O_TRUNC first: the file is only emptied once it is known
    // not to be one of the files this job reads.
    // O_NONBLOCK: a FIFO with no reader is refused instead of waited for.
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return kCreateFailed;
    auto give_up = [fd](int result) {
        close(fd);
        return result;
    };
    struct stat st;
    if (fstat(fd, &st) != 0) return give_up(kCreateFailed);
    const FileId id = id_of(0, st);
    for (int i = 0; i < count; i++) {
        if (same_file(protect[i], id)) return give_up(kCreateIsInput);
    }
    out->regular = S_ISREG(st.st_mode);
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        (out->regular && ftruncate(fd, 0) != 0))
        return give_up(kCreateFailed);
    return output_of(fd, out);
}

int create_new_output(const char* path, OutputFile* out) {
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    int fd = open(path, flags, 0666);
    struct stat st;
    if (fd < 0 && errno == EEXIST && lstat(path, &st) == 0 && S_ISREG(st.st_mode) &&
        unlink(path) == 0)
        fd = open(path, flags, 0666);
    if (fd < 0) return kCreateFailed;
    out->regular = true;
    return output_of(fd, out);
}

std::string link_target(const std::string& path) {
    struct stat st;
    char resolved[PATH_MAX];
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) || !realpath(path.c_str(), resolved))
        return path;
    return resolved;
}

bool is_read_only(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && ((st.st_mode & 0222) == 0 || access(path, W_OK) != 0);
}

bool lock_file(const char* path, FileLock* lock) {
    for (;;) {
        const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return false;
        int locked;
        while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {}
        struct stat held, named;
        if (locked != 0 || fstat(fd, &held) != 0) {
            close(fd);
            return false;
        }
        if (stat(path, &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            lock->handle = fd;
            return true;
        }
        close(fd); // replaced while this run waited: lock the new file
    }
}

void unlock_file(FileLock& lock) {
    close(static_cast<int>(lock.handle));
}

int64_t file_size(std::FILE* file) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t bytes_to_end(std::FILE* file) {
    const int64_t size = file_size(file);
    const off_t position = ftello(file);
    if (size < 0 || position < 0) return -1;
    return position >= size ? 0 : size - static_cast<int64_t>(position);
}

bool remove_file(const char* path) {
    return unlink(path) == 0;
}

bool seek_to(std::FILE* file, int64_t offset) {
    if (offset < 0 || static_cast<off_t>(offset) != offset) return false;
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool copy_permissions(std::FILE* from, std::FILE* to) {
    struct stat st;
    return fstat(fileno(from), &st) == 0 && fchmod(fileno(to), st.st_mode & 07777) == 0;
}

bool flush_to_disk(std::FILE* file) {
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool copy_bytes(std::FILE* from, std::FILE* to, int64_t count) {
    const int in = fileno(from), out = fileno(to);
    while (count > 0) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(count, INT32_MAX));
        ssize_t done = -1;
#ifdef __linux__
        done = copy_file_range(in, nullptr, out, nullptr, want, 0);
#endif
        if (done < 0) { // no kernel copy here, or not between these files
            std::vector<char> block(std::min<size_t>(want, size_t{1} << 20));
            done = read(in, block.data(), block.size());
            if (done > 0 && write(out, block.data(), static_cast<size_t>(done)) != done)
                return false;
        }
        if (done <= 0) return false;
        count -= done;
    }
    return true;
}

void prefer_huge_pages(void* memory, size_t size) {
#ifdef MADV_HUGEPAGE
    // The whole 2 MiB pages inside the block: each costs one fault when first touched.
    constexpr uintptr_t kHuge = uintptr_t{1} << 21;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(memory) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(memory) + size) & ~(kHuge - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)memory, (void)size;
#endif
}
