#include "elf_writer.h"

#include <algorithm>

Elf32_Sym elf32_symbol(std::uint32_t st_name, std::uint32_t value, std::uint32_t size, std::uint8_t info,
                       std::uint16_t shndx)
{
    return {.st_name = st_name, .st_value = value, .st_size = size, .st_info = info, .st_other = 0, .st_shndx = shndx};
}

std::uint32_t string_table::add(const std::string& s)
{
    if (s.empty())
        return 0;
    const auto [it, fresh] = at_.try_emplace(s, static_cast<std::uint32_t>(strings_.size()));
    if (fresh) {
        strings_.insert(strings_.end(), s.begin(), s.end());
        strings_.push_back(0);
    }
    return it->second;
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
    return add_symbol(elf32_symbol(st_name, value, 0, info, 1)); // some defined section
}

std::uint32_t symbol_builder::add_symbol(const Elf32_Sym& sym)
{
    return static_cast<std::uint32_t>(append_record(symtab, sym) / sizeof sym);
}

void rel_builder::add(std::uint32_t r_offset, std::uint8_t type, std::uint32_t symbol)
{
    append_record(rel, Elf32_Rel{.r_offset = r_offset, .r_info = elf32_r_info(symbol, type)});
}

elf_writer::elf_writer(const header_layout& header)
    : header_(header), image_(sizeof(Elf32_Ehdr) + sizeof(Elf32_Phdr) * header.program_headers, 0),
      sections_{section_layout{}}
{
}

std::uint32_t elf_writer::add_section(std::uint32_t type, const bytes& contents, std::uint32_t link)
{
    return add_section(section_layout{.type = type, .link = link}, contents);
}

std::uint32_t elf_writer::add_section(section_layout layout, const bytes& contents)
{
    layout.offset = next_offset();
    layout.size = static_cast<std::uint32_t>(contents.size());
    image_.insert(image_.end(), contents.begin(), contents.end());
    image_.resize(offset_after(layout.offset, layout.size), 0);
    return add_header(layout);
}

void elf_writer::set_program_header(std::uint16_t index, const Elf32_Phdr& phdr)
{
    if (index >= header_.program_headers)
        throw std::out_of_range("program header not reserved");
    put_record(image_, sizeof(Elf32_Ehdr) + sizeof(Elf32_Phdr) * std::size_t{index}, phdr);
}

std::uint32_t elf_writer::add_header(const section_layout& layout)
{
    sections_.push_back(layout);
    return static_cast<std::uint32_t>(sections_.size() - 1);
}

bytes elf_writer::finish() const
{
    bytes out = image_;
    std::vector<section_layout> sections = sections_;
    const bool named =
        std::any_of(sections.begin(), sections.end(), [](const section_layout& s) { return !s.name.empty(); });
    std::vector<std::uint32_t> names;
    if (named) {
        sections.push_back({.type = SHT_STRTAB, .offset = static_cast<std::uint32_t>(out.size()), .addralign = 1,
                            .name = ".shstrtab"});
        string_table shstrtab;
        for (const section_layout& s : sections)
            names.push_back(shstrtab.add(s.name));
        sections.back().size = static_cast<std::uint32_t>(shstrtab.contents().size());
        out.insert(out.end(), shstrtab.contents().begin(), shstrtab.contents().end());
        out.resize(offset_after(sections.back().offset, sections.back().size), 0);
    }

    const bool segments = header_.program_headers != 0;
    Elf32_Ehdr h{.e_ident = {ELFMAG[0], ELFMAG[1], ELFMAG[2], ELFMAG[3], ELFCLASS32, ELFDATA2LSB, EV_CURRENT},
                 .e_type = header_.type,
                 .e_machine = EM_ARM,
                 .e_version = EV_CURRENT,
                 .e_entry = header_.entry,
                 .e_phoff = segments ? sizeof(Elf32_Ehdr) : 0,
                 .e_shoff = static_cast<std::uint32_t>(out.size()),
                 .e_flags = header_.flags,
                 .e_ehsize = sizeof(Elf32_Ehdr),
                 .e_phentsize = segments ? sizeof(Elf32_Phdr) : 0,
                 .e_phnum = header_.program_headers,
                 .e_shentsize = sizeof(Elf32_Shdr),
                 .e_shnum = static_cast<std::uint16_t>(sections.size()),
                 .e_shstrndx = static_cast<std::uint16_t>(named ? sections.size() - 1 : 0)};
    put_record(out, 0, h);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const section_layout& s = sections[i];
        append_record(out, Elf32_Shdr{.sh_name = named ? names[i] : 0,
                                      .sh_type = s.type,
                                      .sh_flags = s.flags,
                                      .sh_addr = s.addr,
                                      .sh_offset = s.offset,
                                      .sh_size = s.size,
                                      .sh_link = s.link,
                                      .sh_info = s.info,
                                      .sh_addralign = s.addralign,
                                      .sh_entsize = s.entsize});
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
