/*
 * target-mcu: plays the target system for module images on an emulated Cortex-M board
 * (qemu-system-arm -M microbit, mps2-an385, mps2-an386, mps2-an500, mps2-an505 or
 * mps3-an547), bare metal.
 *
 * Its own ELF file is the link file: the module's jump slots hold the addresses of
 * target_print, target_add, target_alloc and target_half in this very build, so the module
 * image runs only under the build it was welded against. The emulator puts the module image
 * into the image store before the core starts (-device loader,...,force-raw=on);
 * target-mcu.ld places the store, the code, the data and the module memory.
 *
 * Loading is target-sim's (../module-loader.h). On a core with a floating-point unit the unit
 * is switched on at reset, whatever float ABI this build uses, so that a module built for
 * the hardware's floating point can run under it.
 *
 * All output goes to the emulator through semihosting, and so does the exit status: 0 when
 * module_main returned (its result is printed), 2 for an image that cannot be loaded,
 * 3 after a fault.
 */
#include <stdarg.h>
#include <stdint.h>

#include "../module-loader.h"

/* The calls a module can make: real, out-of-line, externally visible functions, as the
   weld reads their addresses from this program's symbol table. */
int target_print(const char *text);
int target_add(int a, int b);
void *target_alloc(unsigned size);
float target_half(float x);

/* Set by target-mcu.ld. */
extern const unsigned char image_store[], image_store_end[];
extern unsigned char data_start[], data_end[], bss_start[], bss_end[], stack_top[];
extern unsigned char module_memory[], module_memory_end[];
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

/* Passes its argument and result as this build's -mfloat-abi says: in s0 for hard, in r0
   otherwise. */
__attribute__((used, noinline)) float target_half(float x)
{
    return x * 0.5f;
}

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

static unsigned char *place_module(uint32_t size)
{
    (void)size; /* module_size has checked it against the module memory */
    return module_memory;
}

static int load_and_run(void)
{
    /* The store holds the image and whatever follows it, so every read is bounded by the store. */
    const struct image file = {image_store, (uint32_t)(image_store_end - image_store)};
    /* Where the module runs: as much as its segments reserve, up to the block's size. */
    const uintptr_t entry = load_module(&file, (uint32_t)(module_memory_end - module_memory), place_module);
    int (*module_main)(void);

    if (entry == 0)
        return EXIT_REFUSED;
    /* The module's code was written as data: complete the writes before fetching it. */
    __asm__ volatile("dsb\n\tisb" ::: "memory");

    module_main = (int (*)(void))entry;
    say("module_main returned %d", module_main());
    return EXIT_LOADED;
}

/* The cores with only Thumb-1 and a few 32-bit instructions (ARMv6-M, ARMv8-M baseline) lack
   the main extension: no configurable faults, no fault status registers and never a
   floating-point unit (ARMv6-M reserves CPACR's address). */
#define MAIN_EXTENSION (__ARM_ARCH_ISA_THUMB >= 2)

/* System control block: fault status, which configurable faults are taken as themselves, and
   the coprocessors' access (CP10 and CP11: the floating-point unit, and M55's vector unit). */
#define SHCSR (*(volatile uint32_t *)0xe000ed24u)
#define CFSR (*(volatile uint32_t *)0xe000ed28u)
#define HFSR (*(volatile uint32_t *)0xe000ed2cu)
#define CPACR (*(volatile uint32_t *)0xe000ed88u)
enum { MEMFAULTENA = 1u << 16, BUSFAULTENA = 1u << 17, USGFAULTENA = 1u << 18 };
enum { CP10_CP11_FULL_ACCESS = 0xfu << 20 };

/* FRAME: what the core stacked on taking the fault, r0-r3, r12, lr, pc, xpsr. */
__attribute__((used, noreturn)) void fault_report(const uint32_t *frame)
{
#if MAIN_EXTENSION
    say("fault: CFSR 0x%08x HFSR 0x%08x PC 0x%08x", (unsigned)CFSR, (unsigned)HFSR, (unsigned)frame[6]);
#else
    say("fault: PC 0x%08x", (unsigned)frame[6]);
#endif
    leave(EXIT_FAULT);
}

/* Thread mode only ever runs on the main stack, so the fault's frame is where SP points.
   bl for its reach: a baseline core's b spans 2 KiB. */
__attribute__((naked)) static void fault_handler(void)
{
    __asm__("mov r0, sp\n\t"
            "bl fault_report");
}

__attribute__((noreturn)) void reset_handler(void)
{
#if MAIN_EXTENSION
    /* Without a floating-point unit the fields read as zero and ignore the write. First, as
       a hard-float build may use the unit anywhere after this. */
    CPACR |= CP10_CP11_FULL_ACCESS;
    __asm__ volatile("dsb\n\tisb" ::: "memory");
    SHCSR |= MEMFAULTENA | BUSFAULTENA | USGFAULTENA;
#endif
    copy_bytes(data_start, data_load, (unsigned)(data_end - data_start));
    zero_bytes(bss_start, (unsigned)(bss_end - bss_start));
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
