/*
 * target-sim: plays the target system for module images, as a static ARM Linux program.
 *
 *   target-sim MODULE-IMAGE
 *
 * Its own ELF file is the link file: the module's jump slots hold the addresses of
 * target_print, target_add and target_alloc in this very binary, so the module image
 * runs only under the build it was welded against.
 *
 * Loading (../module-loader.h, shared with target-mcu): check the module magic, copy every
 * loadable segment to its offset in memory mapped readable, writable and executable (the
 * module was linked so that addresses equal file offsets), zero what it reserves beyond its
 * file bytes (.bss), add the load address to every R_ARM_RELATIVE place, and call the
 * module's function "module_main" (int (void)), found by name in its dynamic symbol table.
 *
 * Exit status: 0 when module_main returned (its result is printed), 1 for a usage or
 * file error, 2 for an image that cannot be loaded.
 */
#define _DEFAULT_SOURCE /* MAP_ANONYMOUS */
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../module-loader.h"

/*
 * The calls a module can make. The weld reads their addresses from this program's
 * symbol table, so they must stay real, out-of-line, externally visible functions.
 */
__attribute__((used, noinline)) int target_print(const char *text)
{
    return printf("%s\n", text);
}

__attribute__((used, noinline)) int target_add(int a, int b)
{
    return a + b;
}

__attribute__((used, noinline)) void *target_alloc(unsigned size)
{
    return calloc(1, size);
}

/* Far more than a module for a small target needs; keeps every offset sum in 32 bits. */
enum { MAX_IMAGE = 16u << 20 };

static const char *image_path;

__attribute__((format(printf, 1, 2))) static int reject(const char *why, ...)
{
    va_list args;

    va_start(args, why);
    printf("%s: cannot load: ", image_path);
    vprintf(why, args);
    printf("\n");
    va_end(args);
    return 0;
}

static int read_file(const char *path, struct image *file)
{
    struct stat st;
    uint32_t done = 0;
    unsigned char *bytes;
    int fd = open(path, O_RDONLY);

    if (fd < 0 || fstat(fd, &st) != 0) {
        perror(path);
        return 0;
    }
    if (st.st_size > MAX_IMAGE) {
        fprintf(stderr, "%s: larger than %u bytes\n", path, MAX_IMAGE);
        close(fd);
        return 0;
    }
    file->size = (uint32_t)st.st_size;
    bytes = malloc(file->size ? file->size : 1);
    while (bytes != NULL && done < file->size) {
        ssize_t got = read(fd, bytes + done, file->size - done);
        if (got <= 0)
            break;
        done += (uint32_t)got;
    }
    close(fd);
    file->bytes = bytes;
    if (bytes == NULL || done < file->size) {
        fprintf(stderr, "%s: cannot read it whole\n", path);
        return 0;
    }
    return 1;
}

/* One flat mapping for code and data alike: segments are only 4-byte aligned, so code and
   writable data can share a page. */
static unsigned char *module_memory;
static uint32_t module_memory_size;

static unsigned char *map_module(uint32_t size)
{
    void *base = mmap(NULL, size, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);

    if (base == MAP_FAILED)
        return 0;
    module_memory = base;
    module_memory_size = size;
    return base;
}

int main(int argc, char **argv)
{
    struct image file;
    uintptr_t entry;
    int (*module_main)(void);

    if (argc != 2) {
        fprintf(stderr, "usage: %s MODULE-IMAGE\n", argv[0]);
        return 1;
    }
    /* Lines a module printed before it faulted must not die in the buffer. */
    setvbuf(stdout, NULL, _IOLBF, 0);
    image_path = argv[1];
    if (!read_file(image_path, &file))
        return 1;
    entry = load_module(&file, MAX_IMAGE, map_module);
    if (entry == 0)
        return 2;
    /* The module's code was written through the data cache. */
    __builtin___clear_cache((char *)module_memory, (char *)module_memory + module_memory_size);

    module_main = (int (*)(void))entry;
    printf("module_main returned %d\n", module_main());
    return 0;
}
