/*
 * target-mcu: plays the target system for module images on an emulated Cortex-M board
 * (qemu-system-arm -M mps2-an385, mps2-an386 or mps2-an505), bare metal.
 *
 * Its own ELF file is the link file: the module's jump slots hold the addresses of
 * target_print, target_add and target_alloc in this very build, so the module image runs
 * only under the build it was welded against. The emulator puts the module image into
 * the image store before the core starts (-device loader,...,force-raw=on); target-mcu.ld
 * places the store, the code and the data.
 *
 * Loading: check the module magic, copy every loadable segment to the same offset in
 * module memory (the module was linked so that addresses equal file offsets) and zero
 * what it reserves beyond its file bytes (.bss), add the load address to every
 * R_ARM_RELATIVE place, and call the module's function "module_main" (int (void)), found
 * by name in its dynamic symbol table.
 *
 * All output goes to the emulator through semihosting, and so does the exit status: 0 when
 * module_main returned (its result is printed), 2 for an image that cannot be loaded,
 * 3 after a fault.
 */
#include <stdarg.h>
#include <stdint.h>

/* The calls a module can make: real, out-of-line, externally visible functions, as the
   weld reads their addresses from this program's symbol table. */
int target_print(const char *text);
int target_add(int a, int b);
void *target_alloc(unsigned size);

/* The ELF records the loader reads. */
typedef unsigned int Elf32_Word;
typedef unsigned short Elf32_Half;
_Static_assert(sizeof(Elf32_Word) == 4 && sizeof(Elf32_Half) == 2, "ELF field sizes");

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
    ELFCLASS32 = 1, ELFDATA2LSB = 1, EM_ARM = 40,
    PT_LOAD = 1,
    SHT_DYNSYM = 11, SHT_REL = 9, SHF_ALLOC = 2,
    SHN_UNDEF = 0, STT_FUNC = 2,
    R_ARM_NONE = 0, R_ARM_JUMP_SLOT = 22, R_ARM_RELATIVE = 23,
};

/* Set by target-mcu.ld. */
extern const unsigned char image_store[], image_store_end[];
extern unsigned char data_start[], data_end[], bss_start[], bss_end[], stack_top[];
extern const unsigned char data_load[];

enum { SYS_WRITE0 = 0x04, SYS_EXIT_EXTENDED = 0x20, ADP_STOPPED_APPLICATION_EXIT = 0x20026 };
enum { EXIT_LOADED = 0, EXIT_REFUSED = 2, EXIT_FAULT = 3 };

static uint32_t semihost(uint32_t operation, const void *argument)
{
    register uint32_t r0 __asm__("r0") = operation;
    register const void *r1 __asm__("r1") = argument;

    __asm__ volatile("bkpt 0xab" : "+r"(r0) : "r"(r1) : "memory");
    return r0;
}

/* SYS_EXIT_EXTENDED: plain SYS_EXIT reports only success or failure on a 32-bit core. */
__attribute__((noreturn)) static void leave(int status)
{
    const uint32_t block[2] = {ADP_STOPPED_APPLICATION_EXIT, (uint32_t)status};

    for (;;)
        semihost(SYS_EXIT_EXTENDED, block);
}

struct line {
    char text[200];
    unsigned length;
};

static void put_char(struct line *line, char c)
{
    if (line->length < sizeof line->text - 2) /* room for the newline and the terminator */
        line->text[line->length++] = c;
}

static void put_unsigned(struct line *line, unsigned value, unsigned base, unsigned width)
{
    char digits[32];
    unsigned count = 0;

    do {
        digits[count++] = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    for (; width > count; --width)
        put_char(line, '0');
    while (count > 0)
        put_char(line, digits[--count]);
}

static void put_text(struct line *line, const char *text)
{
    while (*text != '\0')
        put_char(line, *text++);
}

/* Knows %s, %d, %u and %x, the last two with a zero-padded width (%08x). */
static void put_format(struct line *line, const char *format, va_list args)
{
    for (const char *at = format; *at != '\0'; ++at) {
        unsigned width = 0;
        if (*at != '%') {
            put_char(line, *at);
            continue;
        }
        while (*++at >= '0' && *at <= '9')
            width = width * 10 + (unsigned)(*at - '0');
        if (*at == 's') {
            put_text(line, va_arg(args, const char *));
        } else if (*at == 'd') {
            int value = va_arg(args, int);
            if (value < 0)
                put_char(line, '-');
            put_unsigned(line, value < 0 ? 0u - (unsigned)value : (unsigned)value, 10, width);
        } else {
            put_unsigned(line, va_arg(args, unsigned), *at == 'x' ? 16 : 10, width);
        }
    }
}

static void send(struct line *line)
{
    line->text[line->length++] = '\n';
    line->text[line->length] = '\0';
    semihost(SYS_WRITE0, line->text);
}

__attribute__((format(printf, 1, 2))) static void say(const char *format, ...)
{
    struct line line;
    va_list args;

    line.length = 0;
    va_start(args, format);
    put_format(&line, format, args);
    va_end(args);
    send(&line);
}

__attribute__((used, noinline)) int target_print(const char *text)
{
    int length = 0;

    while (text[length] != '\0')
        ++length;
    semihost(SYS_WRITE0, text);
    semihost(SYS_WRITE0, "\n");
    return length + 1;
}

__attribute__((used, noinline)) int target_add(int a, int b)
{
    return a + b;
}

/* Blocks are never freed, so the arena's bytes are still as .bss left them: zero. */
static unsigned char arena[4096] __attribute__((aligned(8)));
static unsigned arena_used;

__attribute__((used, noinline)) void *target_alloc(unsigned size)
{
    unsigned rounded = (size + 7u) & ~7u;
    void *block = arena + arena_used;

    if (rounded < size || rounded > sizeof arena - arena_used)
        return 0;
    arena_used += rounded;
    return block;
}

static void copy_bytes(void *to, const void *from, unsigned length)
{
    unsigned char *out = to;
    const unsigned char *in = from;

    while (length-- > 0)
        *out++ = *in++;
}

static void zero_bytes(void *to, unsigned length)
{
    unsigned char *out = to;

    while (length-- > 0)
        *out++ = 0;
}

static const unsigned char MODULE_MAGIC[4] = {0x7f, 'O', 'V', 'K'};
static const char ENTRY_NAME[] = "module_main";

/* Where the module runs: as much as its segments reserve, up to this size. */
static unsigned char module_memory[64u << 10] __attribute__((aligned(8)));

/* The store holds the image and whatever follows it, so every read is bounded by the store. */
struct image {
    const unsigned char *bytes;
    unsigned size;
};

__attribute__((format(printf, 1, 2))) static int reject(const char *why, ...)
{
    struct line line;
    va_list args;

    line.length = 0;
    put_text(&line, "image at 0x");
    put_unsigned(&line, (unsigned)(uintptr_t)image_store, 16, 8);
    put_text(&line, ": cannot load: ");
    va_start(args, why);
    put_format(&line, why, args);
    va_end(args);
    send(&line);
    return 0;
}

static int inside(unsigned limit, unsigned offset, unsigned length)
{
    return offset <= limit && length <= limit - offset;
}

/* Records are copied out, as image offsets need not be aligned for the record type. */
static int read_at(const struct image *file, unsigned offset, void *record, unsigned length)
{
    if (!inside(file->size, offset, length))
        return reject("record at 0x%x (0x%x bytes) lies outside the image store", offset, length);
    copy_bytes(record, file->bytes + offset, length);
    return 1;
}

static int read_header(const struct image *file, Elf32_Ehdr *eh)
{
    for (unsigned i = 0; i < sizeof MODULE_MAGIC; ++i)
        if (file->bytes[i] != MODULE_MAGIC[i])
            return reject("not a module image (no 7f 4f 56 4b at its start)");
    if (!read_at(file, 0, eh, sizeof *eh))
        return 0;
    if (eh->e_ident[4] != ELFCLASS32 || eh->e_ident[5] != ELFDATA2LSB || eh->e_machine != EM_ARM)
        return reject("not a 32-bit little-endian ARM module");
    if (eh->e_phentsize != sizeof(Elf32_Phdr) || eh->e_shentsize != sizeof(Elf32_Shdr))
        return reject("unexpected header entry sizes %u and %u", eh->e_phentsize, eh->e_shentsize);
    return 1;
}

/*
 * Puts every loadable segment at its offset in module memory, file bytes first, then the
 * zeroes it reserves beyond them (.bss), and tells how far the module reaches there.
 * Every loadable segment must sit at its file offset.
 */
static int load_segments(const struct image *file, const Elf32_Ehdr *eh, unsigned *size)
{
    *size = 0;
    for (unsigned i = 0; i < eh->e_phnum; ++i) {
        Elf32_Phdr ph;
        if (!read_at(file, eh->e_phoff + i * (unsigned)sizeof ph, &ph, sizeof ph))
            return 0;
        if (ph.p_type != PT_LOAD)
            continue;
        if (ph.p_vaddr != ph.p_offset)
            return reject("a segment's address 0x%x differs from its file offset 0x%x "
                          "(link with -z max-page-size=1)", ph.p_vaddr, ph.p_offset);
        if (ph.p_filesz > ph.p_memsz || !inside(file->size, ph.p_offset, ph.p_filesz))
            return reject("the segment at 0x%x has sizes that do not fit the image store", ph.p_offset);
        if (!inside(sizeof module_memory, ph.p_vaddr, ph.p_memsz))
            return reject("the segment at 0x%x does not fit the %u bytes of module memory", ph.p_vaddr,
                          (unsigned)sizeof module_memory);
        copy_bytes(module_memory + ph.p_vaddr, file->bytes + ph.p_offset, ph.p_filesz);
        zero_bytes(module_memory + ph.p_vaddr + ph.p_filesz, ph.p_memsz - ph.p_filesz);
        if (ph.p_vaddr + ph.p_memsz > *size)
            *size = ph.p_vaddr + ph.p_memsz;
    }
    return 1;
}

static int read_section(const struct image *file, const Elf32_Ehdr *eh, unsigned index, Elf32_Shdr *sh)
{
    if (index >= eh->e_shnum)
        return reject("section %u does not exist", index);
    return read_at(file, eh->e_shoff + index * (unsigned)sizeof *sh, sh, sizeof *sh);
}

static unsigned load_u32(const unsigned char *at)
{
    unsigned value;
    copy_bytes(&value, at, sizeof value);
    return value;
}

static void store_u32(unsigned char *at, unsigned value)
{
    copy_bytes(at, &value, sizeof value);
}

/*
 * Jump slots of imports were filled by the weld and are left alone. A jump slot of the
 * module's own function (a call to one of its global functions) holds what the linker
 * wrote and gets the function's loaded address. Any other import cannot be resolved here.
 */
static int relocate_one(const struct image *file, const Elf32_Shdr *symtab, const Elf32_Rel *rel, unsigned size)
{
    unsigned type = rel->r_info & 0xff;
    unsigned base = (unsigned)(uintptr_t)module_memory;
    unsigned char *place;
    Elf32_Sym sym;

    if (type == R_ARM_NONE)
        return 1;
    if (!inside(size, rel->r_offset, 4))
        return reject("relocation at 0x%x lies outside the module", rel->r_offset);
    place = module_memory + rel->r_offset;
    if (type == R_ARM_RELATIVE) {
        store_u32(place, load_u32(place) + base);
        return 1;
    }
    if (type != R_ARM_JUMP_SLOT)
        return reject("relocation type %u at 0x%x: only calls into the target are resolved", type, rel->r_offset);
    if (!read_at(file, symtab->sh_offset + (rel->r_info >> 8) * (unsigned)sizeof sym, &sym, sizeof sym))
        return 0;
    if (sym.st_shndx != SHN_UNDEF)
        store_u32(place, sym.st_value + base);
    return 1;
}

static int relocate(const struct image *file, const Elf32_Ehdr *eh, unsigned size)
{
    for (unsigned i = 0; i < eh->e_shnum; ++i) {
        Elf32_Shdr sh, symtab;
        if (!read_section(file, eh, i, &sh))
            return 0;
        if (sh.sh_type != SHT_REL || !(sh.sh_flags & SHF_ALLOC))
            continue;
        if (!read_section(file, eh, sh.sh_link, &symtab))
            return 0;
        for (unsigned j = 0; j < sh.sh_size / sizeof(Elf32_Rel); ++j) {
            Elf32_Rel rel;
            if (!read_at(file, sh.sh_offset + j * (unsigned)sizeof rel, &rel, sizeof rel) ||
                !relocate_one(file, &symtab, &rel, size))
                return 0;
        }
    }
    return 1;
}

static int names_entry(const struct image *file, const Elf32_Shdr *strtab, unsigned name)
{
    if (!inside(strtab->sh_size, name, sizeof ENTRY_NAME) || !inside(file->size, strtab->sh_offset, strtab->sh_size))
        return 0;
    for (unsigned i = 0; i < sizeof ENTRY_NAME; ++i)
        if (file->bytes[strtab->sh_offset + name + i] != (unsigned char)ENTRY_NAME[i])
            return 0;
    return 1;
}

/* The entry's st_value, Thumb bit included, or 0 when the module does not define it. */
static unsigned find_entry(const struct image *file, const Elf32_Ehdr *eh)
{
    for (unsigned i = 0; i < eh->e_shnum; ++i) {
        Elf32_Shdr sh, strtab;
        if (!read_section(file, eh, i, &sh))
            return 0;
        if (sh.sh_type != SHT_DYNSYM)
            continue;
        if (!read_section(file, eh, sh.sh_link, &strtab))
            return 0;
        for (unsigned j = 0; j < sh.sh_size / sizeof(Elf32_Sym); ++j) {
            Elf32_Sym sym;
            if (!read_at(file, sh.sh_offset + j * (unsigned)sizeof sym, &sym, sizeof sym))
                return 0;
            if ((sym.st_info & 0xf) == STT_FUNC && sym.st_shndx != SHN_UNDEF && names_entry(file, &strtab, sym.st_name))
                return sym.st_value;
        }
    }
    reject("no function %s", ENTRY_NAME);
    return 0;
}

static int load_and_run(void)
{
    const struct image file = {image_store, (unsigned)(image_store_end - image_store)};
    Elf32_Ehdr eh;
    unsigned size, entry;
    int (*module_main)(void);

    if (!read_header(&file, &eh) || !load_segments(&file, &eh, &size))
        return EXIT_REFUSED;
    entry = find_entry(&file, &eh);
    if (entry == 0)
        return EXIT_REFUSED;
    if (!inside(size, entry & ~1u, 4)) {
        reject("%s at 0x%x lies outside the module", ENTRY_NAME, entry);
        return EXIT_REFUSED;
    }
    if (!relocate(&file, &eh, size))
        return EXIT_REFUSED;
    /* The module's code was written as data: complete the writes before fetching it. */
    __asm__ volatile("dsb\n\tisb" ::: "memory");

    module_main = (int (*)(void))((uintptr_t)module_memory + entry);
    say("module_main returned %d", module_main());
    return EXIT_LOADED;
}

/* System control block: fault status and which configurable faults are taken as themselves. */
#define SHCSR (*(volatile uint32_t *)0xe000ed24u)
#define CFSR (*(volatile uint32_t *)0xe000ed28u)
#define HFSR (*(volatile uint32_t *)0xe000ed2cu)
enum { MEMFAULTENA = 1u << 16, BUSFAULTENA = 1u << 17, USGFAULTENA = 1u << 18 };

/* FRAME: what the core stacked on taking the fault, r0-r3, r12, lr, pc, xpsr. */
__attribute__((used, noreturn)) void fault_report(const uint32_t *frame)
{
    say("fault: CFSR 0x%08x HFSR 0x%08x PC 0x%08x", (unsigned)CFSR, (unsigned)HFSR, (unsigned)frame[6]);
    leave(EXIT_FAULT);
}

/* Thread mode only ever runs on the main stack, so the fault's frame is where SP points. */
__attribute__((naked)) static void fault_handler(void)
{
    __asm__("mov r0, sp\n\t"
            "b fault_report");
}

__attribute__((noreturn)) void reset_handler(void)
{
    copy_bytes(data_start, data_load, (unsigned)(data_end - data_start));
    zero_bytes(bss_start, (unsigned)(bss_end - bss_start));
    SHCSR |= MEMFAULTENA | BUSFAULTENA | USGFAULTENA;
    leave(load_and_run());
}

/* The core reads its stack pointer and then its reset handler from here; every other
   exception this system can take is a fault. */
__attribute__((section(".vectors"), used)) static const struct {
    const void *stack_top;
    void (*handler[15])(void);
} vectors = {
    stack_top,
    {reset_handler, fault_handler, fault_handler, fault_handler, fault_handler, fault_handler, fault_handler,
     fault_handler, fault_handler, fault_handler, fault_handler, fault_handler, fault_handler, fault_handler,
     fault_handler},
};
