/*
 * target-sim: plays the target system for module images, as a static ARM Linux program.
 *
 *   target-sim MODULE-IMAGE
 *
 * Its own ELF file is the link file: the module's jump slots hold the addresses of
 * target_print, target_add and target_alloc in this very binary, so the module image
 * runs only under the build it was welded against.
 *
 * Loading: check the module magic, copy the whole file flat into executable memory
 * (the module was linked so that addresses equal file offsets), zero what the loadable
 * segments reserve beyond their file bytes (.bss), add the load address to every
 * R_ARM_RELATIVE place, and call the module's function "module_main" (int (void)),
 * found by name in its dynamic symbol table.
 *
 * Exit status: 0 when module_main returned (its result is printed), 1 for a usage or
 * file error, 2 for an image that cannot be loaded.
 */
#define _DEFAULT_SOURCE /* MAP_ANONYMOUS */
#include <elf.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

static const unsigned char MODULE_MAGIC[4] = {0x7f, 'O', 'V', 'K'};
static const char ENTRY_NAME[] = "module_main";
/* Far more than a module for a small target needs; keeps every offset sum in 32 bits. */
enum { MAX_IMAGE = 16u << 20 };

struct image {
    unsigned char *bytes;
    uint32_t size;
};

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

static int inside(uint32_t limit, uint32_t offset, uint32_t length)
{
    return offset <= limit && length <= limit - offset;
}

/* Records are copied out, as image offsets need not be aligned for the record type. */
static int read_at(const struct image *file, uint32_t offset, void *record, uint32_t length)
{
    if (!inside(file->size, offset, length))
        return reject("record at 0x%" PRIx32 " (0x%" PRIx32 " bytes) lies outside the file", offset, length);
    memcpy(record, file->bytes + offset, length);
    return 1;
}

static int read_file(const char *path, struct image *file)
{
    struct stat st;
    uint32_t done = 0;
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
    file->bytes = malloc(file->size ? file->size : 1);
    while (file->bytes != NULL && done < file->size) {
        ssize_t got = read(fd, file->bytes + done, file->size - done);
        if (got <= 0)
            break;
        done += (uint32_t)got;
    }
    close(fd);
    if (file->bytes == NULL || done < file->size) {
        fprintf(stderr, "%s: cannot read it whole\n", path);
        return 0;
    }
    return 1;
}

static int read_header(const struct image *file, Elf32_Ehdr *eh)
{
    if (file->size < 4 || memcmp(file->bytes, MODULE_MAGIC, 4) != 0)
        return reject("not a module image (no 7f 4f 56 4b at its start)");
    if (!read_at(file, 0, eh, sizeof *eh))
        return 0;
    if (eh->e_ident[EI_CLASS] != ELFCLASS32 || eh->e_ident[EI_DATA] != ELFDATA2LSB || eh->e_machine != EM_ARM)
        return reject("not a 32-bit little-endian ARM module");
    if (eh->e_phentsize != sizeof(Elf32_Phdr) || eh->e_shentsize != sizeof(Elf32_Shdr))
        return reject("unexpected header entry sizes %u and %u", eh->e_phentsize, eh->e_shentsize);
    return 1;
}

/*
 * The bytes the module occupies once loaded: the whole file, or more where a segment
 * reserves memory past it. Every loadable segment must sit at its file offset.
 */
static int loaded_size(const struct image *file, const Elf32_Ehdr *eh, uint32_t *size)
{
    *size = file->size;
    for (uint32_t i = 0; i < eh->e_phnum; ++i) {
        Elf32_Phdr ph;
        if (!read_at(file, eh->e_phoff + i * (uint32_t)sizeof ph, &ph, sizeof ph))
            return 0;
        if (ph.p_type != PT_LOAD)
            continue;
        if (ph.p_vaddr != ph.p_offset)
            return reject("a segment's address 0x%" PRIx32 " differs from its file offset 0x%" PRIx32 " "
                          "(link with -z max-page-size=1)", ph.p_vaddr, ph.p_offset);
        if (ph.p_filesz > ph.p_memsz || !inside(file->size, ph.p_offset, ph.p_filesz))
            return reject("the segment at 0x%" PRIx32 " has sizes that do not fit the file", ph.p_offset);
        if (!inside(MAX_IMAGE, ph.p_vaddr, ph.p_memsz))
            return reject("the segment at 0x%" PRIx32 " is larger than %u bytes", ph.p_vaddr, MAX_IMAGE);
        if (ph.p_vaddr + ph.p_memsz > *size)
            *size = ph.p_vaddr + ph.p_memsz;
    }
    return 1;
}

/* A flat copy leaves whatever the file holds at those offsets in .bss. */
static int zero_bss(const struct image *file, const Elf32_Ehdr *eh, unsigned char *base)
{
    for (uint32_t i = 0; i < eh->e_phnum; ++i) {
        Elf32_Phdr ph;
        if (!read_at(file, eh->e_phoff + i * (uint32_t)sizeof ph, &ph, sizeof ph))
            return 0;
        if (ph.p_type == PT_LOAD)
            memset(base + ph.p_vaddr + ph.p_filesz, 0, ph.p_memsz - ph.p_filesz);
    }
    return 1;
}

static int read_section(const struct image *file, const Elf32_Ehdr *eh, uint32_t index, Elf32_Shdr *sh)
{
    if (index >= eh->e_shnum)
        return reject("section %" PRIu32 " does not exist", index);
    return read_at(file, eh->e_shoff + index * (uint32_t)sizeof *sh, sh, sizeof *sh);
}

static uint32_t load_u32(const unsigned char *at)
{
    uint32_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

static void store_u32(unsigned char *at, uint32_t value)
{
    memcpy(at, &value, sizeof value);
}

/*
 * Jump slots of imports were filled by the weld and are left alone. A jump slot of the
 * module's own function (a call to one of its global functions) holds what the linker
 * wrote and gets the function's loaded address. Any other import cannot be resolved here.
 */
static int relocate_one(const struct image *file, const Elf32_Shdr *symtab, const Elf32_Rel *rel,
                        unsigned char *base, uint32_t size)
{
    uint32_t type = ELF32_R_TYPE(rel->r_info);
    unsigned char *place = base + rel->r_offset;
    Elf32_Sym sym;

    if (type == R_ARM_NONE)
        return 1;
    if (!inside(size, rel->r_offset, 4))
        return reject("relocation at 0x%" PRIx32 " lies outside the module", rel->r_offset);
    if (type == R_ARM_RELATIVE) {
        store_u32(place, load_u32(place) + (uint32_t)(uintptr_t)base);
        return 1;
    }
    if (type != R_ARM_JUMP_SLOT)
        return reject("relocation type %" PRIu32 " at 0x%" PRIx32 ": only calls into the target are resolved",
                      type, rel->r_offset);
    if (!read_at(file, symtab->sh_offset + ELF32_R_SYM(rel->r_info) * (uint32_t)sizeof sym, &sym, sizeof sym))
        return 0;
    if (sym.st_shndx != SHN_UNDEF)
        store_u32(place, sym.st_value + (uint32_t)(uintptr_t)base);
    return 1;
}

static int relocate(const struct image *file, const Elf32_Ehdr *eh, unsigned char *base, uint32_t size)
{
    for (uint32_t i = 0; i < eh->e_shnum; ++i) {
        Elf32_Shdr sh, symtab;
        if (!read_section(file, eh, i, &sh))
            return 0;
        if (sh.sh_type != SHT_REL || !(sh.sh_flags & SHF_ALLOC))
            continue;
        if (!read_section(file, eh, sh.sh_link, &symtab))
            return 0;
        for (uint32_t j = 0; j < sh.sh_size / sizeof(Elf32_Rel); ++j) {
            Elf32_Rel rel;
            if (!read_at(file, sh.sh_offset + j * (uint32_t)sizeof rel, &rel, sizeof rel) ||
                !relocate_one(file, &symtab, &rel, base, size))
                return 0;
        }
    }
    return 1;
}

/* The entry's st_value, Thumb bit included, or 0 when the module does not define it. */
static uint32_t find_entry(const struct image *file, const Elf32_Ehdr *eh)
{
    for (uint32_t i = 0; i < eh->e_shnum; ++i) {
        Elf32_Shdr sh, strtab;
        if (!read_section(file, eh, i, &sh))
            return 0;
        if (sh.sh_type != SHT_DYNSYM)
            continue;
        if (!read_section(file, eh, sh.sh_link, &strtab))
            return 0;
        for (uint32_t j = 0; j < sh.sh_size / sizeof(Elf32_Sym); ++j) {
            Elf32_Sym sym;
            if (!read_at(file, sh.sh_offset + j * (uint32_t)sizeof sym, &sym, sizeof sym))
                return 0;
            if (ELF32_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_shndx == SHN_UNDEF ||
                !inside(strtab.sh_size, sym.st_name, sizeof ENTRY_NAME) ||
                !inside(file->size, strtab.sh_offset, strtab.sh_size))
                continue;
            if (memcmp(file->bytes + strtab.sh_offset + sym.st_name, ENTRY_NAME, sizeof ENTRY_NAME) == 0)
                return sym.st_value;
        }
    }
    reject("no function %s", ENTRY_NAME);
    return 0;
}

int main(int argc, char **argv)
{
    struct image file;
    Elf32_Ehdr eh;
    uint32_t size, entry;
    unsigned char *base;
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
    if (!read_header(&file, &eh) || !loaded_size(&file, &eh, &size))
        return 2;
    entry = find_entry(&file, &eh);
    if (entry == 0)
        return 2;
    if (!inside(size, entry & ~1u, 4)) {
        reject("%s at 0x%" PRIx32 " lies outside the module", ENTRY_NAME, entry);
        return 2;
    }

    /* One flat mapping for code and data alike: segments are only 4-byte aligned,
       so code and writable data can share a page. */
    base = mmap(NULL, size, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    memcpy(base, file.bytes, file.size);
    if (!zero_bss(&file, &eh, base) || !relocate(&file, &eh, base, size))
        return 2;
    /* The module's code was written through the data cache. */
    __builtin___clear_cache((char *)base, (char *)base + size);

    module_main = (int (*)(void))((uintptr_t)base + entry);
    printf("module_main returned %d\n", module_main());
    return 0;
}
