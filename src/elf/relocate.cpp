#include "elf/relocate.h"

#include "elf/slot_checks.h"
#include "elf/swapped_inputs.h"

#include <cstdio>

namespace {

// Relocation j of `rel`, taken as the buffer stands when it is reached (an earlier slot may
// have been written over it): when it is a jump slot whose symbol has no value, its slot in
// `image`, the buffer the walk reads, gets the value of the link file's function of that name.
// False when such a slot stays unfilled.
bool fill_slot(module_walk& m, image_span image, const rel_section& rel, std::uint32_t j)
{
    const Elf32_Rel r = rel.relocations[j];
    if (elf32_r_type(r.r_info) != R_ARM_JUMP_SLOT)
        return true;
    const std::uint32_t symbol = elf32_r_sym(r.r_info);
    const std::optional<Elf32_Sym> sym = slot_symbol(m, rel, j, symbol);
    if (!sym)
        return false;
    if (sym->st_value != 0) // the module's own: the slot keeps what the linker wrote
        return true;
    ++m.slots_to_fill;
    const std::optional<std::string_view> name =
        read_symbol_name(m.walk, rel.strtab, sym->st_name, {rel.symtab_index, symbol});
    if (!name)
        return false;
    const std::optional<std::uint32_t> value = look_up_value(m, rel, j, *name);
    if (!value)
        return false;
    const jump_slot slot{r.r_offset, *name, *value};
    if (!slot_writable(m, slot))
        return false;
    if (m.trace)
        std::printf("relocate symbol %s--0x%x\n", slot.name.data(), slot.value);
    write_u32(image, slot.r_offset, slot.value);
    return true;
}

// The slots of REL section `index`, relocation by relocation; false when any stays unfilled.
bool fill_section(module_walk& m, image_span image, std::uint32_t index, const Elf32_Shdr& section)
{
    const std::optional<record_table<Elf32_Rel>> relocations = walked_records<Elf32_Rel>(m.walk, index, section);
    if (!relocations)
        return false;
    const std::optional<Elf32_Shdr> symtab = linked_section(m.walk, index, section.sh_link);
    const std::optional<Elf32_Shdr> strtab =
        symtab ? linked_section(m.walk, section.sh_link, symtab->sh_link) : std::nullopt;
    if (!strtab)
        return false;

    const rel_section rel{index, *relocations, section.sh_link, *symtab, *strtab};
    bool filled_all = true;
    for (std::uint32_t j = 0; j < rel.relocations.size(); ++j)
        if (!fill_slot(m, image, rel, j))
            filled_all = false;
    return filled_all;
}

} // namespace

stage_result relocate_module(image_span linked_image, const module_stage_inputs& link)
{
    if (!identified(linked_image, LINKED_IMAGE))
        return stage_result::failed;
    // The magic goes in before the section table is opened and stays whatever follows: the
    // buffer goes from loaded to stamped to filled, and every record is read as the buffer
    // stands, so a section lying over the header reads the module magic, as the module image
    // will hold it. No slot may be written over it (see slot_writable).
    write_bytes(linked_image, 0, MODULE_MAGIC);
    const std::optional<image_walk> walk = open_walk(linked_image, LINKED_IMAGE);
    if (!walk)
        return stage_result::failed;

    module_walk m{.walk = *walk,
                  .functions = link.functions,
                  .lookups = {lookup_limit(linked_image)},
                  .misplaced = {},
                  .core = link.target.core,
                  .trace = link.trace,
                  .stripped_link_file = link.stripped};
    if (!find_misplaced_sections(m.walk.sections, m.misplaced)) {
        std::fputs("out of memory\n", stdout);
        return stage_result::failed; // "relocation failed" follows, as for every failed stage
    }
    // A whole-module refusal; the slots are still walked, so that every problem is said.
    bool filled_all = float_args_agree(link.target, read_build_attributes(linked_image, m.walk.sections));
    for (std::uint32_t i = 0; i < m.walk.sections.size(); ++i) {
        const Elf32_Shdr section = m.walk.sections[i];
        if (section.sh_type == SHT_REL && !fill_section(m, linked_image, i, section))
            filled_all = false;
    }
    if (filled_all && m.slots_to_fill == 0 && !inputs_in_order(link.image, linked_image))
        return stage_result::failed;
    return filled_all ? stage_result::ok : stage_result::failed;
}
