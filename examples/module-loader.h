/*
 * The module loader of the example target systems (target-sim on ARM Linux, target-mcu on bare
 * metal): plain C without a library, included by each. The includer defines reject(), which
 * prints one line saying why an image cannot be loaded and returns 0.
 *
 * A module image is the module linked so that addresses equal file offsets, its jump slots
 * filled by the weld and its magic 7f 4f 56 4b. Loading it: check the magic, copy every
 * loadable segment to the same offset in module memory and zero what it reserves beyond its
 * file bytes (.bss), add the load address to every R_ARM_RELATIVE place, point the jump slots
 * of the module's own functions at their loaded address, and find the module's function
 * "module_main" (int (void)) by name in its dynamic symbol table. Every read of the image is
 * bounded by its size: the image may be anything.
 */
#ifndef MODULE_LOADER_H
#define MODULE_LOADER_H

#include <stdint.h>

typedef uint32_t Elf32_Word;
typedef uint16_t Elf32_Half;

typedef struct {
    unsigned char e_ident[16];
    Elf32_Half e_type, e_machine;
    Elf32_Word e_version, e_entry, e_phoff, e_shoff, e_flags;
    Elf32_Half e_ehsize, e_phentsize, e_phnum, e_shentsize, e_shnum, e_shstrndx;
} Elf32_Ehdr;

typedef struct {
    Elf32_Word p_type, p_offset, p_vaddr, p_paddr, p_filesz, p_memsz, p_flags, p_align;
} Elf32_Phdr;

typedef struct {
    Elf32_Word sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_link, sh_info, sh_addralign,
        sh_entsize;
} Elf32_Shdr;

typedef struct {
    Elf32_Word st_name, st_value, st_size;
    unsigned char st_info, st_other;
    Elf32_Half st_shndx;
} Elf32_Sym;

typedef struct {
    Elf32_Word r_offset, r_info;
} Elf32_Rel;

enum {
    EI_CLASS = 4, EI_DATA = 5, ELFCLASS32 = 1, ELFDATA2LSB = 1, EM_ARM = 40,
    PT_LOAD = 1,
    SHT_REL = 9, SHT_DYNSYM = 11, SHF_ALLOC = 2,
    SHN_UNDEF = 0, STT_FUNC = 2,
    R_ARM_NONE = 0, R_ARM_JUMP_SLOT = 22, R_ARM_RELATIVE = 23,
};

static const unsigned char MODULE_MAGIC[4] = {0x7f, 'O', 'V', 'K'};
static const char ENTRY_NAME[] = "module_main";

struct image {
    const unsigned char *bytes;
    uint32_t size;
};

__attribute__((format(printf, 1, 2))) static int reject(const char *why, ...);

static void copy_bytes(void *to, const void *from, uint32_t length)
{
    unsigned char *out = to;
    const unsigned char *in = from;

    while (length-- > 0)
        *out++ = *in++;
}

static void zero_bytes(void *to, uint32_t length)
{
    unsigned char *out = to;

    while (length-- > 0)
        *out++ = 0;
}

static int inside(uint32_t limit, uint32_t offset, uint32_t length)
{
    return offset <= limit && length <= limit - offset;
}

/* Records are copied out, as image offsets need not be aligned for the record type. */
static int read_at(const struct image *file, uint32_t offset, void *record, uint32_t length)
{
    if (!inside(file->size, offset, length))
        return reject("record at 0x%x (0x%x bytes) lies outside the image", (unsigned)offset, (unsigned)length);
    copy_bytes(record, file->bytes + offset, length);
    return 1;
}

static int read_header(const struct image *file, Elf32_Ehdr *eh)
{
    for (unsigned i = 0; i < sizeof MODULE_MAGIC; ++i)
        if (i >= file->size || file->bytes[i] != MODULE_MAGIC[i])
            return reject("not a module image (no 7f 4f 56 4b at its start)");
    if (!read_at(file, 0, eh, sizeof *eh))
        return 0;
    if (eh->e_ident[EI_CLASS] != ELFCLASS32 || eh->e_ident[EI_DATA] != ELFDATA2LSB || eh->e_machine != EM_ARM)
        return reject("not a 32-bit little-endian ARM module");
    if (eh->e_phentsize != sizeof(Elf32_Phdr) || eh->e_shentsize != sizeof(Elf32_Shdr))
        return reject("unexpected header entry sizes %u and %u", eh->e_phentsize, eh->e_shentsize);
    return 1;
}

static int read_segment(const struct image *file, const Elf32_Ehdr *eh, unsigned index, Elf32_Phdr *ph)
{
    return read_at(file, eh->e_phoff + index * (uint32_t)sizeof *ph, ph, sizeof *ph);
}

/*
 * The bytes the module reaches in memory, up to `limit`. Every loadable segment must sit at
 * its file offset.
 */
static int module_size(const struct image *file, const Elf32_Ehdr *eh, uint32_t limit, uint32_t *size)
{
    *size = 0;
    for (unsigned i = 0; i < eh->e_phnum; ++i) {
        Elf32_Phdr ph;
        if (!read_segment(file, eh, i, &ph))
            return 0;
        if (ph.p_type != PT_LOAD)
            continue;
        if (ph.p_vaddr != ph.p_offset)
            return reject("a segment's address 0x%x differs from its file offset 0x%x "
                          "(link with -z max-page-size=1)", (unsigned)ph.p_vaddr, (unsigned)ph.p_offset);
        if (ph.p_filesz > ph.p_memsz || !inside(file->size, ph.p_offset, ph.p_filesz))
            return reject("the segment at 0x%x has sizes that do not fit the image", (unsigned)ph.p_offset);
        if (!inside(limit, ph.p_vaddr, ph.p_memsz))
            return reject("the segment at 0x%x does not fit the %u bytes of module memory", (unsigned)ph.p_vaddr,
                          (unsigned)limit);
        if (ph.p_vaddr + ph.p_memsz > *size)
            *size = ph.p_vaddr + ph.p_memsz;
    }
    return 1;
}

/* Once module_size has accepted the segments: file bytes first, then zeroes for .bss. */
static void load_segments(const struct image *file, const Elf32_Ehdr *eh, unsigned char *memory)
{
    for (unsigned i = 0; i < eh->e_phnum; ++i) {
        Elf32_Phdr ph;
        if (read_segment(file, eh, i, &ph) && ph.p_type == PT_LOAD) {
            copy_bytes(memory + ph.p_vaddr, file->bytes + ph.p_offset, ph.p_filesz);
            zero_bytes(memory + ph.p_vaddr + ph.p_filesz, ph.p_memsz - ph.p_filesz);
        }
    }
}

static int read_section(const struct image *file, const Elf32_Ehdr *eh, uint32_t index, Elf32_Shdr *sh)
{
    if (index >= eh->e_shnum)
        return reject("section %u does not exist", (unsigned)index);
    return read_at(file, eh->e_shoff + index * (uint32_t)sizeof *sh, sh, sizeof *sh);
}

/* The module: its memory and the bytes it reaches there. */
struct module {
    unsigned char *memory;
    uint32_t size;
};

/*
 * Jump slots of imports were filled by the weld and are left alone. A jump slot of the
 * module's own function (a call to one of its global functions) holds what the linker
 * wrote and gets the function's loaded address. Any other import cannot be resolved here.
 */
static int relocate_one(const struct image *file, const Elf32_Shdr *symtab, const Elf32_Rel *rel,
                        const struct module *module)
{
    uint32_t type = rel->r_info & 0xff, value;
    uint32_t base = (uint32_t)(uintptr_t)module->memory;
    unsigned char *place = module->memory + rel->r_offset;
    Elf32_Sym sym;

    if (type == R_ARM_NONE)
        return 1;
    if (!inside(module->size, rel->r_offset, sizeof value))
        return reject("relocation at 0x%x lies outside the module", (unsigned)rel->r_offset);
    if (type == R_ARM_RELATIVE) {
        copy_bytes(&value, place, sizeof value);
        value += base;
        copy_bytes(place, &value, sizeof value);
        return 1;
    }
    if (type != R_ARM_JUMP_SLOT)
        return reject("relocation type %u at 0x%x: only calls into the target are resolved", (unsigned)type,
                      (unsigned)rel->r_offset);
    if (!read_at(file, symtab->sh_offset + (rel->r_info >> 8) * (uint32_t)sizeof sym, &sym, sizeof sym))
        return 0;
    if (sym.st_shndx != SHN_UNDEF) {
        value = sym.st_value + base;
        copy_bytes(place, &value, sizeof value);
    }
    return 1;
}

static int relocate(const struct image *file, const Elf32_Ehdr *eh, const struct module *module)
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
                !relocate_one(file, &symtab, &rel, module))
                return 0;
        }
    }
    return 1;
}

static int names_entry(const struct image *file, const Elf32_Shdr *strtab, uint32_t name)
{
    if (!inside(strtab->sh_size, name, sizeof ENTRY_NAME) || !inside(file->size, strtab->sh_offset, strtab->sh_size))
        return 0;
    for (unsigned i = 0; i < sizeof ENTRY_NAME; ++i)
        if (file->bytes[strtab->sh_offset + name + i] != (unsigned char)ENTRY_NAME[i])
            return 0;
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
            if ((sym.st_info & 0xf) == STT_FUNC && sym.st_shndx != SHN_UNDEF && names_entry(file, &strtab, sym.st_name))
                return sym.st_value;
        }
    }
    reject("no function %s", ENTRY_NAME);
    return 0;
}

/*
 * Checks the image and, when its module fits in `limit` bytes, asks `place` for that much
 * memory (null: none to be had), loads and relocates the module there. Returns its entry
 * point, Thumb bit included, or 0 after a line saying why.
 */
static uintptr_t load_module(const struct image *file, uint32_t limit, unsigned char *(*place)(uint32_t size))
{
    Elf32_Ehdr eh;
    struct module module;
    uint32_t entry;

    if (!read_header(file, &eh) || !module_size(file, &eh, limit, &module.size))
        return 0;
    entry = find_entry(file, &eh);
    if (entry == 0)
        return 0;
    if (!inside(module.size, entry & ~1u, 4))
        return (uintptr_t)reject("%s at 0x%x lies outside the module", ENTRY_NAME, (unsigned)entry);
    module.memory = place(module.size);
    if (module.memory == 0)
        return (uintptr_t)reject("no memory for the module's %u bytes", (unsigned)module.size);
    load_segments(file, &eh, module.memory);
    if (!relocate(file, &eh, &module))
        return 0;
    return (uintptr_t)module.memory + entry;
}

#endif
