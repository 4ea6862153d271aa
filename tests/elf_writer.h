// A small ELF32 writer for tests: section contents laid out after a 52-byte header,
// 4-byte aligned, in the order they are added, and the section header table at the end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using bytes = std::vector<std::uint8_t>;

void put_u16(bytes& out, std::size_t at, std::uint16_t value);
void put_u32(bytes& out, std::size_t at, std::uint32_t value);
std::uint32_t get_u32(const bytes& in, std::size_t at);

constexpr std::uint8_t STB_LOCAL = 0, STB_GLOBAL = 1, STB_WEAK = 2;
constexpr std::uint8_t STT_NOTYPE_ = 0, STT_OBJECT_ = 1, STT_FUNC_ = 2, STT_SECTION_ = 3, STT_FILE_ = 4;
constexpr std::uint8_t symbol_info(std::uint8_t bind, std::uint8_t type) { return static_cast<std::uint8_t>(bind << 4 | type); }

// A string table and a symbol table being built together; entry 0 of each is null.
struct symbol_builder {
    bytes strtab{0};
    bytes symtab = bytes(16, 0);

    std::uint32_t add_string(std::string_view name);
    // Adds a symbol; returns its index.
    std::uint32_t add(std::string_view name, std::uint32_t value,
                      std::uint8_t info = symbol_info(STB_GLOBAL, STT_FUNC_));
    std::uint32_t add_raw(std::uint32_t st_name, std::uint32_t value, std::uint8_t info);
};

struct rel_builder {
    bytes rel;
    void add(std::uint32_t r_offset, std::uint8_t type, std::uint32_t symbol);
};

struct section_layout {
    std::uint32_t type = 0;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t link = 0;
    std::uint32_t flags = 0;
    std::uint32_t addr = 0;
};

class elf_writer {
public:
    elf_writer();

    // Places `contents` and adds a section header for it; returns the section index.
    std::uint32_t add_section(std::uint32_t type, const bytes& contents, std::uint32_t link = 0);
    // File offset where the next section's contents will go.
    std::uint32_t next_offset() const { return static_cast<std::uint32_t>(image_.size()); }
    // Adds a section header with fields as given, no contents placed.
    std::uint32_t add_header(const section_layout& layout);
    std::uint32_t section_count() const { return static_cast<std::uint32_t>(sections_.size()); }

    bytes finish() const;

private:
    bytes image_;
    std::vector<section_layout> sections_;
};

constexpr std::uint32_t SHT_PROGBITS_ = 1, SHT_SYMTAB_ = 2, SHT_STRTAB_ = 3, SHT_RELA_ = 4, SHT_REL_ = 9,
                        SHT_DYNSYM_ = 11;
constexpr std::uint8_t R_ARM_ABS32_ = 2, R_ARM_GLOB_DAT_ = 21, R_ARM_JUMP_SLOT_ = 22, R_ARM_RELATIVE_ = 23;

// Offsets of the ELF header and section header fields the tool reads.
constexpr std::size_t E_SHOFF = 32, E_SHNUM = 48, SH_TYPE = 4, SH_FLAGS = 8, SH_ADDR = 12, SH_OFFSET = 16, SH_SIZE = 20,
                      SH_LINK = 24;
std::size_t section_header_at(const bytes& image, std::uint32_t index);

struct link_symbol {
    std::string name;
    std::uint32_t value;
    std::uint8_t info = symbol_info(STB_GLOBAL, STT_FUNC_);
};

// A target-system image: one .symtab with its .strtab.
bytes make_link_file(const std::vector<link_symbol>& symbols);

struct module_import {
    std::string name;
    std::uint32_t value = 0; // nonzero for a symbol the module defines itself
    std::uint8_t type = R_ARM_JUMP_SLOT_;
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
