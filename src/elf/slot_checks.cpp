#include "elf/slot_checks.h"

#include "elf/link_symbols.h"
#include "elf/relocate.h"

#include <cstdio>
#include <limits>

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

bool at_its_address(const slot_rules& rules, const jump_slot& slot)
{
    const misplaced_section* m = misplaced_section_at(rules.misplaced, slot.r_offset);
    if (m == nullptr)
        return true;
    std::printf("relocate symbol %s failed: offset 0x%x lies in section %u, whose address 0x%x is not its file "
                "offset 0x%x\n",
                slot.name.data(), slot.r_offset, m->index, m->sh_addr, m->sh_offset);
    return false;
}

// What the linker left in the slot is the PLT header's address (see leads_to_arm_plt).
bool runnable_by_target(image_view image, slot_rules& rules, const jump_slot& slot)
{
    const std::uint32_t linked = *read_u32(image, slot.r_offset); // inside: checked first
    if (rules.target != core_profile::m_profile || !leads_to_arm_plt(image, linked))
        return true;
    if (!rules.arm_plt_reported)
        std::printf("linked image: the PLT at 0x%x is ARM code, which the link file's M-profile core cannot run: "
                    "link the module with GNU ld and an M-profile -mcpu, or with ld.lld 19 or later\n",
                    linked);
    rules.arm_plt_reported = true;
    return false;
}

} // namespace

std::optional<Elf32_Sym> slot_symbol(const image_walk& walk, const rel_section& rel, std::uint32_t j,
                                     std::uint32_t index)
{
    const std::optional<Elf32_Sym> sym = read_symbol(walk.image, rel.symtab, index);
    if (!sym)
        std::printf("%s: section %u relocation %u: symbol %u is outside symbol section %u\n", walk.input, rel.index,
                    j, index, rel.symtab_index);
    return sym;
}

std::optional<std::uint32_t> look_up_value(slot_lookups& lookups, const rel_section& rel, std::uint32_t j,
                                           std::string_view name)
{
    const void* found = nullptr;
    if (symbol_table != nullptr && symbol_table->bucket_count > 0)
        found = hash_table_lookup_at(symbol_table, hash_table_index(symbol_table, name), name, lookups.budget);
    if (found != nullptr)
        return referenced_st_value(found);
    if (!lookups.budget.exhausted) {
        std::printf("relocate symbol %s failed\n", name.data());
    } else if (!lookups.reported) {
        std::printf("linked image: section %u relocation %u: looking names up has cost more than %llu comparisons "
                    "(16 x the file's size + 256 Mi); no more names are looked up\n",
                    rel.index, j, static_cast<unsigned long long>(lookups.limit));
        lookups.reported = true;
    }
    return std::nullopt;
}

bool slot_writable(image_view image, slot_rules& rules, const jump_slot& slot)
{
    return inside_image(image, slot) && clear_of_magic(slot) && at_its_address(rules, slot) &&
           runnable_by_target(image, rules, slot);
}
