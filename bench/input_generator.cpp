#include "input_generator.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

// ---- ELF32 little-endian writing -------------------------------------------------------

constexpr std::uint32_t SHT_PROGBITS = 1, SHT_SYMTAB = 2, SHT_STRTAB = 3, SHT_DYNAMIC = 6, SHT_NOBITS = 8,
                        SHT_REL = 9, SHT_DYNSYM = 11;
constexpr std::uint32_t SHF_WRITE = 1, SHF_ALLOC = 2, SHF_EXECINSTR = 4;
constexpr std::uint8_t STB_LOCAL = 0, STB_GLOBAL = 1;
constexpr std::uint8_t STT_NOTYPE = 0, STT_OBJECT = 1, STT_FUNC = 2, STT_SECTION = 3, STT_FILE = 4;
constexpr std::uint8_t R_ARM_ABS32 = 2, R_ARM_GLOB_DAT = 21, R_ARM_JUMP_SLOT = 22, R_ARM_RELATIVE = 23;
constexpr std::uint16_t SHN_ABS = 0xfff1;

void put16(byte_vector& out, std::size_t at, std::uint16_t v)
{
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(byte_vector& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void align_to(byte_vector& out, std::size_t alignment)
{
    out.resize((out.size() + alignment - 1) / alignment * alignment);
}

constexpr std::uint8_t info(std::uint8_t bind, std::uint8_t type) { return static_cast<std::uint8_t>(bind << 4 | type); }

// A string table that stores each distinct string once, as linkers do.
struct string_table {
    byte_vector bytes{0};
    std::unordered_map<std::string, std::uint32_t> at;

    std::uint32_t add(const std::string& s)
    {
        if (s.empty())
            return 0;
        const auto [it, fresh] = at.try_emplace(s, static_cast<std::uint32_t>(bytes.size()));
        if (fresh) {
            bytes.insert(bytes.end(), s.begin(), s.end());
            bytes.push_back(0);
        }
        return it->second;
    }
};

struct symbol {
    std::uint32_t name;
    std::uint32_t value;
    std::uint32_t size;
    std::uint8_t info;
    std::uint16_t shndx;
};

void append_symbol(byte_vector& out, const symbol& s)
{
    const std::size_t at = out.size();
    out.resize(at + 16);
    put32(out, at, s.name);
    put32(out, at + 4, s.value);
    put32(out, at + 8, s.size);
    out[at + 12] = s.info;
    out[at + 13] = 0;
    put16(out, at + 14, s.shndx);
}

struct section {
    std::string name;
    std::uint32_t type = 0, flags = 0, addr = 0, offset = 0, size = 0, link = 0, info = 0, align = 1, entsize = 0;
};

struct program_header {
    std::uint32_t type, offset, vaddr, filesz, memsz, flags;
};

// Writes the ELF header, program headers at 52, and the section header table (after a
// .shstrtab) at the end of `image`, whose contents are already in place.
void finish_elf(byte_vector& image, std::uint16_t type, std::uint32_t entry, std::vector<section> sections,
                const std::vector<program_header>& segments)
{
    string_table shstr;
    section shstrtab{".shstrtab", SHT_STRTAB};
    sections.push_back(shstrtab);
    std::vector<std::uint32_t> names;
    for (const section& s : sections)
        names.push_back(shstr.add(s.name));
    sections.back().offset = static_cast<std::uint32_t>(image.size());
    sections.back().size = static_cast<std::uint32_t>(shstr.bytes.size());
    image.insert(image.end(), shstr.bytes.begin(), shstr.bytes.end());
    align_to(image, 4);

    const auto shoff = static_cast<std::uint32_t>(image.size());
    image.resize(image.size() + 40 * (sections.size() + 1)); // entry 0 is the null section
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const section& s = sections[i];
        const std::size_t at = shoff + 40 * (i + 1);
        const std::uint32_t fields[10] = {names[i], s.type, s.flags, s.addr, s.offset,
                                          s.size,   s.link, s.info,  s.align, s.entsize};
        for (int f = 0; f < 10; ++f)
            put32(image, at + 4 * f, fields[f]);
    }

    const std::uint8_t ident[16] = {0x7f, 'E', 'L', 'F', 1, 1, 1, 0};
    std::copy(std::begin(ident), std::end(ident), image.begin());
    put16(image, 16, type);
    put16(image, 18, 40); // EM_ARM
    put32(image, 20, 1);
    put32(image, 24, entry);
    put32(image, 28, segments.empty() ? 0 : 52);
    put32(image, 32, shoff);
    put32(image, 36, 0x05000200); // EABI version 5, soft-float
    put16(image, 40, 52);
    put16(image, 42, 32);
    put16(image, 44, static_cast<std::uint16_t>(segments.size()));
    put16(image, 46, 40);
    put16(image, 48, static_cast<std::uint16_t>(sections.size() + 1));
    put16(image, 50, static_cast<std::uint16_t>(sections.size()));
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const program_header& p = segments[i];
        const std::size_t at = 52 + 32 * i;
        const std::uint32_t fields[8] = {p.type, p.offset, p.vaddr, p.vaddr, p.filesz, p.memsz, p.flags, 4};
        for (int f = 0; f < 8; ++f)
            put32(image, at + 4 * f, fields[f]);
    }
}

void fill_random(byte_vector& out, std::size_t from, std::size_t to, bench_random& rng)
{
    for (std::size_t i = from; i < to; i += 8) {
        std::uint64_t r = rng.next();
        for (std::size_t k = i; k < to && k < i + 8; ++k, r >>= 8)
            out[k] = static_cast<std::uint8_t>(r);
    }
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
    symbol sym;
};

// Lays out `count` functions in files of 1 to 48 functions, with their mapping symbols
// ($t, $a, $d), statics and data objects, as a linker emits a kernel's symbol table: the null
// symbol, one symbol per output section, every file's local symbols after its STT_FILE, then
// all global symbols.
byte_vector build_link_file(const generator_settings& settings, bench_random& rng, link_layout& layout,
                            std::uint32_t& symbol_total)
{
    constexpr std::uint16_t TEXT = 1, DATA = 2, BSS = 3;
    std::vector<pending_symbol> locals, globals;
    std::vector<function_record> statics, global_functions;
    std::unordered_set<std::string> taken;
    std::uint32_t text_addr = TEXT_BASE, data_size = 0, serial = 1000, file_no = 0;

    for (std::uint32_t made = 0; made < settings.functions; ++file_no) {
        const std::uint32_t in_file = std::min(1 + rng.below(48), settings.functions - made);
        made += in_file;
        locals.push_back({"file" + std::to_string(file_no) + (rng.chance(0.9) ? ".c" : ".S"),
                          {0, 0, 0, info(STB_LOCAL, STT_FILE), SHN_ABS}});
        for (std::uint32_t f = 0; f < in_file; ++f) {
            const bool thumb = rng.chance(0.95);
            const std::uint32_t size = 4 * (2 + rng.below(1 + rng.below(60)));
            locals.push_back({thumb ? "$t" : "$a", {0, text_addr, 0, info(STB_LOCAL, STT_NOTYPE), TEXT}});
            const std::uint32_t value = text_addr | (thumb ? 1u : 0u);
            if (rng.chance(0.3)) {
                std::string name = static_name(rng);
                locals.push_back({name, {0, value, size, info(STB_LOCAL, STT_FUNC), TEXT}});
                statics.push_back({std::move(name), value, false});
            } else {
                std::string name = unique_global(rng, taken);
                globals.push_back({name, {0, value, size, info(STB_GLOBAL, STT_FUNC), TEXT}});
                global_functions.push_back({std::move(name), value, true});
            }
            if (rng.chance(0.5))
                locals.push_back({"$d", {0, text_addr + size - 8, 0, info(STB_LOCAL, STT_NOTYPE), TEXT}});
            text_addr += size;
        }
        const std::uint32_t objects = rng.below(in_file * 7 / 10 + 1);
        if (objects > 0)
            locals.push_back({"$d", {0, data_size, 0, info(STB_LOCAL, STT_NOTYPE), DATA}});
        for (std::uint32_t o = 0; o < objects; ++o) {
            const bool local = rng.chance(0.6);
            const std::uint32_t size = 4 * (1 + rng.below(12));
            pending_symbol s{object_name(rng, local, serial++),
                             {0, data_size, size, info(local ? STB_LOCAL : STB_GLOBAL, STT_OBJECT), DATA}};
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

    byte_vector image(52 + 2 * 32);
    const auto text_offset = static_cast<std::uint32_t>(image.size());
    if (settings.with_contents) {
        image.resize(image.size() + text_size);
        fill_random(image, text_offset, image.size(), rng);
    }
    align_to(image, 4);
    const auto data_offset = static_cast<std::uint32_t>(image.size());
    if (settings.with_contents) {
        image.resize(image.size() + data_size);
        fill_random(image, data_offset, image.size(), rng);
    }
    align_to(image, 4);

    string_table strtab;
    byte_vector symtab(16, 0);
    symtab.reserve(16 * (locals.size() + globals.size() + 4));
    for (std::uint16_t shndx : {TEXT, DATA, BSS})
        append_symbol(symtab, {0, shndx == TEXT ? TEXT_BASE : data_addr, 0, info(STB_LOCAL, STT_SECTION), shndx});
    for (pending_symbol& s : locals) {
        s.sym.name = strtab.add(s.name);
        if (s.sym.shndx == DATA)
            s.sym.value += data_addr;
        append_symbol(symtab, s.sym);
    }
    const auto first_global = static_cast<std::uint32_t>(symtab.size() / 16);
    for (pending_symbol& s : globals) {
        s.sym.name = strtab.add(s.name);
        if (s.sym.shndx == DATA)
            s.sym.value += data_addr;
        append_symbol(symtab, s.sym);
    }
    symbol_total = static_cast<std::uint32_t>(symtab.size() / 16);

    const auto symtab_offset = static_cast<std::uint32_t>(image.size());
    image.insert(image.end(), symtab.begin(), symtab.end());
    const auto strtab_offset = static_cast<std::uint32_t>(image.size());
    image.insert(image.end(), strtab.bytes.begin(), strtab.bytes.end());
    align_to(image, 4);

    const std::uint32_t contents = settings.with_contents ? SHT_PROGBITS : SHT_NOBITS;
    std::vector<section> sections = {
        {".text", contents, SHF_ALLOC | SHF_EXECINSTR, TEXT_BASE, text_offset, text_size, 0, 0, 4, 0},
        {".data", contents, SHF_ALLOC | SHF_WRITE, data_addr, data_offset, data_size, 0, 0, 4, 0},
        {".bss", SHT_NOBITS, SHF_ALLOC | SHF_WRITE, data_addr + data_size, data_offset + data_size, bss_size, 0, 0, 4, 0},
        {".symtab", SHT_SYMTAB, 0, 0, symtab_offset, static_cast<std::uint32_t>(symtab.size()), 5, first_global, 4, 16},
        {".strtab", SHT_STRTAB, 0, 0, strtab_offset, static_cast<std::uint32_t>(strtab.bytes.size()), 0, 0, 1, 0},
    };
    const std::uint32_t filesz = settings.with_contents ? text_size : 0;
    const std::uint32_t datasz = settings.with_contents ? data_size : 0;
    finish_elf(image, 2 /* ET_EXEC */, TEXT_BASE | 1, sections,
               {{1, text_offset, TEXT_BASE, filesz, text_size, 5}, {1, data_offset, data_addr, datasz, data_size + bss_size, 6}});
    return image;
}

// ---- the linked image ------------------------------------------------------------------------

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
    const std::uint32_t text_size = 64 * plt_entries + 256;
    const std::uint32_t relative = imports / 2;

    // File layout, addresses equal to offsets.
    const std::uint32_t dynsym_off = 52 + 3 * 32;
    const std::uint32_t dynsym_size = 16 * static_cast<std::uint32_t>(dyns.size() + 1);
    string_table dynstr;
    std::vector<std::uint32_t> name_of(dyns.size());
    for (std::size_t i = 0; i < dyns.size(); ++i) {
        const dyn& d = dyns[i];
        name_of[i] = d.k == kind::import ? dynstr.add(std::string(import_names[d.which]))
                     : d.k == kind::own  ? dynstr.add("mod_export_" + std::to_string(d.which))
                                         : dynstr.add(layout.global_objects[d.which]);
    }
    const std::uint32_t dynstr_off = dynsym_off + dynsym_size;
    const auto dynstr_size = static_cast<std::uint32_t>(dynstr.bytes.size());
    const std::uint32_t reldyn_off = (dynstr_off + dynstr_size + 3) & ~3u;
    const std::uint32_t reldyn_size = 8 * (relative + 2 * data_imports);
    const std::uint32_t relplt_off = reldyn_off + reldyn_size;
    const std::uint32_t relplt_size = 8 * plt_entries;
    const std::uint32_t plt_off = relplt_off + relplt_size;
    const std::uint32_t plt_size = 20 + 12 * plt_entries;
    const std::uint32_t text_off = plt_off + plt_size;
    const std::uint32_t dynamic_off = text_off + text_size;
    const std::uint32_t dynamic_size = 8 * 16;
    const std::uint32_t got_off = dynamic_off + dynamic_size;
    const std::uint32_t got_size = 4 * (3 + plt_entries + data_imports);
    const std::uint32_t data_off = got_off + got_size;
    const std::uint32_t data_size = 4 * (relative + data_imports);
    const std::uint32_t end = data_off + data_size;

    byte_vector image(end, 0);
    // .dynsym
    std::vector<std::uint32_t> import_sym(import_names.size()), own_sym(own * 3), data_sym(data_imports);
    for (std::size_t i = 0; i < dyns.size(); ++i) {
        const auto index = static_cast<std::uint32_t>(i + 1);
        const dyn& d = dyns[i];
        symbol s{name_of[i], 0, 0, info(STB_GLOBAL, STT_FUNC), 0};
        if (d.k == kind::import) {
            import_sym[d.which] = index;
        } else if (d.k == kind::own) {
            own_sym[d.which] = index;
            s.value = (text_off + 64 * d.which) | 1;
            s.size = 64;
            s.shndx = 6;
        } else {
            data_sym[d.which] = index;
            s.info = info(STB_GLOBAL, STT_OBJECT);
        }
        byte_vector rec;
        append_symbol(rec, s);
        std::copy(rec.begin(), rec.end(), image.begin() + dynsym_off + 16 * index);
    }
    std::copy(dynstr.bytes.begin(), dynstr.bytes.end(), image.begin() + dynstr_off);

    // .rel.dyn: pointers in .data to be relocated by the loader, and GOT entries for data.
    std::uint32_t at = reldyn_off;
    for (std::uint32_t i = 0; i < relative; ++i, at += 8) {
        put32(image, at, data_off + 4 * i);
        put32(image, at + 4, R_ARM_RELATIVE);
        put32(image, data_off + 4 * i, text_off + 4 * rng.below(text_size / 4));
    }
    for (std::uint32_t i = 0; i < data_imports; ++i, at += 16) {
        put32(image, at, got_off + 4 * (3 + plt_entries + i));
        put32(image, at + 4, data_sym[i] << 8 | R_ARM_GLOB_DAT);
        put32(image, at + 8, data_off + 4 * (relative + i));
        put32(image, at + 12, data_sym[i] << 8 | R_ARM_ABS32);
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

    put32(image, got_off, dynamic_off);
    for (std::uint32_t k = 0; k < slots.size(); ++k) {
        const std::uint32_t slot = got_off + 4 * (3 + k);
        put32(image, relplt_off + 8 * k, slot);
        put32(image, relplt_off + 8 * k + 4, slots[k].symbol << 8 | R_ARM_JUMP_SLOT);
        put32(image, slot, plt_off); // lazy binding: every slot first points at PLT[0]
        put32(image, plt_off + 20 + 12 * k, 0xe28fc600u);
        put32(image, plt_off + 24 + 12 * k, 0xe28cca00u);
        put32(image, plt_off + 28 + 12 * k, 0xe5bcf000u | ((slot - (plt_off + 28 + 12 * k) - 8) & 0xfff));
    }
    fill_random(image, text_off, text_off + text_size, rng);
    for (std::uint32_t i = 0; i < 16; ++i)
        put32(image, dynamic_off + 8 * i, i < 15 ? i + 1 : 0);

    const std::vector<section> sections = {
        {".dynsym", SHT_DYNSYM, SHF_ALLOC, dynsym_off, dynsym_off, dynsym_size, 2, 1, 4, 16},
        {".dynstr", SHT_STRTAB, SHF_ALLOC, dynstr_off, dynstr_off, dynstr_size, 0, 0, 1, 0},
        {".rel.dyn", SHT_REL, SHF_ALLOC, reldyn_off, reldyn_off, reldyn_size, 1, 0, 4, 8},
        {".rel.plt", SHT_REL, SHF_ALLOC | 0x40, relplt_off, relplt_off, relplt_size, 1, 8, 4, 8},
        {".plt", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, plt_off, plt_off, plt_size, 0, 0, 4, 0},
        {".text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, text_off, text_off, text_size, 0, 0, 4, 0},
        {".dynamic", SHT_DYNAMIC, SHF_ALLOC | SHF_WRITE, dynamic_off, dynamic_off, dynamic_size, 2, 0, 4, 8},
        {".got", SHT_PROGBITS, SHF_ALLOC | SHF_WRITE, got_off, got_off, got_size, 0, 0, 4, 4},
        {".data", SHT_PROGBITS, SHF_ALLOC | SHF_WRITE, data_off, data_off, data_size, 0, 0, 4, 0},
    };
    finish_elf(image, 3 /* ET_DYN */, 0, sections,
               {{1, 0, 0, dynamic_off, dynamic_off, 5}, {1, dynamic_off, dynamic_off, end - dynamic_off, end - dynamic_off, 6},
                {2, dynamic_off, dynamic_off, dynamic_size, dynamic_size, 6}});

    // The module image: the same bytes with the module magic and every import's slot set.
    out.expected_image = image;
    const std::uint8_t magic[4] = {0x7f, 'O', 'V', 'K'};
    std::copy(std::begin(magic), std::end(magic), out.expected_image.begin());
    for (std::uint32_t k = 0; k < slots.size(); ++k) {
        if (slots[k].filled) {
            put32(out.expected_image, got_off + 4 * (3 + k), slots[k].value);
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
