#include "elf_writer.h"

void put_u16(bytes& out, std::size_t at, std::uint16_t value)
{
    out.at(at) = static_cast<std::uint8_t>(value);
    out.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void put_u32(bytes& out, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_u32(const bytes& in, std::size_t at)
{
    return static_cast<std::uint32_t>(in.at(at)) | static_cast<std::uint32_t>(in.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(in.at(at + 2)) << 16 | static_cast<std::uint32_t>(in.at(at + 3)) << 24;
}

std::uint32_t symbol_builder::add_string(std::string_view name)
{
    const auto at = static_cast<std::uint32_t>(strtab.size());
    strtab.insert(strtab.end(), name.begin(), name.end());
    strtab.push_back(0);
    return at;
}

std::uint32_t symbol_builder::add(std::string_view name, std::uint32_t value, std::uint8_t info)
{
    return add_raw(add_string(name), value, info);
}

std::uint32_t symbol_builder::add_raw(std::uint32_t st_name, std::uint32_t value, std::uint8_t info)
{
    const auto index = static_cast<std::uint32_t>(symtab.size() / 16);
    const std::size_t at = symtab.size();
    symtab.resize(at + 16, 0);
    put_u32(symtab, at, st_name);
    put_u32(symtab, at + 4, value);
    symtab[at + 12] = info;
    put_u16(symtab, at + 14, 1); // st_shndx: some defined section
    return index;
}

void rel_builder::add(std::uint32_t r_offset, std::uint8_t type, std::uint32_t symbol)
{
    const std::size_t at = rel.size();
    rel.resize(at + 8, 0);
    put_u32(rel, at, r_offset);
    put_u32(rel, at + 4, symbol << 8 | type);
}

elf_writer::elf_writer() : image_(52, 0), sections_{section_layout{}} {}

std::uint32_t elf_writer::add_section(std::uint32_t type, const bytes& contents, std::uint32_t link)
{
    const std::uint32_t offset = next_offset();
    image_.insert(image_.end(), contents.begin(), contents.end());
    image_.resize((image_.size() + 3) & ~std::size_t{3}, 0);
    return add_header({type, offset, static_cast<std::uint32_t>(contents.size()), link});
}

std::uint32_t elf_writer::add_header(const section_layout& layout)
{
    sections_.push_back(layout);
    return static_cast<std::uint32_t>(sections_.size() - 1);
}

bytes elf_writer::finish() const
{
    bytes out = image_;
    const std::uint8_t ident[] = {0x7f, 'E', 'L', 'F', 1, 1, 1};
    std::copy(std::begin(ident), std::end(ident), out.begin());
    put_u16(out, 16, 3);  // e_type ET_DYN
    put_u16(out, 18, 40); // e_machine EM_ARM
    put_u32(out, 20, 1);
    put_u16(out, 40, 52);
    put_u16(out, 46, 40); // e_shentsize
    put_u32(out, E_SHOFF, static_cast<std::uint32_t>(out.size()));
    put_u16(out, E_SHNUM, static_cast<std::uint16_t>(sections_.size()));
    for (const section_layout& s : sections_) {
        const std::size_t at = out.size();
        out.resize(at + 40, 0);
        put_u32(out, at + SH_TYPE, s.type);
        put_u32(out, at + SH_OFFSET, s.offset);
        put_u32(out, at + SH_SIZE, s.size);
        put_u32(out, at + SH_LINK, s.link);
        put_u32(out, at + SH_FLAGS, s.flags);
        put_u32(out, at + SH_ADDR, s.addr);
    }
    return out;
}

std::size_t section_header_at(const bytes& image, std::uint32_t index)
{
    return get_u32(image, E_SHOFF) + 40 * std::size_t{index};
}

bytes make_link_file(const std::vector<link_symbol>& symbols)
{
    symbol_builder syms;
    for (const link_symbol& s : symbols)
        syms.add(s.name, s.value, s.info);
    elf_writer w;
    w.add_section(SHT_PROGBITS_, bytes(64, 0xcc)); // .text
    const std::uint32_t strtab = w.add_section(SHT_STRTAB_, syms.strtab);
    w.add_section(SHT_SYMTAB_, syms.symtab, strtab);
    return w.finish();
}

module_layout make_module(const std::vector<module_import>& imports)
{
    module_layout m;
    symbol_builder syms;
    std::vector<std::uint32_t> indices;
    for (const module_import& imp : imports)
        indices.push_back(syms.add(imp.name, imp.value));
    elf_writer w;
    const std::uint32_t got = w.next_offset();
    w.add_section(SHT_PROGBITS_, bytes(4 * imports.size() + 4, 0xa5));
    m.dynstr_section = w.add_section(SHT_STRTAB_, syms.strtab);
    m.dynsym_section = w.add_section(SHT_DYNSYM_, syms.symtab, m.dynstr_section);
    rel_builder rel;
    for (std::size_t k = 0; k < imports.size(); ++k) {
        m.slot_offsets.push_back(got + 4 * static_cast<std::uint32_t>(k));
        rel.add(m.slot_offsets.back(), imports[k].type, indices[k]);
    }
    m.rel_section = w.add_section(SHT_REL_, rel.rel, m.dynsym_section);
    m.image = w.finish();
    return m;
}
