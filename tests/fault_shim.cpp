// Preloaded (LD_PRELOAD) into the dynamically linked copy of the tool by the fault tests: one
// file call fails, or the process is killed at it, as MODWELD_TEST_FAULT says, so that faults a
// system gives only now and then come at will. Only this shim reads the variable.
//
//   write-enospc:N   the output takes N bytes, then every write fails with ENOSPC (a full disk)
//   write-eio        every write to the output fails with EIO
//   close-eio        closing the written output fails with EIO (it is closed all the same)
//   open-eacces      every open for writing fails with EACCES (a file the user may not write)
//   create-eacces    an exclusive create fails with EACCES (a directory the user may not write)
//   rename-exdev, rename-eacces   rename fails with EXDEV or EACCES
//   read-eio         every read of an input fails with EIO
//   read-short:N     the first input read ends after N bytes
//   kill-write:N     SIGKILL once the output has taken N bytes
//   kill-close, kill-rename, kill-renamed   SIGKILL as the output is closed, before and after rename
//
// "The output" is the last file opened for writing: the tool writes nothing else through these
// calls (standard output goes through the C library's own).
//
// The shim defines open and open64 alike, which the C library's headers would make one symbol
// where the build asks for 64-bit file offsets.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int output_fd = -1;
unsigned long long written = 0, read_total = 0;
int first_input = -1;

const char* fault()
{
    static const char* f = std::getenv("MODWELD_TEST_FAULT");
    return f != nullptr ? f : "";
}

bool is(const char* name)
{
    const std::size_t n = std::strlen(name);
    return std::strncmp(fault(), name, n) == 0 && (fault()[n] == '\0' || fault()[n] == ':');
}

unsigned long long number()
{
    const char* colon = std::strchr(fault(), ':');
    return colon != nullptr ? std::strtoull(colon + 1, nullptr, 10) : 0;
}

template <typename Function>
Function* next(const char* name)
{
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

void die() { kill(getpid(), SIGKILL); }

int fail(int error)
{
    errno = error;
    return -1;
}

int opened(const char* name, const char* path, int flags, mode_t mode)
{
    const bool writing = (flags & O_ACCMODE) != O_RDONLY;
    if (writing && is("open-eacces"))
        return fail(EACCES);
    if (writing && (flags & O_EXCL) != 0 && is("create-eacces"))
        return fail(EACCES);
    const int fd = next<int(const char*, int, ...)>(name)(path, flags, mode);
    if (fd >= 0 && writing) {
        output_fd = fd;
        written = 0;
    }
    return fd;
}

mode_t mode_of(int flags, va_list args) { return (flags & O_CREAT) != 0 ? va_arg(args, mode_t) : 0; }

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_of(flags, args);
    va_end(args);
    return opened("open", path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_of(flags, args);
    va_end(args);
    return opened("open64", path, flags, mode);
}

ssize_t write(int fd, const void* from, size_t n)
{
    if (fd == output_fd) {
        if (is("write-eio"))
            return fail(EIO);
        const bool limited = is("write-enospc") || is("kill-write");
        if (limited && written + n > number())
            n = static_cast<size_t>(number() - written);
        if (limited && n == 0) {
            if (is("kill-write"))
                die();
            return fail(ENOSPC);
        }
    }
    const ssize_t done = next<ssize_t(int, const void*, size_t)>("write")(fd, from, n);
    if (fd == output_fd && done > 0)
        written += static_cast<unsigned long long>(done);
    if (fd == output_fd && is("kill-write") && written >= number())
        die();
    return done;
}

ssize_t read(int fd, void* to, size_t n)
{
    if (is("read-eio"))
        return fail(EIO);
    if (first_input < 0)
        first_input = fd;
    if (is("read-short") && fd == first_input && read_total + n > number())
        n = static_cast<size_t>(number() - read_total);
    const ssize_t done = next<ssize_t(int, void*, size_t)>("read")(fd, to, n);
    if (fd == first_input && done > 0)
        read_total += static_cast<unsigned long long>(done);
    return done;
}

// Only a file that was written counts: the tool may open an existing output first only to look at it.
int close(int fd)
{
    const bool output = fd == output_fd && written > 0;
    if (output && is("kill-close"))
        die();
    const int status = next<int(int)>("close")(fd);
    if (output && is("close-eio"))
        return fail(EIO);
    return status;
}

int rename(const char* from, const char* to)
{
    if (is("kill-rename"))
        die();
    if (is("rename-exdev") || is("rename-eacces"))
        return fail(is("rename-exdev") ? EXDEV : EACCES);
    const int status = next<int(const char*, const char*)>("rename")(from, to);
    if (is("kill-renamed"))
        die();
    return status;
}

} // extern "C"
