#include "cli/file_io.h"

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <system_error>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using file_stat = struct _stat64;
constexpr int READ_FLAGS = _O_RDONLY | _O_BINARY;
constexpr int EXISTING_FLAGS = _O_WRONLY | _O_BINARY;
constexpr int NEW_FLAGS = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
constexpr int CREATE_MODE = _S_IREAD | _S_IWRITE;
// One request may carry at most INT_MAX bytes here.
constexpr std::size_t MAX_REQUEST = 0x7fffffff;
int open_file(const char* path, int flags) { return _open(path, flags, CREATE_MODE); }
int stat_file(int fd, file_stat* st) { return _fstat64(fd, st); }
long long read_file(int fd, std::uint8_t* to, std::size_t n)
{
    return _read(fd, to, static_cast<unsigned>(n < MAX_REQUEST ? n : MAX_REQUEST));
}
long long write_file(int fd, const std::uint8_t* from, std::size_t n)
{
    return _write(fd, from, static_cast<unsigned>(n < MAX_REQUEST ? n : MAX_REQUEST));
}
int close_file(int fd) { return _close(fd); }
// A read-only output was refused before, and Windows has no other mode bits to keep.
bool keep_mode(int, const file_stat&) { return true; }
std::string resolved(const char* path) { return path; }
// MoveFileEx replaces an existing file, where rename refuses to. Empty when it did.
std::string move_over(const std::string& from, const std::string& to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)
               ? std::string()
               : std::system_category().message(static_cast<int>(GetLastError()));
}
#else
using file_stat = struct stat;
#ifndef O_BINARY
#define O_BINARY 0
#endif
constexpr int READ_FLAGS = O_RDONLY | O_BINARY;
constexpr int EXISTING_FLAGS = O_WRONLY | O_BINARY;
constexpr int NEW_FLAGS = O_WRONLY | O_CREAT | O_EXCL | O_BINARY;
constexpr mode_t CREATE_MODE = 0666;
int open_file(const char* path, int flags) { return ::open(path, flags, CREATE_MODE); }
int stat_file(int fd, file_stat* st) { return ::fstat(fd, st); }
long long read_file(int fd, std::uint8_t* to, std::size_t n) { return ::read(fd, to, n); }
long long write_file(int fd, const std::uint8_t* from, std::size_t n) { return ::write(fd, from, n); }
int close_file(int fd) { return ::close(fd); }
bool keep_mode(int fd, const file_stat& old) { return ::fchmod(fd, old.st_mode & 07777) == 0; }
// The file that writing through `path` would reach: a symbolic link stays, and what it names
// (relative to the link's directory, existing or not) is replaced.
std::string resolved(const char* path)
{
    std::string at = path;
    char to[4096];
    for (int hops = 0; hops < 40; ++hops) {
        const ssize_t n = ::readlink(at.c_str(), to, sizeof to);
        if (n <= 0 || n == sizeof to)
            break;
        const std::size_t slash = at.rfind('/');
        at = (to[0] == '/' || slash == std::string::npos ? "" : at.substr(0, slash + 1)) + std::string(to, n);
    }
    return at;
}
std::string move_over(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0 ? std::string() : std::strerror(errno);
}
#endif

// The bytes moved: all `size`, or fewer when the system refused the rest (errno says why)
// or had no more (errno 0: the file ended). One request for the whole size; the rest is
// asked for again only when the system hands back less.
template <typename Byte, typename Request>
std::size_t transfer_all(int fd, Byte* at, std::size_t size, Request request)
{
    std::size_t done = 0;
    while (done < size) {
        const long long n = request(fd, at + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = 0;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// The line after a failure's own line, which scripts match: the file's role, its path, and why.
void print_cause(const char* role, const char* action, const char* path, const char* why)
{
    std::printf("%s: cannot %s %s: %s\n", role, action, path, why);
}

bool output_failed(const char* path, const char* action, const std::string& why)
{
    if (std::strcmp(action, "create") == 0)
        std::printf("create %s error\n", path);
    else
        std::printf("write %s error\n", path);
    print_cause("module image", action, path, why.c_str());
    return false;
}

// The image written, the old file's mode given to it (after the writes, which would clear a
// set-group-ID bit) and `fd` closed; else errno says why.
bool write_and_close(int fd, image_view image, const file_stat* old = nullptr)
{
    const bool done = transfer_all(fd, image.data(), image.size(), write_file) == image.size() &&
                      (old == nullptr || keep_mode(fd, *old));
    const int error = errno != 0 ? errno : EIO;
    if (close_file(fd) != 0 && done)
        return false;
    errno = error;
    return done;
}

// The image goes to a new file beside the output, which then replaces it in one step: the
// path holds the old file or the whole new one, never a part. `old` is the file there, if any.
bool replace_output(const char* path, image_view image, const file_stat* old)
{
    const std::string target = resolved(path);
    std::string temp;
    int fd = -1;
    std::random_device random; // a name no one can guess, so no one can plant a file there first
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".modweld-%08x%08x", random(), random());
        temp = target + suffix;
        fd = open_file(temp.c_str(), NEW_FLAGS);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return output_failed(path, "create", std::strerror(errno));
    const bool written = write_and_close(fd, image, old);
    const std::string why = written ? move_over(temp, target) : std::strerror(errno);
    if (why.empty())
        return true;
    std::remove(temp.c_str());
    return output_failed(path, written ? "replace" : "write", why);
}

} // namespace

bool load_input(const char* role, const char* path, image_buffer& buffer)
{
    const int fd = open_file(path, READ_FLAGS);
    if (fd < 0) {
        std::printf("open %s error\n", path);
        print_cause(role, "open", path, std::strerror(errno));
        return false;
    }
    file_stat st{};
    if (stat_file(fd, &st) != 0 || st.st_size < 0) {
        std::fputs("stat file error\n", stdout);
        print_cause(role, "stat", path, std::strerror(st.st_size < 0 ? EINVAL : errno));
        close_file(fd);
        return false;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > MAX_INPUT_SIZE) {
        std::printf("%s is too large (%" PRIu64 " bytes): inputs must be smaller than 4 GiB\n", path,
                    size);
        close_file(fd);
        return false;
    }
    buffer.size = static_cast<std::size_t>(size);
    buffer.block = allocate_block(buffer.size, false);
    if (buffer.block.start == nullptr) {
        std::fputs("out of memory\n", stdout);
        close_file(fd);
        return false;
    }
    const std::uint64_t got = transfer_all(fd, buffer.bytes(), buffer.size, read_file);
    const int error = errno;
    close_file(fd);
    if (got == size)
        return true;
    std::fputs("read file error\n", stdout);
    if (error != 0)
        print_cause(role, "read", path, std::strerror(error));
    else
        std::printf("%s: cannot read %s: it ended after %" PRIu64 " of %" PRIu64 " bytes\n", role, path, got, size);
    return false;
}

bool write_output(const char* path, image_view image)
{
#ifndef _WIN32
    // Past a file-size limit a write then fails with EFBIG instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // Opened without truncating it, an existing output says whether it may be written at all
    // (as before, a read-only one is refused) and whether it is a file that can be replaced.
    const int fd = open_file(path, EXISTING_FLAGS);
    if (fd < 0 && (errno != ENOENT || *path == '\0'))
        return output_failed(path, "create", std::strerror(errno));
    file_stat st{};
    if (fd >= 0 && (stat_file(fd, &st) != 0 || (st.st_mode & S_IFMT) != S_IFREG)) {
        // A device or a FIFO is written as it is: it holds no image to keep.
        return write_and_close(fd, image) || output_failed(path, "write", std::strerror(errno));
    }
    if (fd >= 0)
        close_file(fd);
    return replace_output(path, image, fd >= 0 ? &st : nullptr);
}
