#include "elf/slot_checks.h"

#include <cstdio>

namespace {

bool inside_image(image_view image, const jump_slot& slot)
{
    if (range_inside(image.size(), slot.r_offset, sizeof(ul32)))
        return true;
    std::printf("relocate symbol %s failed: offset 0x%x is outside the image\n", slot.name.data(), slot.r_offset);
    return false;
}

// The magic is stamped before any slot is written; a slot over it would leave a module image
// that does not start with it.
bool clear_of_magic(const jump_slot& slot)
{
    if (slot.r_offset >= MODULE_MAGIC.size())
        return true;
    std::printf("relocate symbol %s failed: offset 0x%x overlaps the module magic\n", slot.name.data(), slot.r_offset);
    return false;
}

bool at_its_address(const module_walk& m, const jump_slot& slot)
{
    const misplaced_section* s = misplaced_section_at(m.misplaced, slot.r_offset);
    if (s == nullptr)
        return true;
    std::printf("relocate symbol %s failed: offset 0x%x lies in section %u, whose address 0x%x is not its file "
                "offset 0x%x\n",
                slot.name.data(), slot.r_offset, s->index, s->sh_addr, s->sh_offset);
    return false;
}

// Which PLTs a core runs: one with Thumb-2 and no ARM state, a Thumb-2 PLT; one of the Thumb-1
// kind, none that a linker writes (GNU ld refuses to write one, ld.lld writes ARM or Thumb-2).
bool core_runs(target_core core, plt_state plt)
{
    switch (core) {
    case target_core::any:
        return true;
    case target_core::thumb2_m:
        return plt != plt_state::arm;
    default:
        return plt == plt_state::unknown;
    }
}

// What the linker left in the slot is the PLT header's address (see plt_state_at).
bool runnable_by_target(module_walk& m, const jump_slot& slot)
{
    if (m.core == target_core::any)
        return true;
    const std::optional<std::uint32_t> linked = read_u32(m.walk.image, slot.r_offset);
    const plt_state plt = linked ? plt_state_at(m.walk.image, *linked) : plt_state::unknown;
    if (core_runs(m.core, plt))
        return true;
    if (m.plt_reported)
        return false;
    m.plt_reported = true;
    const std::uint32_t header = *linked & ~THUMB_BIT;
    if (m.core == target_core::thumb2_m)
        std::printf("%s: the PLT at 0x%x is ARM code, which the link file's M-profile core cannot run: link the "
                    "module with GNU ld and an M-profile -mcpu, or with ld.lld 19 or later\n",
                    LINKED_IMAGE, header);
    else
        std::printf("%s: the PLT at 0x%x is %s code, which the link file's %s core cannot run (no linker writes a "
                    "PLT it can): build the module without jump slots, reaching the target through function "
                    "pointers it hands the module\n",
                    LINKED_IMAGE, header, plt == plt_state::arm ? "ARM" : "Thumb-2", core_name(m.core));
    return false;
}

const char* float_args_name(float_args args)
{
    return args == float_args::vfp_registers ? "VFP registers (-mfloat-abi=hard)"
                                             : "core registers (-mfloat-abi=soft or softfp)";
}

} // namespace

std::optional<Elf32_Sym> slot_symbol(const module_walk& m, const rel_section& rel, std::uint32_t j,
                                     std::uint32_t symbol)
{
    const std::optional<Elf32_Sym> sym = read_symbol(m.walk.image, rel.symtab, symbol);
    if (!sym)
        std::printf("%s: section %u relocation %u: symbol %u is outside symbol section %u\n", LINKED_IMAGE,
                    rel.index, j, symbol, rel.symtab_index);
    return sym;
}

std::optional<std::uint32_t> look_up_value(module_walk& m, const rel_section& rel, std::uint32_t j,
                                           std::string_view name)
{
    const void* found = nullptr;
    if (m.functions != nullptr && m.functions->bucket_count > 0)
        found = hash_table_lookup_at(m.functions, hash_table_index(m.functions, name), name, m.lookups);
    if (found != nullptr)
        return record_at<Elf32_Sym>(found).st_value; // the table refers to the link file's records
    if (m.stripped_link_file && !m.stripped_reported) {
        m.stripped_reported = true;
        std::printf("%s: no symbol table section (SHT_SYMTAB), so no function to fill a slot with: it was "
                    "stripped; give the unstripped image (strip --strip-debug keeps the symbol table)\n",
                    LINK_FILE);
    }
    if (!m.lookups.exhausted) {
        std::printf("relocate symbol %s failed\n", name.data());
    } else if (!m.lookups_reported) {
        std::printf("%s: section %u relocation %u: looking names up has cost more than %llu comparisons (%llu x "
                    "the file's size + %llu Mi); no more names are looked up\n",
                    LINKED_IMAGE, rel.index, j, static_cast<unsigned long long>(lookup_limit(m.walk.image)),
                    static_cast<unsigned long long>(LOOKUP_FACTOR),
                    static_cast<unsigned long long>(LOOKUP_ALLOWANCE >> 20));
        m.lookups_reported = true;
    }
    return std::nullopt;
}

bool slot_writable(module_walk& m, const jump_slot& slot)
{
    return inside_image(m.walk.image, slot) && clear_of_magic(slot) && at_its_address(m, slot) &&
           runnable_by_target(m, slot);
}

bool float_args_agree(const build_attributes& target, const build_attributes& module)
{
    if (target.floats == float_args::unstated || module.floats == float_args::unstated ||
        target.floats == module.floats)
        return true;
    std::printf("%s: the module passes floating-point arguments in %s, the link file's target in %s: build the "
                "module with the target's -mfloat-abi\n",
                LINKED_IMAGE, float_args_name(module.floats), float_args_name(target.floats));
    return false;
}

plt_state plt_state_at(image_view image, std::uint32_t slot_value)
{
    const std::optional<std::uint32_t> first = read_u32(image, slot_value & ~THUMB_BIT);
    if ((slot_value & THUMB_BIT) == 0 && first == ARM_PLT_HEADER_FIRST_WORD)
        return plt_state::arm;
    if (first == THUMB2_PLT_HEADER_FIRST_WORD)
        return plt_state::thumb2;
    return plt_state::unknown;
}
