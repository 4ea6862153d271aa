// Loading the inputs whole and writing the module image in one piece. Each function
// prints its own one-line message on standard output when it fails.
#pragma once

#include "elf/image_bytes.h"
#include "platform/memory_block.h"

#include <cstddef>
#include <cstdint>

// An input's bytes, in a block of its own that lives as long as the buffer.
struct image_buffer {
    memory_block block;
    std::size_t size = 0;

    image_buffer() = default;
    image_buffer(const image_buffer&) = delete;
    image_buffer& operator=(const image_buffer&) = delete;
    ~image_buffer() { free_block(block); }

    std::uint8_t* bytes() const { return static_cast<std::uint8_t*>(block.start); }
    image_span span() { return {bytes(), size}; }
    image_view view() const { return {bytes(), size}; }
};

// Inputs are ELF32 files: anything of 4 GiB or more is refused.
constexpr std::uint64_t MAX_INPUT_SIZE = 0xffffffffu;

// Opens `path` read-only in binary mode, takes its size from fstat and reads it whole.
// False after printing "open %s error", "stat file error" or "read file error", each followed
// by "<role>: cannot ... <path>: <why>", or "%s is too large ..." or "out of memory".
bool load_input(const char* role, const char* path, image_buffer& buffer);

// Writes `image` whole to a new file beside `path` (mode 0666 before the umask, or the
// existing file's) and renames it over `path`; a device or FIFO there is written in place.
// False, with `path` as it was, after "create %s error" or "write %s error" and the line why.
bool write_output(const char* path, image_view image);
