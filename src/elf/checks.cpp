#include "elf/checks.h"

#include "elf/link_symbols.h"
#include "elf/relocate.h"

#include <cstdio>

std::optional<image_walk> open_walk(image_view image, const char* input)
{
    const std::optional<Elf32_Ehdr> ehdr = read_record<Elf32_Ehdr>(image, 0);
    if (!ehdr) {
        std::printf("%s: ELF header is truncated (%zu bytes, the header takes %zu)\n", input, image.size(),
                    sizeof(Elf32_Ehdr));
        return std::nullopt;
    }
    const std::optional<record_table<Elf32_Shdr>> sections = section_table(image, *ehdr);
    if (!sections) {
        std::printf("%s: section header table at 0x%x with %u entries is outside the file (%zu bytes)\n", input,
                    unsigned{ehdr->e_shoff}, unsigned{ehdr->e_shnum}, image.size());
        return std::nullopt;
    }
    return image_walk{image, input, *sections, make_walk_budget(image)};
}

bool contents_inside(const image_walk& walk, std::uint32_t index, const Elf32_Shdr& section)
{
    if (section.sh_size == 0 || range_inside(walk.image.size(), section.sh_offset, section.sh_size))
        return true;
    std::printf("%s: section %u: sh_offset 0x%x + sh_size 0x%x is outside the file (%zu bytes)\n", walk.input,
                index, unsigned{section.sh_offset}, unsigned{section.sh_size}, walk.image.size());
    return false;
}

bool admit_section(image_walk& walk, std::uint32_t index, const Elf32_Shdr& section)
{
    if (!contents_inside(walk, index, section))
        return false;
    if (section.sh_size <= walk.budget.contents_left) {
        walk.budget.contents_left -= section.sh_size;
        return true;
    }
    std::printf("%s: section %u: sh_size 0x%x would make the sections walked so far larger than the file "
                "(%zu bytes); they overlap\n",
                walk.input, index, unsigned{section.sh_size}, walk.image.size());
    return false;
}

std::optional<Elf32_Shdr> linked_section(const image_walk& walk, std::uint32_t from, std::uint32_t sh_link)
{
    if (sh_link < walk.sections.size())
        return walk.sections[sh_link];
    std::printf("%s: section %u: sh_link %u names no section (e_shnum %u)\n", walk.input, from, sh_link,
                walk.sections.size());
    return std::nullopt;
}

symbol_name read_symbol_name(image_walk& walk, const Elf32_Shdr& strtab, std::uint32_t st_name)
{
    walk_budget& budget = walk.budget;
    if (budget.names_left == 0)
        return {std::nullopt, name_problem::budget_spent, st_name};
    const std::optional<std::string_view> text = read_name(walk.image, strtab, st_name, budget.names_left);
    if (text) {
        budget.names_left -= text->size() + 1;
        return {text, name_problem::none, st_name};
    }
    const std::uint64_t start = std::uint64_t{strtab.sh_offset} + st_name;
    const std::uint64_t scanned = start < walk.image.size() ? walk.image.size() - start : 0;
    if (scanned > budget.names_left) {
        budget.names_left = 0;
        return {std::nullopt, name_problem::over_budget, st_name};
    }
    budget.names_left -= scanned;
    return {std::nullopt, scanned != 0 ? name_problem::no_nul : name_problem::outside, st_name};
}

void report_symbol_name(const image_walk& walk, const symbol_name& name, std::uint32_t section, std::uint32_t symbol)
{
    switch (name.problem) {
    case name_problem::none:
    case name_problem::budget_spent: // said once, when it ran out
        return;
    case name_problem::over_budget:
        std::printf("%s: section %u symbol %u: the names read take more than %llu bytes (the file's size + "
                    "%llu MiB); no more names are read\n",
                    walk.input, section, symbol, static_cast<unsigned long long>(walk.image.size() + NAME_ALLOWANCE),
                    static_cast<unsigned long long>(NAME_ALLOWANCE >> 20));
        return;
    case name_problem::no_nul:
    case name_problem::outside:
        std::printf("%s: section %u symbol %u: name at st_name 0x%x %s\n", walk.input, section, symbol, name.st_name,
                    name.problem == name_problem::no_nul ? "runs to the end of the file without a NUL"
                                                         : "is outside the file");
        return;
    }
}

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

// Which PLTs a core runs: one with Thumb-2 and no ARM state, a Thumb-2 PLT; one of the Thumb-1
// kind, none that a linker writes (GNU ld refuses to write one, ld.lld writes ARM or Thumb-2).
bool core_runs(target_core core, plt_code plt)
{
    switch (core) {
    case target_core::any:
        return true;
    case target_core::thumb2_m:
        return plt != plt_code::arm;
    default:
        return plt == plt_code::unknown;
    }
}

// What the linker left in the slot is the PLT header's address (see plt_code_at).
bool runnable_by_target(image_view image, slot_rules& rules, const jump_slot& slot)
{
    if (rules.core == target_core::any)
        return true;
    const std::optional<std::uint32_t> linked = read_u32(image, slot.r_offset);
    const plt_code plt = linked ? plt_code_at(image, *linked) : plt_code::unknown;
    if (core_runs(rules.core, plt))
        return true;
    const std::uint32_t header = *linked & ~THUMB_BIT;
    if (rules.plt_reported)
        return false;
    rules.plt_reported = true;
    if (rules.core == target_core::thumb2_m)
        std::printf("%s: the PLT at 0x%x is ARM code, which the link file's M-profile core cannot run: link the "
                    "module with GNU ld and an M-profile -mcpu, or with ld.lld 19 or later\n",
                    LINKED_IMAGE, header);
    else
        std::printf("%s: the PLT at 0x%x is %s code, which the link file's %s core cannot run (no linker writes a "
                    "PLT it can): build the module without jump slots, reaching the target through function "
                    "pointers it hands the module\n",
                    LINKED_IMAGE, header, plt == plt_code::arm ? "ARM" : "Thumb-2", core_name(rules.core));
    return false;
}

const char* float_args_name(float_args args)
{
    return args == float_args::vfp_registers ? "VFP registers (-mfloat-abi=hard)"
                                             : "core registers (-mfloat-abi=soft or softfp)";
}

} // namespace

std::optional<Elf32_Sym> slot_symbol(const image_walk& walk, const rel_section& rel, std::uint32_t j,
                                     std::uint32_t symbol)
{
    const std::optional<Elf32_Sym> sym = read_symbol(walk.image, rel.symtab, symbol);
    if (!sym)
        std::printf("%s: section %u relocation %u: symbol %u is outside symbol section %u\n", walk.input, rel.index,
                    j, symbol, rel.symtab_index);
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
        std::printf("%s: section %u relocation %u: looking names up has cost more than %llu comparisons (%llu x "
                    "the file's size + %llu Mi); no more names are looked up\n",
                    LINKED_IMAGE, rel.index, j, static_cast<unsigned long long>(lookups.limit),
                    static_cast<unsigned long long>(LOOKUP_FACTOR), static_cast<unsigned long long>(LOOKUP_ALLOWANCE >> 20));
        lookups.reported = true;
    }
    return std::nullopt;
}

bool slot_writable(image_view image, slot_rules& rules, const jump_slot& slot)
{
    return inside_image(image, slot) && clear_of_magic(slot) && at_its_address(rules, slot) &&
           runnable_by_target(image, rules, slot);
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
