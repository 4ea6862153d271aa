#include "input_generator.h"

#include "elf/relocate.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

// ---- writing ---------------------------------------------------------------------------------

// EABI version 5, soft-float: what the ARM toolchains write into both kinds of file.
constexpr std::uint32_t ARM_FLAGS = EF_ARM_EABI_VER5 | EF_ARM_ABI_FLOAT_SOFT;
// The alignment of every section but the string tables, and of every segment.
constexpr std::uint32_t ALIGNMENT = 4;
// An address: a GOT entry, a pointer in .data, an ARM instruction.
constexpr std::uint32_t WORD = sizeof(ul32);

// A symbol whose name is added when it is written.
Elf32_Sym unnamed(std::uint32_t value, std::uint32_t size, std::uint8_t bind, std::uint8_t type, std::uint16_t shndx)
{
    return elf32_symbol(0, value, size, elf32_st_info(bind, type), shndx);
}

Elf32_Phdr segment(std::uint32_t type, std::uint32_t offset, std::uint32_t vaddr, std::uint32_t filesz,
                   std::uint32_t memsz, std::uint32_t flags)
{
    return {.p_type = type,
            .p_offset = offset,
            .p_vaddr = vaddr,
            .p_paddr = vaddr,
            .p_filesz = filesz,
            .p_memsz = memsz,
            .p_flags = flags,
            .p_align = ALIGNMENT};
}

// Adds a section that records written before it already refer to, by index and offset.
std::uint32_t place(elf_writer& w, std::uint32_t index, std::uint32_t offset, const section_layout& s,
                    const bytes& contents)
{
    if (w.section_count() != index || w.next_offset() != offset)
        throw std::logic_error(s.name + " is not where the layout put it");
    return w.add_section(s, contents);
}

bytes random_bytes(std::uint32_t size, bench_random& rng)
{
    bytes out(size);
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t r = rng.next();
        for (std::size_t k = i; k < size && k < i + 8; ++k, r >>= 8)
            out[k] = static_cast<std::uint8_t>(r);
    }
    return out;
}

// ---- names --------------------------------------------------------------------------------

constexpr std::array<std::string_view, 96> SUBSYSTEMS = {
    "usb",     "net",    "sched",   "mm",       "vfs",    "ext4",    "tcp",      "udp",    "ip",     "ipv6",
    "dev",     "pci",    "irq",     "clk",      "gpio",   "spi",     "i2c",      "dma",    "mmc",    "snd",
    "drm",     "nfs",    "blk",     "kobject",  "sysfs",  "cgroup",  "rcu",      "timer",  "hrtimer", "kmem",
    "page",    "bio",    "sock",    "skb",      "nla",    "xfrm",    "crypto",   "tty",    "serial", "input",
    "hid",     "scsi",   "ata",     "nvme",     "power",  "pm",      "regulator", "thermal", "cpufreq", "trace",
    "perf",    "bpf",    "audit",   "security", "key",    "fs",      "inode",    "dentry", "file",   "mutex",
    "spin",    "sem",    "wq",      "task",     "proc",   "sys",     "k",        "os",     "hal",    "bsp",
    "fat",     "lfs",    "mqtt",    "http",     "json",   "ble",     "wifi",     "lwip",   "can",    "uart",
    "adc",     "pwm",    "rtc",     "wdt",      "flash",  "nand",    "cache",    "mpu",    "fpu",    "nvic",
    "systick", "usbd",   "eth",     "phy",      "mbox",   "ipc"};

constexpr std::array<std::string_view, 64> OBJECTS = {
    "queue",   "buffer", "device", "driver", "entry",  "node",    "list",   "lock",   "table", "work",
    "event",   "state",  "config", "ops",    "request", "header", "context", "cache", "region", "port",
    "channel", "frame",  "packet", "msg",    "data",   "info",    "attr",   "class",  "bus",   "link",
    "map",     "pool",   "ring",   "slot",   "chain",  "group",   "rule",   "policy", "stats", "counter",
    "clock",   "timer",  "irq",    "pin",    "reg",    "mode",    "flags",  "range",  "block", "sector",
    "page",    "zone",   "vma",    "tree",   "hash",   "key",     "value",  "name",   "id",    "ref",
    "cb",      "handler", "desc",  "mapping"};

constexpr std::array<std::string_view, 48> VERBS = {
    "init",    "exit",     "alloc",    "free",   "get",     "put",     "add",     "del",
    "create",  "destroy",  "start",    "stop",   "open",    "close",   "read",    "write",
    "show",    "store",    "set",      "clear",  "update",  "flush",   "lookup",  "find",
    "register", "unregister", "submit", "complete", "handle", "process", "enable", "disable",
    "probe",   "remove",   "suspend",  "resume", "reset",   "attach",  "detach",  "wait",
    "wake",    "queue",    "dequeue",  "insert", "release", "acquire", "map",     "unmap"};

constexpr std::array<std::string_view, 10> SUFFIXES = {"locked", "rcu",  "nowait", "irqsave", "common",
                                                       "internal", "one", "all",   "v2",      "fn"};

// Static names that almost every driver file has: they repeat thousands of times in a big image.
constexpr std::array<std::string_view, 24> COMMON_STATICS = {
    "init",  "exit",    "probe",    "remove",   "show",     "store",    "open",    "release",
    "read",  "write",   "poll",     "ioctl",    "suspend",  "resume",   "dummy",   "cleanup",
    "setup", "handler", "irq_handler", "get",   "set",      "reset",    "callback", "notifier_call"};

template <std::size_t N>
std::string_view pick(const std::array<std::string_view, N>& words, bench_random& rng)
{
    return words[rng.below(N)];
}

std::string join(std::initializer_list<std::string_view> parts)
{
    std::string s;
    for (std::string_view p : parts) {
        if (!s.empty() && s.back() != '_')
            s += '_';
        s += p;
    }
    return s;
}

// One kernel-shaped function name: subsystem prefixes shared by thousands of names, then
// what it works on and what it does.
std::string function_name(bench_random& rng)
{
    const std::uint32_t shape = rng.below(100);
    if (shape < 15)
        return join({pick(SUBSYSTEMS, rng), pick(OBJECTS, rng), pick(VERBS, rng)});
    if (shape < 55)
        return join({pick(SUBSYSTEMS, rng), pick(OBJECTS, rng), pick(OBJECTS, rng), pick(VERBS, rng)});
    if (shape < 60)
        return join({pick(SUBSYSTEMS, rng), pick(VERBS, rng)});
    if (shape < 70)
        return join({"__", pick(SUBSYSTEMS, rng), pick(OBJECTS, rng), pick(OBJECTS, rng), pick(VERBS, rng)});
    if (shape < 85)
        return join({pick(SUBSYSTEMS, rng), pick(OBJECTS, rng), pick(VERBS, rng), pick(SUFFIXES, rng)});
    if (shape < 95)
        return join({pick(SUBSYSTEMS, rng), pick(SUBSYSTEMS, rng), pick(OBJECTS, rng), pick(VERBS, rng)});
    return join({pick(SUBSYSTEMS, rng), pick(OBJECTS, rng), pick(OBJECTS, rng), pick(VERBS, rng), pick(SUFFIXES, rng)});
}

std::string unique_global(bench_random& rng, std::unordered_set<std::string>& taken)
{
    std::string name = function_name(rng);
    for (int attempt = 0; taken.count(name) != 0; ++attempt)
        name = attempt < 4 ? function_name(rng) : name + "_" + std::to_string(rng.below(100));
    taken.insert(name);
    return name;
}

std::string static_name(bench_random& rng)
{
    if (rng.chance(0.18))
        return std::string(pick(COMMON_STATICS, rng));
    if (rng.chance(0.5))
        return join({pick(SUBSYSTEMS, rng), pick(OBJECTS, rng), pick(VERBS, rng)});
    return join({pick(OBJECTS, rng), pick(OBJECTS, rng), pick(VERBS, rng)});
}

std::string object_name(bench_random& rng, bool local, std::uint32_t serial)
{
    if (local) {
        static constexpr std::array<std::string_view, 6> LOCALS = {"__func__", "__key",      "descriptor",
                                                                   "__warned", "__print_once", "lock_class"};
        return std::string(pick(LOCALS, rng)) + "." + std::to_string(serial);
    }
    static constexpr std::array<std::string_view, 6> TAILS = {"ops", "table", "list", "lock", "debug", "attrs"};
    return join({pick(SUBSYSTEMS, rng), pick(OBJECTS, rng), pick(TAILS, rng)});
}

// ---- the link file ---------------------------------------------------------------------------

constexpr std::uint32_t TEXT_BASE = 0xc0008000u;

struct function_record {
    std::string name;
    std::uint32_t value;
    bool global;
};

struct link_layout {
    std::vector<function_record> functions; // in symbol table order (locals first, then globals)
    std::vector<std::string> global_objects;
};

struct pending_symbol {
    std::string name;
    Elf32_Sym sym;
};

// Random code or data, or in a symbols-only file its header alone (SHT_NOBITS).
void add_code_or_data(elf_writer& w, std::uint32_t index, section_layout s, std::uint32_t size, bool with_contents,
                      bench_random& rng)
{
    if (with_contents) {
        s.type = SHT_PROGBITS;
        place(w, index, w.next_offset(), s, random_bytes(size, rng));
        return;
    }
    s.type = SHT_NOBITS;
    s.offset = w.next_offset();
    s.size = size;
    if (w.add_header(s) != index)
        throw std::logic_error(s.name + " is not where the layout put it");
}

// Lays out `count` functions in files of 1 to 48 functions, with their mapping symbols
// ($t, $a, $d), statics and data objects, as a linker emits a kernel's symbol table: the null
// symbol, one symbol per output section, every file's local symbols after its STT_FILE, then
// all global symbols.
bytes build_link_file(const generator_settings& settings, bench_random& rng, link_layout& layout,
                      std::uint32_t& symbol_total)
{
    // Section indexes, in the order the sections are added.
    constexpr std::uint16_t TEXT = 1, DATA = 2, BSS = 3, SYMTAB = 4, STRTAB = 5;
    std::vector<pending_symbol> locals, globals;
    std::vector<function_record> statics, global_functions;
    std::unordered_set<std::string> taken;
    std::uint32_t text_addr = TEXT_BASE, data_size = 0, serial = 1000, file_no = 0;

    for (std::uint32_t made = 0; made < settings.functions; ++file_no) {
        const std::uint32_t in_file = std::min(1 + rng.below(48), settings.functions - made);
        made += in_file;
        locals.push_back({"file" + std::to_string(file_no) + (rng.chance(0.9) ? ".c" : ".S"),
                          unnamed(0, 0, STB_LOCAL, STT_FILE, SHN_ABS)});
        for (std::uint32_t f = 0; f < in_file; ++f) {
            const bool thumb = rng.chance(0.95);
            const std::uint32_t size = 4 * (2 + rng.below(1 + rng.below(60)));
            locals.push_back({thumb ? "$t" : "$a", unnamed(text_addr, 0, STB_LOCAL, STT_NOTYPE, TEXT)});
            const std::uint32_t value = text_addr | (thumb ? THUMB_BIT : 0);
            if (rng.chance(0.3)) {
                std::string name = static_name(rng);
                locals.push_back({name, unnamed(value, size, STB_LOCAL, STT_FUNC, TEXT)});
                statics.push_back({std::move(name), value, false});
            } else {
                std::string name = unique_global(rng, taken);
                globals.push_back({name, unnamed(value, size, STB_GLOBAL, STT_FUNC, TEXT)});
                global_functions.push_back({std::move(name), value, true});
            }
            if (rng.chance(0.5))
                locals.push_back({"$d", unnamed(text_addr + size - 8, 0, STB_LOCAL, STT_NOTYPE, TEXT)});
            text_addr += size;
        }
        const std::uint32_t objects = rng.below(in_file * 7 / 10 + 1);
        if (objects > 0)
            locals.push_back({"$d", unnamed(data_size, 0, STB_LOCAL, STT_NOTYPE, DATA)});
        for (std::uint32_t o = 0; o < objects; ++o) {
            const bool local = rng.chance(0.6);
            const std::uint32_t size = 4 * (1 + rng.below(12));
            pending_symbol s{object_name(rng, local, serial++),
                             unnamed(data_size, size, local ? STB_LOCAL : STB_GLOBAL, STT_OBJECT, DATA)};
            data_size += size;
            if (local) {
                locals.push_back(std::move(s));
            } else {
                layout.global_objects.push_back(s.name);
                globals.push_back(std::move(s));
            }
        }
    }
    const std::uint32_t text_size = text_addr - TEXT_BASE;
    const std::uint32_t data_addr = (text_addr + 0xfff) & ~0xfffu;
    const std::uint32_t bss_size = 0x10000;

    layout.functions = std::move(statics);
    layout.functions.insert(layout.functions.end(), std::make_move_iterator(global_functions.begin()),
                            std::make_move_iterator(global_functions.end()));

    elf_writer w({.type = ET_EXEC, .entry = TEXT_BASE | THUMB_BIT, .flags = ARM_FLAGS, .program_headers = 2});
    const section_layout text{.flags = SHF_ALLOC | SHF_EXECINSTR, .addr = TEXT_BASE, .addralign = ALIGNMENT,
                              .name = ".text"};
    const section_layout data{.flags = SHF_ALLOC | SHF_WRITE, .addr = data_addr, .addralign = ALIGNMENT,
                              .name = ".data"};
    const std::uint32_t text_offset = w.next_offset();
    add_code_or_data(w, TEXT, text, text_size, settings.with_contents, rng);
    const std::uint32_t data_offset = w.next_offset();
    add_code_or_data(w, DATA, data, data_size, settings.with_contents, rng);
    w.add_header({.type = SHT_NOBITS, .offset = data_offset + data_size, .size = bss_size,
                  .flags = SHF_ALLOC | SHF_WRITE, .addr = data_addr + data_size, .addralign = ALIGNMENT, .name = ".bss"});

    string_table strtab;
    bytes symtab(sizeof(Elf32_Sym), 0);
    symtab.reserve(sizeof(Elf32_Sym) * (locals.size() + globals.size() + 4));
    for (std::uint16_t shndx : {TEXT, DATA, BSS})
        append_record(symtab, unnamed(shndx == TEXT ? TEXT_BASE : data_addr, 0, STB_LOCAL, STT_SECTION, shndx));
    for (pending_symbol& s : locals) {
        s.sym.st_name = strtab.add(s.name);
        if (s.sym.st_shndx == DATA)
            s.sym.st_value = s.sym.st_value + data_addr;
        append_record(symtab, s.sym);
    }
    const auto first_global = static_cast<std::uint32_t>(symtab.size() / sizeof(Elf32_Sym));
    for (pending_symbol& s : globals) {
        s.sym.st_name = strtab.add(s.name);
        if (s.sym.st_shndx == DATA)
            s.sym.st_value = s.sym.st_value + data_addr;
        append_record(symtab, s.sym);
    }
    symbol_total = static_cast<std::uint32_t>(symtab.size() / sizeof(Elf32_Sym));
    place(w, SYMTAB, w.next_offset(),
          {.type = SHT_SYMTAB, .link = STRTAB, .info = first_global, .addralign = ALIGNMENT,
           .entsize = sizeof(Elf32_Sym), .name = ".symtab"},
          symtab);
    place(w, STRTAB, w.next_offset(), {.type = SHT_STRTAB, .addralign = 1, .name = ".strtab"}, strtab.contents());

    const std::uint32_t filesz = settings.with_contents ? text_size : 0;
    const std::uint32_t datasz = settings.with_contents ? data_size : 0;
    w.set_program_header(0, segment(PT_LOAD, text_offset, TEXT_BASE, filesz, text_size, PF_R | PF_X));
    w.set_program_header(1, segment(PT_LOAD, data_offset, data_addr, datasz, data_size + bss_size, PF_R | PF_W));
    return w.finish();
}

// ---- the linked image ------------------------------------------------------------------------

constexpr std::uint32_t FUNCTION_SIZE = 64;  // of each of the module's own functions
constexpr std::uint32_t GOT_RESERVED = 3;    // entries before the first slot; the first holds _DYNAMIC
constexpr std::uint32_t DYNAMIC_ENTRIES = 16;
// An ARM PLT: a header of 20 bytes (left zero here: modweld does not read it), then per
// entry add ip, pc, #0, 12; add ip, ip, #0, 20; ldr pc, [ip, #offset]!.
constexpr std::uint32_t PLT_HEADER_SIZE = 20, PLT_ENTRY_SIZE = 12;
constexpr std::uint32_t PLT_ADD_IP_PC = 0xe28fc600u, PLT_ADD_IP_IP = 0xe28cca00u, PLT_LDR_PC = 0xe5bcf000u;
constexpr std::uint32_t ARM_PC_AHEAD = 8; // the pc an ARM instruction reads: its own address + 8

struct slot_plan {
    std::string_view name;
    std::uint32_t symbol;   // .dynsym index
    bool filled;            // an import that the link file defines as a function
    std::uint32_t value;    // what the slot must hold afterwards
};

// A module linked as a shared object whose addresses equal its file offsets: .dynsym with its
// imports (value 0), its own exported functions and a few undefined data symbols, .dynstr,
// .rel.dyn (R_ARM_RELATIVE, R_ARM_ABS32, R_ARM_GLOB_DAT), .rel.plt (one R_ARM_JUMP_SLOT per
// PLT entry), .plt, .text, .dynamic, .got and .data.
void build_linked_image(const generator_settings& settings, bench_random& rng, const link_layout& layout,
                        generated_inputs& out)
{
    // The value each function name gets: the one that comes last in the symbol table.
    std::unordered_map<std::string_view, std::uint32_t> last_value;
    last_value.reserve(layout.functions.size());
    for (const function_record& f : layout.functions)
        last_value[f.name] = f.value;

    const std::uint32_t imports = std::max<std::uint32_t>(1, settings.functions / 10);
    const std::uint32_t own = std::max<std::uint32_t>(1, imports / 100);

    // Distinct imported names: mostly exported (global) functions, some statics, the commonly
    // repeated static names among them.
    std::vector<std::uint32_t> order(layout.functions.size());
    for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::unordered_set<std::string_view> chosen;
    std::vector<std::string_view> import_names;
    for (std::uint32_t i = 0; i < order.size() && import_names.size() < imports; ++i) {
        std::swap(order[i], order[i + rng.below(static_cast<std::uint32_t>(order.size() - i))]);
        const function_record& f = layout.functions[order[i]];
        if (!f.global && !rng.chance(0.15))
            continue; // statics are imported far less often than exported functions
        if (chosen.insert(f.name).second)
            import_names.push_back(f.name);
    }
    const std::uint32_t data_imports = std::min<std::uint32_t>(
        static_cast<std::uint32_t>(layout.global_objects.size()), std::max<std::uint32_t>(1, imports / 50));

    // .dynsym: imports, own functions and data imports shuffled together.
    enum class kind : std::uint8_t { import, own, data };
    struct dyn { kind k; std::uint32_t which; };
    std::vector<dyn> dyns;
    for (std::uint32_t i = 0; i < import_names.size(); ++i)
        dyns.push_back({kind::import, i});
    for (std::uint32_t i = 0; i < own * 3; ++i)
        dyns.push_back({kind::own, i});
    for (std::uint32_t i = 0; i < data_imports; ++i)
        dyns.push_back({kind::data, i});
    for (std::size_t i = dyns.size(); i > 1; --i)
        std::swap(dyns[i - 1], dyns[rng.below(static_cast<std::uint32_t>(i))]);

    const std::uint32_t plt_entries = static_cast<std::uint32_t>(import_names.size()) + own;
    const std::uint32_t text_size = FUNCTION_SIZE * plt_entries + 256;
    const std::uint32_t relative = imports / 2;

    // File layout, addresses equal to offsets, the sections in this order.
    constexpr std::uint16_t DYNSYM = 1, DYNSTR = 2, REL_DYN = 3, REL_PLT = 4, PLT = 5, TEXT = 6, DYNAMIC = 7, GOT = 8,
                            DATA = 9;
    elf_writer w({.type = ET_DYN, .flags = ARM_FLAGS, .program_headers = 3});
    const std::uint32_t dynsym_off = w.next_offset();
    const std::uint32_t dynsym_size = sizeof(Elf32_Sym) * static_cast<std::uint32_t>(dyns.size() + 1);
    string_table dynstr;
    std::vector<std::uint32_t> name_of(dyns.size());
    for (std::size_t i = 0; i < dyns.size(); ++i) {
        const dyn& d = dyns[i];
        name_of[i] = d.k == kind::import ? dynstr.add(std::string(import_names[d.which]))
                     : d.k == kind::own  ? dynstr.add("mod_export_" + std::to_string(d.which))
                                         : dynstr.add(layout.global_objects[d.which]);
    }
    const std::uint32_t dynstr_off = elf_writer::offset_after(dynsym_off, dynsym_size);
    const auto dynstr_size = static_cast<std::uint32_t>(dynstr.contents().size());
    const std::uint32_t reldyn_off = elf_writer::offset_after(dynstr_off, dynstr_size);
    const std::uint32_t reldyn_size = sizeof(Elf32_Rel) * (relative + 2 * data_imports);
    const std::uint32_t relplt_off = elf_writer::offset_after(reldyn_off, reldyn_size);
    const std::uint32_t relplt_size = sizeof(Elf32_Rel) * plt_entries;
    const std::uint32_t plt_off = elf_writer::offset_after(relplt_off, relplt_size);
    const std::uint32_t plt_size = PLT_HEADER_SIZE + PLT_ENTRY_SIZE * plt_entries;
    const std::uint32_t text_off = elf_writer::offset_after(plt_off, plt_size);
    const std::uint32_t dynamic_off = elf_writer::offset_after(text_off, text_size);
    const std::uint32_t dynamic_size = sizeof(Elf32_Dyn) * DYNAMIC_ENTRIES;
    const std::uint32_t got_off = elf_writer::offset_after(dynamic_off, dynamic_size);
    const std::uint32_t got_size = WORD * (GOT_RESERVED + plt_entries + data_imports);
    const std::uint32_t data_off = elf_writer::offset_after(got_off, got_size);
    const std::uint32_t data_size = WORD * (relative + data_imports);
    const std::uint32_t end = elf_writer::offset_after(data_off, data_size);

    bytes dynsym(sizeof(Elf32_Sym), 0);
    std::vector<std::uint32_t> import_sym(import_names.size()), own_sym(own * 3), data_sym(data_imports);
    for (std::size_t i = 0; i < dyns.size(); ++i) {
        const auto index = static_cast<std::uint32_t>(i + 1);
        const dyn& d = dyns[i];
        Elf32_Sym s = elf32_symbol(name_of[i], 0, 0, elf32_st_info(STB_GLOBAL, STT_FUNC), SHN_UNDEF);
        if (d.k == kind::import) {
            import_sym[d.which] = index;
        } else if (d.k == kind::own) {
            own_sym[d.which] = index;
            s.st_value = (text_off + FUNCTION_SIZE * d.which) | THUMB_BIT;
            s.st_size = FUNCTION_SIZE;
            s.st_shndx = TEXT;
        } else {
            data_sym[d.which] = index;
            s.st_info = elf32_st_info(STB_GLOBAL, STT_OBJECT);
        }
        append_record(dynsym, s);
    }

    // .rel.dyn: pointers in .data to be relocated by the loader, and GOT entries for data.
    rel_builder reldyn;
    bytes data(data_size, 0);
    for (std::uint32_t i = 0; i < relative; ++i) {
        reldyn.add(data_off + WORD * i, R_ARM_RELATIVE, 0);
        put_u32(data, WORD * i, text_off + WORD * rng.below(text_size / WORD));
    }
    for (std::uint32_t i = 0; i < data_imports; ++i) {
        reldyn.add(got_off + WORD * (GOT_RESERVED + plt_entries + i), R_ARM_GLOB_DAT, data_sym[i]);
        reldyn.add(data_off + WORD * (relative + i), R_ARM_ABS32, data_sym[i]);
    }

    // .rel.plt: PLT entries in order of first use, imports and own functions mixed.
    std::vector<slot_plan> slots;
    for (std::uint32_t i = 0; i < import_names.size(); ++i) {
        const auto found = last_value.find(import_names[i]);
        slots.push_back({import_names[i], import_sym[i], true, found->second});
    }
    for (std::uint32_t i = 0; i < own; ++i)
        slots.push_back({{}, own_sym[i * 3], false, 0});
    for (std::size_t i = slots.size(); i > 1; --i)
        std::swap(slots[i - 1], slots[rng.below(static_cast<std::uint32_t>(i))]);

    rel_builder relplt;
    bytes got(got_size, 0), plt(plt_size, 0);
    put_u32(got, 0, dynamic_off);
    for (std::uint32_t k = 0; k < slots.size(); ++k) {
        const std::uint32_t slot = got_off + WORD * (GOT_RESERVED + k);
        relplt.add(slot, R_ARM_JUMP_SLOT, slots[k].symbol);
        put_u32(got, slot - got_off, plt_off); // lazy binding: every slot first points at PLT[0]
        const std::uint32_t entry = PLT_HEADER_SIZE + PLT_ENTRY_SIZE * k;
        const std::uint32_t load_at = plt_off + entry + 2 * WORD;
        put_u32(plt, entry, PLT_ADD_IP_PC);
        put_u32(plt, entry + WORD, PLT_ADD_IP_IP);
        put_u32(plt, entry + 2 * WORD, PLT_LDR_PC | ((slot - load_at - ARM_PC_AHEAD) & 0xfff));
    }
    const bytes text = random_bytes(text_size, rng);
    bytes dynamic;
    for (std::uint32_t i = 0; i < DYNAMIC_ENTRIES; ++i) {
        // Tags with no meaning here.
        append_record(dynamic, Elf32_Dyn{.d_tag = i + 1 < DYNAMIC_ENTRIES ? i + 1 : DT_NULL, .d_val = 0});
    }

    constexpr std::uint32_t A = SHF_ALLOC, AX = SHF_ALLOC | SHF_EXECINSTR, AW = SHF_ALLOC | SHF_WRITE;
    // sh_info 1: the null symbol is the only local one.
    place(w, DYNSYM, dynsym_off,
          {.type = SHT_DYNSYM, .link = DYNSTR, .flags = A, .addr = dynsym_off, .info = 1, .addralign = ALIGNMENT,
           .entsize = sizeof(Elf32_Sym), .name = ".dynsym"},
          dynsym);
    place(w, DYNSTR, dynstr_off,
          {.type = SHT_STRTAB, .flags = A, .addr = dynstr_off, .addralign = 1, .name = ".dynstr"}, dynstr.contents());
    place(w, REL_DYN, reldyn_off,
          {.type = SHT_REL, .link = DYNSYM, .flags = A, .addr = reldyn_off, .addralign = ALIGNMENT,
           .entsize = sizeof(Elf32_Rel), .name = ".rel.dyn"},
          reldyn.rel);
    place(w, REL_PLT, relplt_off,
          {.type = SHT_REL, .link = DYNSYM, .flags = A | SHF_INFO_LINK, .addr = relplt_off, .info = GOT,
           .addralign = ALIGNMENT, .entsize = sizeof(Elf32_Rel), .name = ".rel.plt"},
          relplt.rel);
    place(w, PLT, plt_off, {.type = SHT_PROGBITS, .flags = AX, .addr = plt_off, .addralign = ALIGNMENT, .name = ".plt"},
          plt);
    place(w, TEXT, text_off,
          {.type = SHT_PROGBITS, .flags = AX, .addr = text_off, .addralign = ALIGNMENT, .name = ".text"}, text);
    place(w, DYNAMIC, dynamic_off,
          {.type = SHT_DYNAMIC, .link = DYNSTR, .flags = AW, .addr = dynamic_off, .addralign = ALIGNMENT,
           .entsize = sizeof(Elf32_Dyn), .name = ".dynamic"},
          dynamic);
    place(w, GOT, got_off,
          {.type = SHT_PROGBITS, .flags = AW, .addr = got_off, .addralign = ALIGNMENT, .entsize = WORD, .name = ".got"},
          got);
    place(w, DATA, data_off,
          {.type = SHT_PROGBITS, .flags = AW, .addr = data_off, .addralign = ALIGNMENT, .name = ".data"}, data);
    w.set_program_header(0, segment(PT_LOAD, 0, 0, dynamic_off, dynamic_off, PF_R | PF_X));
    const std::uint32_t writable = end - dynamic_off;
    w.set_program_header(1, segment(PT_LOAD, dynamic_off, dynamic_off, writable, writable, PF_R | PF_W));
    w.set_program_header(2, segment(PT_DYNAMIC, dynamic_off, dynamic_off, dynamic_size, dynamic_size, PF_R | PF_W));
    bytes image = w.finish();

    // The module image: the same bytes with the module magic and every import's slot set.
    out.expected_image = image;
    std::copy(MODULE_MAGIC.begin(), MODULE_MAGIC.end(), out.expected_image.begin());
    for (std::uint32_t k = 0; k < slots.size(); ++k) {
        if (slots[k].filled) {
            put_u32(out.expected_image, got_off + WORD * (GOT_RESERVED + k), slots[k].value);
            ++out.filled_slots;
            if (settings.with_trace) {
                char value[16];
                std::snprintf(value, sizeof value, "%x", slots[k].value);
                out.expected_trace += "relocate symbol " + std::string(slots[k].name) + "--0x" + value + "\n";
            }
        }
    }
    out.jump_slots = static_cast<std::uint32_t>(slots.size());
    out.linked_image = std::move(image);
}

} // namespace

generated_inputs generate_inputs(const generator_settings& settings)
{
    generated_inputs out;
    bench_random rng(settings.seed);
    link_layout layout;
    out.link_file = build_link_file(settings, rng, layout, out.link_symbols);
    std::uint64_t name_bytes = 0;
    for (const function_record& f : layout.functions)
        name_bytes += f.name.size();
    out.mean_function_name = layout.functions.empty() ? 0.0 : static_cast<double>(name_bytes) / layout.functions.size();
    if (settings.with_trace) {
        for (const function_record& f : layout.functions)
            out.expected_trace += "hash_table_insert symbol " + f.name + " \n";
    }
    build_linked_image(settings, rng, layout, out);
    return out;
}

std::vector<std::string> generate_function_names(std::uint32_t count, std::uint64_t seed)
{
    bench_random rng(seed);
    std::unordered_set<std::string> taken;
    std::vector<std::string> names;
    names.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
        names.push_back(rng.chance(0.3) ? static_name(rng) : unique_global(rng, taken));
    return names;
}
