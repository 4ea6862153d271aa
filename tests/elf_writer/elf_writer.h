// A small ELF32 writer for tests, the benchmark's input generator and fuzz seeds, on the tool's
// own record declarations: section contents laid out after the ELF header (and the program
// headers, if any), 4-byte aligned, in the order they are added, then the section names when
// sections have any, and the section header table at the end. Also the accessors that patch
// one field of an image the way the hostile-input tests do.
#pragma once

#include "elf/elf32.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

using bytes = std::vector<std::uint8_t>;

// The ELF values and records that only a writer needs; those the tool reads are in elf32.h.
constexpr std::size_t EI_DATA = 5, EI_VERSION = 6;
constexpr std::uint8_t ELFDATA2LSB = 1, ELFDATA2MSB = 2, EV_CURRENT = 1;
constexpr std::uint16_t ET_EXEC = 2, ET_DYN = 3, EM_ARM = 40;
constexpr std::uint32_t EF_ARM_EABI_VER5 = 0x05000000, EF_ARM_ABI_FLOAT_SOFT = 0x200;
constexpr std::uint32_t SHT_NULL = 0, SHT_PROGBITS = 1, SHT_STRTAB = 3, SHT_RELA = 4, SHT_DYNAMIC = 6,
                        SHT_DYNSYM = 11;
constexpr std::uint32_t SHF_WRITE = 1, SHF_EXECINSTR = 4, SHF_INFO_LINK = 0x40;
constexpr std::uint16_t SHN_ABS = 0xfff1;
constexpr std::uint32_t PT_LOAD = 1, PT_DYNAMIC = 2;
constexpr std::uint32_t PF_X = 1, PF_W = 2, PF_R = 4;
constexpr std::uint32_t DT_NULL = 0;
constexpr std::uint8_t STB_LOCAL = 0, STB_GLOBAL = 1, STB_WEAK = 2;
constexpr std::uint8_t STT_NOTYPE = 0, STT_OBJECT = 1, STT_SECTION = 3, STT_FILE = 4;
constexpr std::uint8_t R_ARM_ABS32 = 2, R_ARM_GLOB_DAT = 21, R_ARM_RELATIVE = 23;

struct Elf32_Phdr {
    ul32 p_type, p_offset, p_vaddr, p_paddr, p_filesz, p_memsz, p_flags, p_align;
};
struct Elf32_Dyn {
    ul32 d_tag, d_val;
};
static_assert(sizeof(Elf32_Phdr) == 32 && offsetof(Elf32_Phdr, p_filesz) == 16 && offsetof(Elf32_Phdr, p_align) == 28);
static_assert(sizeof(Elf32_Dyn) == 8 && offsetof(Elf32_Dyn, d_val) == 4);

constexpr std::uint8_t elf32_st_info(std::uint8_t bind, std::uint8_t type)
{
    return static_cast<std::uint8_t>(bind << 4 | (type & 0x0f));
}
constexpr std::uint32_t elf32_r_info(std::uint32_t sym, std::uint8_t type) { return sym << 8 | type; }

// Records in and out of a byte vector; a record that does not fit throws std::out_of_range.
template <file_record Record>
Record get_record(const bytes& image, std::size_t at)
{
    const std::optional<Record> record = read_record<Record>(image_view{image.data(), image.size()}, at);
    if (!record)
        throw std::out_of_range("record outside the image");
    return *record;
}
template <file_record Record>
void put_record(bytes& image, std::size_t at, const Record& record)
{
    if (!range_inside(image.size(), at, sizeof record))
        throw std::out_of_range("record outside the image");
    std::memcpy(image.data() + at, &record, sizeof record);
}
// Appends a record; returns where it went.
template <file_record Record>
std::size_t append_record(bytes& image, const Record& record)
{
    const std::size_t at = image.size();
    image.resize(at + sizeof record);
    put_record(image, at, record);
    return at;
}

// The value a field holds: a little-endian field's number, or the byte itself.
template <typename Field>
struct field_value {
    using type = Field;
};
template <typename T>
struct field_value<little_endian<T>> {
    using type = T;
};

// One field of the record at `at`, read or changed in place.
template <file_record Record, typename Field>
typename field_value<Field>::type get_field(const bytes& image, std::size_t at, Field Record::*field)
{
    return get_record<Record>(image, at).*field;
}
template <file_record Record, typename Field>
void set_field(bytes& image, std::size_t at, Field Record::*field, typename field_value<Field>::type value)
{
    Record record = get_record<Record>(image, at);
    record.*field = value;
    put_record(image, at, record);
}

// A 32-bit little-endian word anywhere in an image.
inline std::uint32_t get_u32(const bytes& image, std::size_t at) { return get_record<ul32>(image, at); }
inline void put_u32(bytes& image, std::size_t at, std::uint32_t value) { put_record(image, at, ul32(value)); }

// Fields of the ELF header and of section header `index`, where e_shoff puts it.
template <typename Field>
typename field_value<Field>::type header_field(const bytes& image, Field Elf32_Ehdr::*field)
{
    return get_field(image, 0, field);
}
template <typename Field>
void set_header_field(bytes& image, Field Elf32_Ehdr::*field, typename field_value<Field>::type value)
{
    set_field(image, 0, field, value);
}
std::size_t section_header_at(const bytes& image, std::uint32_t index);
inline std::uint32_t section_field(const bytes& image, std::uint32_t index, ul32 Elf32_Shdr::*field)
{
    return get_field(image, section_header_at(image, index), field);
}
inline void set_section_field(bytes& image, std::uint32_t index, ul32 Elf32_Shdr::*field, std::uint32_t value)
{
    set_field(image, section_header_at(image, index), field, value);
}

Elf32_Sym elf32_symbol(std::uint32_t st_name, std::uint32_t value, std::uint32_t size, std::uint8_t info,
                       std::uint16_t shndx);

// A string table that keeps each distinct string once, as linkers write them; the empty
// string is the NUL at offset 0.
class string_table {
public:
    std::uint32_t add(const std::string& s);
    const bytes& contents() const { return strings_; }

private:
    bytes strings_{0};
    std::unordered_map<std::string, std::uint32_t> at_;
};

// A string table and a symbol table being built together; entry 0 of each is null.
struct symbol_builder {
    bytes strtab{0};
    bytes symtab = bytes(sizeof(Elf32_Sym), 0);

    std::uint32_t add_string(std::string_view name);
    // Adds a symbol in section 1; returns its index.
    std::uint32_t add(std::string_view name, std::uint32_t value,
                      std::uint8_t info = elf32_st_info(STB_GLOBAL, STT_FUNC));
    std::uint32_t add_raw(std::uint32_t st_name, std::uint32_t value, std::uint8_t info);
    // Adds a symbol as given; returns its index.
    std::uint32_t add_symbol(const Elf32_Sym& sym);
};

struct rel_builder {
    bytes rel;
    void add(std::uint32_t r_offset, std::uint8_t type, std::uint32_t symbol);
};

// The fields of a section header that the writer sets. A section with a name gets it in a
// .shstrtab that finish() adds.
struct section_layout {
    std::uint32_t type = SHT_NULL;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t link = 0;
    std::uint32_t flags = 0;
    std::uint32_t addr = 0;
    std::uint32_t info = 0;
    std::uint32_t addralign = 0;
    std::uint32_t entsize = 0;
    std::string name{}; // {}: GCC warns of a member left out of a designated initialiser without one
};

// The fields of the ELF header that differ between images.
struct header_layout {
    std::uint16_t type = ET_DYN;
    std::uint32_t entry = 0;
    std::uint32_t flags = 0;
    std::uint16_t program_headers = 0; // reserved right after the ELF header
};

class elf_writer {
public:
    explicit elf_writer(const header_layout& header = {});

    // Places `contents` and adds a section header for it; returns the section index.
    std::uint32_t add_section(std::uint32_t type, const bytes& contents, std::uint32_t link = 0);
    // The same with the other fields as given; offset and size are where the contents go.
    std::uint32_t add_section(section_layout layout, const bytes& contents);
    // File offset where the next section's contents will go.
    std::uint32_t next_offset() const { return static_cast<std::uint32_t>(image_.size()); }
    // Where contents of `size` bytes placed at `offset` leave the next ones.
    static std::uint32_t offset_after(std::uint32_t offset, std::uint32_t size) { return (offset + size + 3) & ~3u; }
    // Adds a section header with fields as given, no contents placed.
    std::uint32_t add_header(const section_layout& layout);
    std::uint32_t section_count() const { return static_cast<std::uint32_t>(sections_.size()); }
    // Sets one of the program headers reserved by the header layout.
    void set_program_header(std::uint16_t index, const Elf32_Phdr& phdr);

    bytes finish() const;

private:
    header_layout header_;
    bytes image_;
    std::vector<section_layout> sections_;
};

struct link_symbol {
    std::string name;
    std::uint32_t value;
    std::uint8_t info = elf32_st_info(STB_GLOBAL, STT_FUNC);
};

// A target-system image: one .symtab with its .strtab.
bytes make_link_file(const std::vector<link_symbol>& symbols);

struct module_import {
    std::string name;
    std::uint32_t value = 0; // nonzero for a symbol the module defines itself
    std::uint8_t type = R_ARM_JUMP_SLOT;
};

// A linked image: a .got area of one 4-byte slot per import (filled with 0xA5 bytes), a
// .dynsym/.dynstr holding the imports' symbols and a .rel.plt with one relocation per
// import, its r_offset the slot's file offset.
struct module_layout {
    bytes image;
    std::vector<std::uint32_t> slot_offsets;
    std::uint32_t rel_section = 0, dynsym_section = 0, dynstr_section = 0;
};
module_layout make_module(const std::vector<module_import>& imports);
