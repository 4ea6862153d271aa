// Inputs crafted to make the tool's work grow far beyond their size: each walk stops at its
// bound, says so in one line, and the run ends cleanly. The numbers in the lines are the
// sizes of the files built here (the test writer's layout: the ELF header, each section's
// contents padded to 4 bytes, then the section header table).
#include "test_helpers.h"

#include "symtab/hash_table.h"

#include <algorithm>

namespace {

const bytes KEEP = {'k', 'e', 'e', 'p'};

class work_limit_test : public tool_test {
protected:
    run_result weld(const bytes& link, const bytes& image)
    {
        put("k.elf", link);
        put("app.so", image);
        put("out.mo", KEEP);
        run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(get("out.mo"), KEEP);
        return r;
    }
};

// Many function symbols whose names start at successive bytes of one long NUL-free run:
// each name reaches to the run's far end. Without a bound this is ~10^11 bytes scanned and
// copied; the walk stops once the names have taken the file's size + 64 MiB.
TEST_F(work_limit_test, NamesSharingOneLongRunStopTheLinkFileWalk)
{
    constexpr std::uint32_t RUN = 1u << 20, COUNT = 1u << 16;
    symbol_builder s;
    s.strtab.assign(RUN, 'a');
    s.strtab.push_back(0);
    for (std::uint32_t j = 1; j < COUNT; ++j)
        s.add_raw(j, 0x1000 + j, elf32_st_info(STB_GLOBAL, STT_FUNC));
    elf_writer w;
    const std::uint32_t strtab = w.add_section(SHT_STRTAB, s.strtab);
    w.add_section(SHT_SYMTAB, s.symtab, strtab);
    const bytes link = w.finish();
    ASSERT_EQ(link.size(), 2097328u);
    const run_result r = weld(link, pair().image);
    // 69206192 = 2097328 + 64 MiB.
    const std::string line = "the names read take more than 69206192 bytes (the file's size + 64 MiB); "
                             "no more names are read\n";
    EXPECT_EQ(r.out.rfind("link file: section 2 symbol ", 0), 0u) << r.out.substr(0, 200);
    const std::size_t at = r.out.find(line);
    ASSERT_NE(at, std::string::npos) << r.out.substr(0, 200);
    EXPECT_EQ(r.out.substr(at + line.size()), ALL_IMPORTS_MISSING);
}

// The module stage's lookups: many jump slots whose symbol has a name of one MiB.
TEST_F(work_limit_test, SlotsSharingOneLongNameStopTheModuleWalk)
{
    constexpr std::uint32_t SLOTS = 1u << 16;
    symbol_builder s;
    s.add(std::string(1u << 20, 'f'), 0);
    rel_builder rel;
    for (std::uint32_t j = 0; j < SLOTS; ++j)
        rel.add(52, R_ARM_JUMP_SLOT, 1);
    elf_writer w;
    const std::uint32_t dynstr = w.add_section(SHT_STRTAB, s.strtab);
    const std::uint32_t dynsym = w.add_section(SHT_DYNSYM, s.symtab, dynstr);
    w.add_section(SHT_REL, rel.rel, dynsym);
    const bytes image = w.finish();
    ASSERT_EQ(image.size(), 1573112u);
    const run_result r = weld(pair().link, image);
    // 68681976 = 1573112 + 64 MiB.
    EXPECT_NE(r.out.find("linked image: section 2 symbol 1: the names read take more than 68681976 bytes "
                         "(the file's size + 64 MiB); no more names are read\n"),
              std::string::npos)
        << r.out.substr(0, 200);
    EXPECT_TRUE(r.out.ends_with("relocation failed\n"));
}

// Many relocation section headers over the same entries: only as much as the file holds
// is walked (without that, 4 * 10^9 entries), and every further section is reported.
TEST_F(work_limit_test, PiledRelocationSectionsAreWalkedAsFarAsTheFileGoes)
{
    constexpr std::uint32_t ENTRIES = 1u << 16, SECTIONS = 0xfff0;
    rel_builder words;
    for (std::uint32_t j = 0; j < ENTRIES; ++j)
        words.add(52, R_ARM_ABS32, 1);
    elf_writer w;
    const std::uint32_t at = w.next_offset();
    w.add_section(SHT_PROGBITS, words.rel);
    while (w.section_count() < SECTIONS)
        w.add_header({SHT_REL, at, ENTRIES * 8, 0});
    const bytes image = w.finish();
    ASSERT_EQ(image.size(), 3145140u);
    const run_result r = weld(pair().link, image);
    // Sections 2 to 6 take 5 x 0x80000 bytes of the 3145140; 7 to 65519 are reported.
    EXPECT_EQ(r.out.rfind("linked image: section 7: sh_size 0x80000 would make the sections walked so far "
                          "larger than the file (3145140 bytes); they overlap\n",
                          0),
              0u)
        << r.out.substr(0, 300);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 65513 + 1);
    EXPECT_TRUE(r.out.ends_with("linked image: section 65519: sh_size 0x80000 would make the sections walked so far "
                                "larger than the file (3145140 bytes); they overlap\nrelocation failed\n"));
}

// Lookups of a name that shares its bucket with many entries of another name: every lookup
// walks the whole chain, entries x lookups comparisons in all (without a bound, hours for two
// files of a few megabytes). The lookups stop once they have cost 16 x the linked image's
// size + 256 Mi units, with one line, and every slot not yet looked up stays unfilled.
TEST_F(work_limit_test, LookupsAlongOneLongChainStopOnceTheyHaveCostTooMuch)
{
    constexpr std::uint32_t ENTRIES = 20000, SLOTS = 20000;
    // The table has 2 x (20000 + 1) buckets; "x29612" shares the bucket of "dup".
    ASSERT_EQ(hash_table_hash("x29612", 40002), hash_table_hash("dup", 40002));
    const bytes link = make_link_file(std::vector<link_symbol>(ENTRIES, link_symbol{"dup", 0x1001}));
    const bytes image = make_module(std::vector<module_import>(SLOTS, module_import{"x29612"})).image;
    ASSERT_EQ(image.size(), 700276u);
    const run_result r = weld(link, image);
    // 279639872 = 16 x 700276 + 256 Mi.
    const std::string line = "looking names up has cost more than 279639872 comparisons (16 x the file's size + "
                             "256 Mi); no more names are looked up\n";
    const std::size_t at = r.out.find(line);
    ASSERT_NE(at, std::string::npos) << r.out.substr(0, 300);
    EXPECT_EQ(r.out.find(line, at + 1), std::string::npos);
    const std::string missing = "relocate symbol x29612 failed\n";
    std::size_t reported = 0;
    for (std::size_t p = r.out.find(missing); p != std::string::npos; p = r.out.find(missing, p + 1))
        ++reported;
    EXPECT_GT(reported, 0u);
    EXPECT_LT(reported, SLOTS);
    EXPECT_TRUE(r.out.ends_with("relocation failed\n"));
}

} // namespace
