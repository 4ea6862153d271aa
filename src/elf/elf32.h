// ELF32 records as the tool reads them: decoded on demand from an image buffer, only the
// fields the tool consults, always little-endian whatever EI_DATA says. Every accessor
// yields nothing for a record that does not lie wholly inside the buffer.
#pragma once

#include "elf/image_bytes.h"

#include <cstdint>
#include <optional>
#include <string_view>

constexpr std::size_t ELF32_EHDR_SIZE = 52;
constexpr std::size_t ELF32_SHDR_SIZE = 40; // the stride of the section header table, whatever e_shentsize says
constexpr std::size_t ELF32_SYM_SIZE = 16;
constexpr std::size_t ELF32_REL_SIZE = 8;

constexpr std::size_t EI_CLASS = 4;
constexpr std::uint8_t ELFCLASS32 = 1;
constexpr std::uint32_t SHT_SYMTAB = 2;
constexpr std::uint32_t SHT_REL = 9;
constexpr std::uint32_t SHT_NOBITS = 8;
constexpr std::uint32_t SHT_ARM_ATTRIBUTES = 0x70000003;
constexpr std::uint32_t SHF_ALLOC = 2;
constexpr std::uint8_t STT_FUNC = 2;
constexpr std::uint8_t R_ARM_JUMP_SLOT = 22;

struct Elf32_Ehdr {
    std::uint32_t e_shoff;
    std::uint16_t e_shnum;
};

struct Elf32_Shdr {
    std::uint32_t sh_type;
    std::uint32_t sh_offset;
    std::uint32_t sh_size;
    std::uint32_t sh_link;
    // Read only to tell whether a jump slot's address is also its file offset.
    std::uint32_t sh_flags = 0;
    std::uint32_t sh_addr = 0;
};

struct Elf32_Sym {
    std::uint32_t st_name;
    std::uint32_t st_value;
    std::uint8_t st_info;
};

struct Elf32_Rel {
    std::uint32_t r_offset;
    std::uint32_t r_info;
};

constexpr std::uint8_t elf32_st_type(std::uint8_t st_info) { return st_info & 0x0f; }
constexpr std::uint8_t elf32_r_type(std::uint32_t r_info) { return static_cast<std::uint8_t>(r_info); }
constexpr std::uint32_t elf32_r_sym(std::uint32_t r_info) { return r_info >> 8; }

// Magic 0x7F 'E' 'L' 'F' and class ELFCLASS32; nothing else is checked.
bool check_elf_header(image_view image);

// The ELF header; absent when the image is shorter than its 52 bytes.
std::optional<Elf32_Ehdr> read_elf_header(image_view image);

// True when all e_shnum headers, 40 bytes apart from e_shoff, lie inside the image.
bool section_table_inside(image_view image, const Elf32_Ehdr& ehdr);

// Section header `index`; absent when index >= e_shnum or the header is outside the image.
std::optional<Elf32_Shdr> read_section_header(image_view image, const Elf32_Ehdr& ehdr,
                                              std::uint32_t index);

// True when sh_offset + sh_size lies inside the image.
bool section_contents_inside(image_view image, const Elf32_Shdr& shdr);

constexpr std::uint32_t symbol_count(const Elf32_Shdr& symtab) { return symtab.sh_size / ELF32_SYM_SIZE; }
constexpr std::uint32_t relocation_count(const Elf32_Shdr& rel) { return rel.sh_size / ELF32_REL_SIZE; }

// The contents of a section; absent unless sh_offset + sh_size lies inside the image.
std::optional<image_view> section_contents(image_view image, const Elf32_Shdr& shdr);

// The fields of a symbol record.
constexpr Elf32_Sym decode_symbol(fixed_record<ELF32_SYM_SIZE> sym)
{
    return Elf32_Sym{field_u32<0>(sym), field_u32<4>(sym), field_u8<12>(sym)};
}

// Symbol `index` of a symbol section; absent when index >= symbol_count or the record is
// outside the image.
std::optional<Elf32_Sym> read_symbol(image_view image, const Elf32_Shdr& symtab, std::uint32_t index);

// A reference to symbol `index`'s record, for keeping in the symbol table; nullptr where
// read_symbol would give nothing. `referenced_st_value` reads st_value back from it.
record_ref symbol_record(image_view image, const Elf32_Shdr& symtab, std::uint32_t index);
std::uint32_t referenced_st_value(record_ref symbol);

// Relocation `index` of a REL section; absent when index >= relocation_count or the
// record is outside the image.
std::optional<Elf32_Rel> read_relocation(image_view image, const Elf32_Shdr& rel, std::uint32_t index);

// The name at `st_name` in the string section `strtab` (read in place; it ends at the first
// NUL, which must lie inside the image and within `max_scan` bytes).
std::optional<std::string_view> read_name(image_view image, const Elf32_Shdr& strtab,
                                          std::uint32_t st_name, std::uint64_t max_scan = UINT64_MAX);
