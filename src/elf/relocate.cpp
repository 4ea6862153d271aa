#include "elf/relocate.h"

#include "cli/debug_flag.h"
#include "elf/core_profile.h"
#include "elf/link_symbols.h"
#include "elf/section_walk.h"
#include "elf/slot_layout.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr const char* INPUT = "linked image";

// Relocations are read this many ahead: their names are hashed, the buckets and first entries
// of their chains prefetched, the names looked up and the symbols found prefetched, before the
// first of them is handled. At a million functions a lookup otherwise waited for three cache
// misses in turn (bucket, entry, the link file's symbol).
constexpr std::uint32_t BATCH = 32;

// What one relocation asks for, as read from the buffer.
struct slot_request {
    enum class kind : std::uint8_t { other_type, bad_symbol, has_value, bad_name, lookup };
    kind what = kind::other_type;
    Elf32_Rel r{};
    std::uint32_t sym_index = 0;
    std::uint32_t st_name = 0;
    symbol_name_read name_read{std::nullopt, name_status::ok};
    std::string_view name;
    std::int32_t bucket = 0;
    record_ref found = nullptr; // looked up ahead, for a request read ahead
    bool gave_up = false;       // the lookup budget ran out before the lookup ended
};

// The bytes that reading requests looked at, as one span [from, to).
struct bytes_read {
    std::uint64_t from = UINT64_MAX, to = 0;
    void add(std::uint64_t at, std::uint64_t length)
    {
        from = std::min(from, at);
        to = std::max(to, at + length);
    }
    bool overlaps(std::uint64_t at, std::uint64_t length) const { return at < to && from < at + length; }
};

bool table_usable() { return symbol_table != nullptr && symbol_table->bucket_count > 0; }

slot_request read_request(image_view image, const Elf32_Shdr& rel, const Elf32_Shdr& symtab,
                          const Elf32_Shdr& strtab, std::uint32_t j, walk_budget& budget, bytes_read& seen)
{
    slot_request q;
    q.r = read_relocation(image, rel, j).value_or(Elf32_Rel{});
    seen.add(std::uint64_t{rel.sh_offset} + std::uint64_t{j} * ELF32_REL_SIZE, ELF32_REL_SIZE);
    if (elf32_r_type(q.r.r_info) != R_ARM_JUMP_SLOT)
        return q;
    q.sym_index = elf32_r_sym(q.r.r_info);
    const std::optional<Elf32_Sym> sym = read_symbol(image, symtab, q.sym_index);
    if (!sym) {
        q.what = slot_request::kind::bad_symbol;
        return q;
    }
    seen.add(std::uint64_t{symtab.sh_offset} + std::uint64_t{q.sym_index} * ELF32_SYM_SIZE, ELF32_SYM_SIZE);
    if (sym->st_value != 0) {
        q.what = slot_request::kind::has_value;
        return q;
    }
    q.st_name = sym->st_name;
    const std::uint64_t name_at = std::uint64_t{strtab.sh_offset} + sym->st_name;
    q.name_read = read_symbol_name(image, strtab, sym->st_name, budget);
    const std::optional<std::string_view> name = q.name_read.name;
    if (!name) {
        q.what = slot_request::kind::bad_name;
        if (name_at < image.size()) // looked for a NUL up to the end
            seen.add(name_at, image.size() - name_at);
        return q;
    }
    seen.add(name_at, name->size() + 1);
    q.what = slot_request::kind::lookup;
    q.name = *name;
    if (table_usable())
        q.bucket = hash_table_index(symbol_table, q.name);
    return q;
}

// What the lookups of one run may cost. On well-formed inputs chains are short and a
// lookup costs a few dozen units; names crafted to share one bucket would otherwise cost
// entries x lookups comparisons, hours for two files of a few megabytes.
struct lookups {
    std::uint64_t limit;
    lookup_budget budget;
    bool reported = false;
    core_profile core = core_profile::unstated;
    bool arm_plt_reported = false;
};
constexpr std::uint64_t LOOKUP_ALLOWANCE = 256u << 20;
lookups make_lookups(image_view image)
{
    const std::uint64_t limit = 16 * std::uint64_t{image.size()} + LOOKUP_ALLOWANCE;
    return {limit, {limit}};
}

void look_up(slot_request& q, lookups& l)
{
    if (q.what == slot_request::kind::lookup && table_usable()) {
        q.found = hash_table_lookup_at(symbol_table, q.bucket, q.name, l.budget);
        q.gave_up = q.found == nullptr && l.budget.exhausted;
    }
}

// Handles one request; false when its slot stays unfilled. `written` tells whether the slot
// was written.
bool handle_request(image_span image, const slot_request& q, std::uint32_t index, std::uint32_t j,
                    std::uint32_t symtab_index, const std::vector<misplaced_section>& misplaced,
                    lookups& l, bool& written)
{
    written = false;
    switch (q.what) {
    case slot_request::kind::other_type:
    case slot_request::kind::has_value:
        return true;
    case slot_request::kind::bad_symbol:
        std::printf("%s: section %u relocation %u: symbol %u is outside symbol section %u\n", INPUT, index, j,
                    q.sym_index, symtab_index);
        return false;
    case slot_request::kind::bad_name:
        report_symbol_name(q.name_read, image, q.st_name, symtab_index, q.sym_index, INPUT);
        return false;
    case slot_request::kind::lookup:
        break;
    }
    if (q.gave_up) {
        if (!l.reported)
            std::printf("%s: section %u relocation %u: looking names up has cost more than %llu comparisons "
                        "(16 x the file's size + 256 Mi); no more names are looked up\n",
                        INPUT, index, j, static_cast<unsigned long long>(l.limit));
        l.reported = true;
        return false;
    }
    const record_ref found = q.found;
    if (found == nullptr) {
        std::printf("relocate symbol %s failed\n", q.name.data());
        return false;
    }
    const std::uint32_t value = referenced_st_value(found);
    if (!range_inside(image.size(), q.r.r_offset, 4)) {
        std::printf("relocate symbol %s failed: offset 0x%x is outside the image\n", q.name.data(), q.r.r_offset);
        return false;
    }
    if (q.r.r_offset < MODULE_MAGIC.size()) {
        std::printf("relocate symbol %s failed: offset 0x%x overlaps the module magic\n", q.name.data(), q.r.r_offset);
        return false;
    }
    if (const misplaced_section* m = misplaced_section_at(misplaced, q.r.r_offset)) {
        std::printf("relocate symbol %s failed: offset 0x%x lies in section %u, whose address 0x%x is not its "
                    "file offset 0x%x\n",
                    q.name.data(), q.r.r_offset, m->index, m->sh_addr, m->sh_offset);
        return false;
    }
    const std::uint32_t linked_value = *read_u32(image, q.r.r_offset);
    if (l.core == core_profile::m_profile && leads_to_arm_plt(image, linked_value)) {
        if (!l.arm_plt_reported)
            std::printf("%s: the PLT at 0x%x is ARM code, which the link file's M-profile core cannot run: link "
                        "the module with GNU ld and an M-profile -mcpu, or with ld.lld 19 or later\n",
                        INPUT, linked_value);
        l.arm_plt_reported = true;
        return false;
    }
    if (debug_flag == 1)
        std::printf("relocate symbol %s--0x%x\n", q.name.data(), value);
    write_u32(image, q.r.r_offset, value);
    written = true;
    return true;
}

// Fills the jump slots of REL section `index`, whose contents lie inside the image. Every
// record is taken from the buffer as it stands when its relocation is reached: when a slot
// is written over bytes that the batch read ahead (a slot inside a relocation, symbol or name
// still to come, which no linker makes), the rest of the batch is read again.
bool fill_slots(image_span image, const Elf32_Shdr& rel, const Elf32_Shdr& symtab, const Elf32_Shdr& strtab,
                std::uint32_t index, std::uint32_t symtab_index, const std::vector<misplaced_section>& misplaced,
                walk_budget& budget, lookups& l)
{
    bool filled_all = true;
    const std::uint32_t count = relocation_count(rel);
    slot_request batch[BATCH];
    for (std::uint32_t first = 0; first < count; first += BATCH) {
        const std::uint32_t n = std::min(BATCH, count - first);
        bytes_read seen;
        for (std::uint32_t k = 0; k < n; ++k) {
            batch[k] = read_request(image, rel, symtab, strtab, first + k, budget, seen);
            if (batch[k].what == slot_request::kind::lookup && table_usable())
                hash_table_prefetch(symbol_table, batch[k].bucket);
        }
        if (table_usable()) {
            for (std::uint32_t k = 0; k < n; ++k)
                if (batch[k].what == slot_request::kind::lookup)
                    hash_table_prefetch_chain(symbol_table, batch[k].bucket);
            for (std::uint32_t k = 0; k < n; ++k) {
                look_up(batch[k], l);
                if (batch[k].found != nullptr)
                    prefetch_record(batch[k].found);
            }
        }
        bool reread = false;
        for (std::uint32_t k = 0; k < n; ++k) {
            bytes_read ignored;
            slot_request q = batch[k];
            if (reread) {
                q = read_request(image, rel, symtab, strtab, first + k, budget, ignored);
                look_up(q, l);
            }
            bool written = false;
            if (!handle_request(image, q, index, first + k, symtab_index, misplaced, l, written))
                filled_all = false;
            if (written && seen.overlaps(q.r.r_offset, 4))
                reread = true;
        }
    }
    return filled_all;
}

} // namespace

int relocate_module(image_span image, core_profile core)
{
    if (!check_elf_header(image)) {
        std::fputs("check ELF header error\n", stdout);
        return 1;
    }
    write_bytes(image, 0, MODULE_MAGIC);
    const std::optional<Elf32_Ehdr> ehdr = open_section_table(image, INPUT);
    if (!ehdr)
        return 1;

    std::vector<misplaced_section> misplaced;
    if (!find_misplaced_sections(image, *ehdr, misplaced)) {
        std::fputs("out of memory\n", stdout);
        return 1;
    }

    bool failed = false;
    walk_budget budget = make_walk_budget(image);
    lookups l = make_lookups(image);
    l.core = core;
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
        if (!fill_slots(image, rel, *symtab, *strtab, i, rel.sh_link, misplaced, budget, l))
            failed = true;
    }
    return failed ? 1 : 0;
}
