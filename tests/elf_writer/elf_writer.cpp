#include "elf_writer.h"

#include <algorithm>

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
    const auto index = static_cast<std::uint32_t>(symtab.size() / sizeof(Elf32_Sym));
    Elf32_Sym sym{};
    sym.st_name = st_name;
    sym.st_value = value;
    sym.st_info = info;
    sym.st_shndx = 1; // some defined section
    symtab.resize(symtab.size() + sizeof sym);
    put_record(symtab, symtab.size() - sizeof sym, sym);
    return index;
}

void rel_builder::add(std::uint32_t r_offset, std::uint8_t type, std::uint32_t symbol)
{
    Elf32_Rel r{};
    r.r_offset = r_offset;
    r.r_info = elf32_r_info(symbol, type);
    rel.resize(rel.size() + sizeof r);
    put_record(rel, rel.size() - sizeof r, r);
}

elf_writer::elf_writer() : image_(sizeof(Elf32_Ehdr), 0), sections_{section_layout{}} {}

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
    Elf32_Ehdr h{};
    std::copy(ELFMAG.begin(), ELFMAG.end(), h.e_ident.begin());
    h.e_ident[EI_CLASS] = ELFCLASS32;
    h.e_ident[EI_DATA] = ELFDATA2LSB;
    h.e_ident[EI_VERSION] = EV_CURRENT;
    h.e_type = ET_DYN;
    h.e_machine = EM_ARM;
    h.e_version = EV_CURRENT;
    h.e_ehsize = sizeof(Elf32_Ehdr);
    h.e_shentsize = sizeof(Elf32_Shdr);
    h.e_shoff = static_cast<std::uint32_t>(out.size());
    h.e_shnum = static_cast<std::uint16_t>(sections_.size());
    put_record(out, 0, h);
    for (const section_layout& s : sections_) {
        Elf32_Shdr shdr{};
        shdr.sh_type = s.type;
        shdr.sh_offset = s.offset;
        shdr.sh_size = s.size;
        shdr.sh_link = s.link;
        shdr.sh_flags = s.flags;
        shdr.sh_addr = s.addr;
        out.resize(out.size() + sizeof shdr);
        put_record(out, out.size() - sizeof shdr, shdr);
    }
    return out;
}

std::size_t section_header_at(const bytes& image, std::uint32_t index)
{
    return header_field(image, &Elf32_Ehdr::e_shoff) + sizeof(Elf32_Shdr) * std::size_t{index};
}

bytes make_link_file(const std::vector<link_symbol>& symbols)
{
    symbol_builder syms;
    for (const link_symbol& s : symbols)
        syms.add(s.name, s.value, s.info);
    elf_writer w;
    w.add_section(SHT_PROGBITS, bytes(64, 0xcc)); // .text
    const std::uint32_t strtab = w.add_section(SHT_STRTAB, syms.strtab);
    w.add_section(SHT_SYMTAB, syms.symtab, strtab);
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
    w.add_section(SHT_PROGBITS, bytes(sizeof(ul32) * (imports.size() + 1), 0xa5));
    m.dynstr_section = w.add_section(SHT_STRTAB, syms.strtab);
    m.dynsym_section = w.add_section(SHT_DYNSYM, syms.symtab, m.dynstr_section);
    rel_builder rel;
    for (std::size_t k = 0; k < imports.size(); ++k) {
        m.slot_offsets.push_back(got + static_cast<std::uint32_t>(sizeof(ul32) * k));
        rel.add(m.slot_offsets.back(), imports[k].type, indices[k]);
    }
    m.rel_section = w.add_section(SHT_REL, rel.rel, m.dynsym_section);
    m.image = w.finish();
    return m;
}
