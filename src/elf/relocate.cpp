#include "elf/relocate.h"

#include "cli/debug_flag.h"
#include "elf/link_symbols.h"
#include "elf/section_walk.h"

#include <cstdio>

namespace {

constexpr const char* INPUT = "linked image";

// Fills the jump slots of REL section `index`, whose contents lie inside the image.
// Every record is read from the buffer as it stands when it is reached.
bool fill_slots(image_span image, const Elf32_Shdr& rel, const Elf32_Shdr& symtab, const Elf32_Shdr& strtab,
                std::uint32_t index, std::uint32_t symtab_index, walk_budget& budget)
{
    bool filled_all = true;
    const std::uint32_t count = relocation_count(rel);
    for (std::uint32_t j = 0; j < count; ++j) {
        const Elf32_Rel r = read_relocation(image, rel, j).value_or(Elf32_Rel{});
        if (elf32_r_type(r.r_info) != R_ARM_JUMP_SLOT)
            continue;
        const std::uint32_t sym_index = elf32_r_sym(r.r_info);
        const std::optional<Elf32_Sym> sym = read_symbol(image, symtab, sym_index);
        if (!sym) {
            std::printf("%s: section %u relocation %u: symbol %u is outside symbol section %u\n", INPUT, index,
                        j, sym_index, symtab_index);
            filled_all = false;
            continue;
        }
        if (sym->st_value != 0)
            continue;
        const std::optional<std::string_view> name =
            symbol_name(image, strtab, sym->st_name, symtab_index, sym_index, INPUT, budget);
        if (!name) {
            filled_all = false;
            continue;
        }
        const record_ref found = hash_table_lookup(symbol_table, name->data());
        if (found == nullptr) {
            std::printf("relocate symbol %s failed\n", name->data());
            filled_all = false;
            continue;
        }
        const std::uint32_t value = referenced_st_value(found);
        if (!range_inside(image.size(), r.r_offset, 4)) {
            std::printf("relocate symbol %s failed: offset 0x%x is outside the image\n", name->data(),
                        r.r_offset);
            filled_all = false;
            continue;
        }
        if (debug_flag == 1)
            std::printf("relocate symbol %s--0x%x\n", name->data(), value);
        write_u32(image, r.r_offset, value);
    }
    return filled_all;
}

} // namespace

int relocate_module(image_span image)
{
    if (!check_elf_header(image)) {
        std::fputs("check ELF header error\n", stdout);
        return 1;
    }
    write_bytes(image, 0, MODULE_MAGIC);
    const std::optional<Elf32_Ehdr> ehdr = open_section_table(image, INPUT);
    if (!ehdr)
        return 1;

    bool failed = false;
    walk_budget budget = make_walk_budget(image);
    for (std::uint32_t i = 0; i < ehdr->e_shnum; ++i) {
        const Elf32_Shdr rel = section_at(image, *ehdr, i);
        if (rel.sh_type != SHT_REL)
            continue;
        if (!contents_inside(image, rel, i, INPUT) || !take_contents(budget, image, rel, i, INPUT)) {
            failed = true;
            continue;
        }
        const std::optional<Elf32_Shdr> symtab = linked_section(image, *ehdr, i, rel.sh_link, INPUT);
        if (!symtab) {
            failed = true;
            continue;
        }
        const std::optional<Elf32_Shdr> strtab = linked_section(image, *ehdr, rel.sh_link, symtab->sh_link, INPUT);
        if (!strtab) {
            failed = true;
            continue;
        }
        if (!fill_slots(image, rel, *symtab, *strtab, i, rel.sh_link, budget))
            failed = true;
    }
    return failed ? 1 : 0;
}
