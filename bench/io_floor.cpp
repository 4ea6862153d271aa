// The I/O floor: the work no implementation of modweld can avoid, and nothing else. Takes
// modweld's arguments, reads the link file and the linked image whole (open, fstat, one
// read into a buffer of the file's size) and writes the linked image to the output in one
// request. The benchmark times modweld against this.
//
// With --huge-pages as the first argument, the buffers come from the same huge-page blocks
// as modweld's: the floor of an implementation that reads as modweld does.
#include "platform/memory_block.h"

#include <cstdint>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct loaded {
    std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
};

bool huge_pages = false;

bool load(const char* path, loaded& into)
{
    const int fd = ::open(path, O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return false;
    into.size = static_cast<std::size_t>(st.st_size);
    into.bytes = huge_pages ? static_cast<std::uint8_t*>(allocate_block(into.size, false).start)
                            : new (std::nothrow) std::uint8_t[into.size];
    const bool ok = into.bytes != nullptr && ::read(fd, into.bytes, into.size) == static_cast<ssize_t>(into.size);
    ::close(fd);
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    const char* link_path = nullptr;
    const char* output_path = nullptr;
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--huge-pages") == 0) {
        huge_pages = true;
        first = 2;
    }
    for (int i = first; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "-l") == 0)
            link_path = argv[i + 1];
        else if (std::strcmp(argv[i], "-o") == 0)
            output_path = argv[i + 1];
    }
    if (link_path == nullptr || output_path == nullptr)
        return 2;
    loaded link_file, linked_image;
    if (!load(link_path, link_file) || !load(argv[argc - 1], linked_image))
        return 1;
    const int fd = ::open(output_path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        return 1;
    const bool written = ::write(fd, linked_image.bytes, linked_image.size) == static_cast<ssize_t>(linked_image.size);
    ::close(fd);
    return written ? 0 : 1;
}
