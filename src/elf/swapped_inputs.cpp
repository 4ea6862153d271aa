#include "elf/swapped_inputs.h"

#include "elf/walk.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

namespace {

// One file, read without a line printed and within what a walk may spend (see budgets.h).
struct quiet_walk {
    image_view image;
    record_table<Elf32_Shdr> sections;
    walk_budget budget;
};

// Section `index`'s records and the section its sh_link names.
template <file_record Record>
bool records_and_link(quiet_walk& w, std::uint32_t index, record_table<Record>& records, Elf32_Shdr& link)
{
    const Elf32_Shdr section = w.sections[index];
    const std::optional<record_table<Record>> found = section_records<Record>(w.image, section);
    if (!found || section.sh_size > w.budget.contents_left || section.sh_link >= w.sections.size())
        return false;
    w.budget.contents_left -= section.sh_size;
    records = *found;
    link = w.sections[section.sh_link];
    return true;
}

std::optional<std::string_view> name_of(quiet_walk& w, const Elf32_Shdr& strtab, std::uint32_t st_name)
{
    const std::optional<std::string_view> name = read_name(w.image, strtab, st_name, w.budget.names_left);
    if (!name || !(name->size() < w.budget.names_left))
        return std::nullopt;
    w.budget.names_left -= name->size() + 1;
    return name;
}

// The names that jump slots import (symbols without a value), sorted, each once.
bool imported_names(quiet_walk& w, std::vector<std::string_view>& names)
{
    for (std::uint32_t i = 0; i < w.sections.size(); ++i) {
        record_table<Elf32_Rel> relocations;
        Elf32_Shdr symtab;
        if (w.sections[i].sh_type != SHT_REL)
            continue;
        if (!records_and_link(w, i, relocations, symtab) || symtab.sh_link >= w.sections.size())
            return false;
        for (std::uint32_t j = 0; j < relocations.size(); ++j) {
            const Elf32_Rel r = relocations[j];
            const std::optional<Elf32_Sym> sym = read_symbol(w.image, symtab, elf32_r_sym(r.r_info));
            if (elf32_r_type(r.r_info) != R_ARM_JUMP_SLOT || (sym && sym->st_value != 0))
                continue;
            const std::optional<std::string_view> name =
                sym ? name_of(w, w.sections[symtab.sh_link], sym->st_name) : std::nullopt;
            if (!name)
                return false;
            names.push_back(*name);
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return true;
}

// True when each of `names` is a function of the symbol table sections.
bool all_defined(quiet_walk& w, const std::vector<std::string_view>& names)
{
    std::vector<bool> defined(names.size());
    for (std::uint32_t i = 0; i < w.sections.size(); ++i) {
        record_table<Elf32_Sym> symbols;
        Elf32_Shdr strtab;
        if (w.sections[i].sh_type != SHT_SYMTAB || !records_and_link(w, i, symbols, strtab))
            continue;
        for (std::uint32_t j = 0; j < symbols.size(); ++j) {
            const Elf32_Sym sym = symbols[j];
            if (elf32_st_type(sym.st_info) != STT_FUNC || sym.st_shndx == SHN_UNDEF)
                continue;
            const std::optional<std::string_view> name = name_of(w, strtab, sym.st_name);
            const auto at = name ? std::lower_bound(names.begin(), names.end(), *name) : names.end();
            if (at != names.end() && *at == *name)
                defined[static_cast<std::size_t>(at - names.begin())] = true;
        }
    }
    return std::find(defined.begin(), defined.end(), false) == defined.end();
}

// The linked image is read as the module stage left it, stamped with the module magic.
std::optional<quiet_walk> quiet_walk_of(image_view image)
{
    const std::optional<Elf32_Ehdr> ehdr = read_record<Elf32_Ehdr>(image, 0);
    const std::optional<record_table<Elf32_Shdr>> sections = ehdr ? section_table(image, *ehdr) : std::nullopt;
    if (!sections)
        return std::nullopt;
    return quiet_walk{image, *sections, make_walk_budget(image)};
}

bool looks_swapped(image_view link_file, image_view linked_image)
{
    std::optional<quiet_walk> link = check_elf_header(link_file) ? quiet_walk_of(link_file) : std::nullopt;
    std::optional<quiet_walk> module = quiet_walk_of(linked_image);
    try {
        std::vector<std::string_view> names;
        return link && module && imported_names(*link, names) && !names.empty() && all_defined(*module, names);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

bool inputs_in_order(image_view link_file, image_view linked_image)
{
    if (!looks_swapped(link_file, linked_image))
        return true;
    std::printf("%s: no jump slot to fill, while the link file has jump slots for functions the linked image "
                "defines: the two inputs look swapped; give the target system's image with -l and the module "
                "last\n",
                LINKED_IMAGE);
    return false;
}
