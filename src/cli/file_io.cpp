#include "cli/file_io.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using file_stat = struct _stat64;
constexpr int READ_FLAGS = _O_RDONLY | _O_BINARY;
constexpr int WRITE_FLAGS = _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY;
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
#else
using file_stat = struct stat;
#ifndef O_BINARY
#define O_BINARY 0
#endif
constexpr int READ_FLAGS = O_RDONLY | O_BINARY;
constexpr int WRITE_FLAGS = O_WRONLY | O_CREAT | O_TRUNC | O_BINARY;
constexpr mode_t CREATE_MODE = 0666;
int open_file(const char* path, int flags) { return ::open(path, flags, CREATE_MODE); }
int stat_file(int fd, file_stat* st) { return ::fstat(fd, st); }
long long read_file(int fd, std::uint8_t* to, std::size_t n) { return ::read(fd, to, n); }
long long write_file(int fd, const std::uint8_t* from, std::size_t n) { return ::write(fd, from, n); }
int close_file(int fd) { return ::close(fd); }
#endif

// One request for the whole size; the rest is asked for again only when the system
// hands back less (an interrupted call, or more than one request can carry).
template <typename Byte, typename Request>
bool transfer_all(int fd, Byte* at, std::size_t size, Request request)
{
    std::size_t done = 0;
    while (done < size) {
        const long long n = request(fd, at + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool load_input(const char* path, image_buffer& buffer)
{
    const int fd = open_file(path, READ_FLAGS);
    if (fd < 0) {
        std::printf("open %s error\n", path);
        return false;
    }
    file_stat st{};
    if (stat_file(fd, &st) != 0 || st.st_size < 0) {
        std::fputs("stat file error\n", stdout);
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
    if (!transfer_all(fd, buffer.bytes(), buffer.size, read_file)) {
        std::fputs("read file error\n", stdout);
        close_file(fd);
        return false;
    }
    close_file(fd);
    return true;
}

bool write_output(const char* path, image_view image)
{
    const int fd = open_file(path, WRITE_FLAGS);
    if (fd < 0) {
        std::printf("create %s error\n", path);
        return false;
    }
    const bool written = transfer_all(fd, image.data(), image.size(), write_file);
    if (close_file(fd) != 0 || !written) {
        std::printf("write %s error\n", path);
        return false;
    }
    return true;
}
