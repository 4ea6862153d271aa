// ELF32 records as they lie in an image buffer, and the values the tool reads, with the names
// of the ELF standard and its ARM supplement (tests/elf_writer adds what only a writer needs).
// EI_DATA is never consulted: every field is read little-endian.
#pragma once

#include "elf/image_bytes.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

constexpr std::array<std::uint8_t, 4> ELFMAG = {0x7f, 'E', 'L', 'F'};
// What a module image starts with in place of ELFMAG.
constexpr std::array<std::uint8_t, 4> MODULE_MAGIC = {0x7f, 'O', 'V', 'K'};
constexpr std::size_t EI_NIDENT = 16, EI_CLASS = 4;
constexpr std::uint8_t ELFCLASS32 = 1, ELFCLASS64 = 2;
constexpr std::uint32_t SHT_SYMTAB = 2, SHT_NOBITS = 8, SHT_REL = 9, SHT_ARM_ATTRIBUTES = 0x70000003;
constexpr std::uint32_t SHF_ALLOC = 2;
constexpr std::uint16_t SHN_UNDEF = 0;
constexpr std::uint8_t STT_FUNC = 2;
constexpr std::uint8_t R_ARM_JUMP_SLOT = 22;
// Bit 0 of an ARM function address: set for Thumb code.
constexpr std::uint32_t THUMB_BIT = 1;

// The fields in the standard's order; a field the tool does not read is declared with its
// neighbours so that the records have their real layout.
struct Elf32_Ehdr {
    std::array<std::uint8_t, EI_NIDENT> e_ident;
    ul16 e_type, e_machine;
    ul32 e_version, e_entry, e_phoff, e_shoff, e_flags;
    ul16 e_ehsize, e_phentsize, e_phnum;
    ul16 e_shentsize; // not consulted: the section header table is walked 40 bytes at a time
    ul16 e_shnum, e_shstrndx;
};

struct Elf32_Shdr {
    ul32 sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_link, sh_info, sh_addralign;
    ul32 sh_entsize; // not consulted: a section holds sh_size / sizeof(record) records
};

struct Elf32_Sym {
    ul32 st_name, st_value, st_size;
    std::uint8_t st_info, st_other;
    ul16 st_shndx;
};

struct Elf32_Rel {
    ul32 r_offset, r_info;
};

static_assert(sizeof(Elf32_Ehdr) == 52 && offsetof(Elf32_Ehdr, e_shoff) == 32 && offsetof(Elf32_Ehdr, e_shnum) == 48);
static_assert(sizeof(Elf32_Shdr) == 40 && offsetof(Elf32_Shdr, sh_offset) == 16 && offsetof(Elf32_Shdr, sh_link) == 24);
static_assert(sizeof(Elf32_Sym) == 16 && offsetof(Elf32_Sym, st_value) == 4 && offsetof(Elf32_Sym, st_info) == 12);
static_assert(sizeof(Elf32_Rel) == 8 && offsetof(Elf32_Rel, r_info) == 4);

// ARM build attributes (an SHT_ARM_ATTRIBUTES section): the format, then per vendor a length
// (ul32, counting itself), the vendor's name and groups of attributes, each a tag and a number
// (ULEB128) or a string.
constexpr std::uint8_t ATTRIBUTES_FORMAT = 'A';
constexpr std::string_view AEABI_VENDOR = "aeabi";
constexpr std::uint8_t TAG_FILE = 1; // the group of the whole file's attributes
struct attributes_group {
    std::uint8_t tag;
    ul32 size; // this header included
};
static_assert(sizeof(attributes_group) == 5);
constexpr std::uint64_t TAG_CPU_RAW_NAME = 4, TAG_CPU_NAME = 5, TAG_CPU_ARCH = 6, TAG_CPU_ARCH_PROFILE = 7,
                        TAG_ABI_VFP_ARGS = 28, TAG_COMPATIBILITY = 32;
// Tag_CPU_arch values of M-profile architectures (v7-M says v7, 10, and leaves the profile to
// Tag_CPU_arch_profile).
constexpr std::uint64_t CPU_ARCH_V6_M = 11, CPU_ARCH_V6S_M = 12, CPU_ARCH_V7E_M = 13, CPU_ARCH_V8_M_BASE = 16,
                        CPU_ARCH_V8_M_MAIN = 17, CPU_ARCH_V8_1_M_MAIN = 21;
constexpr std::uint64_t PROFILE_MICROCONTROLLER = 'M';
// Tag_ABI_VFP_args: where floating-point arguments and results are passed.
constexpr std::uint64_t VFP_ARGS_BASE = 0, VFP_ARGS_VFP = 1;

// The first word of a PLT header, where the linker points every jump slot for lazy binding:
// ARM state, and Thumb-2 as both linkers write it for M-profile cores.
constexpr std::uint32_t ARM_PLT_HEADER_FIRST_WORD = 0xe52de004;    // str lr, [sp, #-4]!
constexpr std::uint32_t THUMB2_PLT_HEADER_FIRST_WORD = 0xf8dfb500; // push {lr}; ldr.w lr, [pc, #N]

constexpr std::uint8_t elf32_st_type(std::uint8_t st_info) { return st_info & 0x0f; }
constexpr std::uint8_t elf32_r_type(std::uint32_t r_info) { return static_cast<std::uint8_t>(r_info); }
constexpr std::uint32_t elf32_r_sym(std::uint32_t r_info) { return r_info >> 8; }

// Magic 0x7F 'E' 'L' 'F' and class ELFCLASS32; nothing else is checked.
inline bool check_elf_header(image_view image)
{
    const auto ident = read_record<std::array<std::uint8_t, EI_CLASS + 1>>(image, 0);
    return ident && std::equal(ELFMAG.begin(), ELFMAG.end(), ident->begin()) && (*ident)[EI_CLASS] == ELFCLASS32;
}

// The section header table: e_shnum headers 40 bytes apart from e_shoff, whatever e_shentsize
// says; absent unless they lie inside the image. A table of no entries has nothing to read:
// wherever e_shoff points, it is not outside.
inline std::optional<record_table<Elf32_Shdr>> section_table(image_view image, const Elf32_Ehdr& ehdr)
{
    if (ehdr.e_shnum == 0)
        return record_table<Elf32_Shdr>{};
    return record_table<Elf32_Shdr>::at(image, ehdr.e_shoff, ehdr.e_shnum);
}

// The records of a section: sh_size / sizeof(Record) of them from sh_offset. Absent unless
// the section's sh_size bytes lie inside the image; a section of no bytes has none, wherever
// it points.
template <file_record Record>
std::optional<record_table<Record>> section_records(image_view image, const Elf32_Shdr& shdr)
{
    if (shdr.sh_size == 0)
        return record_table<Record>{};
    if (!range_inside(image.size(), shdr.sh_offset, shdr.sh_size))
        return std::nullopt;
    return record_table<Record>::at(image, shdr.sh_offset, shdr.sh_size / sizeof(Record));
}

// Symbol `index` of a symbol section, read where it lies; absent when the index is past the
// section's sh_size or the record is outside the image (the section as a whole need not be
// inside: only the records read are).
inline std::optional<Elf32_Sym> read_symbol(image_view image, const Elf32_Shdr& symtab, std::uint32_t index)
{
    if (index >= symtab.sh_size / sizeof(Elf32_Sym))
        return std::nullopt;
    return read_record<Elf32_Sym>(image, symtab.sh_offset + std::uint64_t{index} * sizeof(Elf32_Sym));
}

// The bytes of a section; absent unless they lie inside the image.
inline std::optional<image_view> section_contents(image_view image, const Elf32_Shdr& shdr)
{
    if (!range_inside(image.size(), shdr.sh_offset, shdr.sh_size))
        return std::nullopt;
    return image.subspan(shdr.sh_offset, shdr.sh_size);
}

// The name at `st_name` in the string section `strtab`, read in place: it ends at the first
// NUL, which must lie inside the image and within `max_scan` bytes.
inline std::optional<std::string_view> read_name(image_view image, const Elf32_Shdr& strtab, std::uint32_t st_name,
                                                 std::uint64_t max_scan = UINT64_MAX)
{
    return read_string(image, std::uint64_t{strtab.sh_offset} + st_name, max_scan);
}
