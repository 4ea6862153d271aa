// The two stages called in-process on images from the test writer.
#include "elf/elf32.h"
#include "elf/link_symbols.h"
#include "elf/relocate.h"

#include "elf_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

#if defined(__linux__)
#include "address_space.h"
#endif

namespace {

class stage_test : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (table_ != nullptr)
            hash_table_destroy(table_);
    }

    // Runs the link-file stage on `image`; returns what it printed.
    std::string collect(const bytes& image, stage_result expected_result)
    {
        link_ = image;
        ::testing::internal::CaptureStdout();
        const stage_result result = collect_link_symbols(image_view{link_.data(), link_.size()}, table_, trace_);
        std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, expected_result) << out;
        return out;
    }

    std::optional<std::uint32_t> value_of(const char* name) const
    {
        const void* found = hash_table_lookup(table_, name);
        if (found == nullptr)
            return std::nullopt;
        return record_at<Elf32_Sym>(found).st_value;
    }

    bytes link_;               // must outlive the table's entries
    hash_table* table_ = nullptr; // the stage's table
    bool trace_ = false;          // -D
};

TEST_F(stage_test, OnlyFunctionsAreEnteredInSymbolTableOrder)
{
    std::vector<link_symbol> syms;
    for (int i = 0; i < 20; ++i)
        syms.push_back({"data_" + std::to_string(i), 0x4000u + 4 * i, elf32_st_info(STB_GLOBAL, STT_OBJECT)});
    syms.insert(syms.begin() + 3, {"k_print", 0x2011d, elf32_st_info(STB_GLOBAL, STT_FUNC)});
    syms.insert(syms.begin() + 9, {"k_local", 0x2020, elf32_st_info(STB_LOCAL, STT_FUNC)});
    syms.insert(syms.begin() + 15, {"k_weak", 0, elf32_st_info(STB_WEAK, STT_FUNC)});
    syms.push_back({"section", 0x100, elf32_st_info(STB_LOCAL, STT_SECTION)});
    syms.push_back({"k.c", 0, elf32_st_info(STB_LOCAL, STT_FILE)});
    syms.push_back({"untyped", 0x500, elf32_st_info(STB_GLOBAL, STT_NOTYPE)});
    // st_info's upper bits are the binding: only the low four bits say "function".
    syms.push_back({"k_odd", 0x600, 0xf2});
    trace_ = true;
    EXPECT_EQ(collect(make_link_file(syms), stage_result::ok), "hash_table_insert symbol k_print \n"
                                                       "hash_table_insert symbol k_local \n"
                                                       "hash_table_insert symbol k_weak \n"
                                                       "hash_table_insert symbol k_odd \n");
    EXPECT_EQ(value_of("k_print"), 0x2011du);
    EXPECT_EQ(value_of("k_weak"), 0u);
    EXPECT_FALSE(value_of("data_3"));
    EXPECT_FALSE(value_of("untyped"));
    ASSERT_NE(table_, nullptr);
    // Twice as many buckets as entries, the null entry counted.
    EXPECT_EQ(table_->bucket_count, 2 * (static_cast<int>(syms.size()) + 1));
}

TEST_F(stage_test, ImageWithoutSymbolTableGivesNoTable)
{
    elf_writer w;
    w.add_section(SHT_PROGBITS, bytes(32, 1));
    const std::uint32_t dynstr = w.add_section(SHT_STRTAB, {0, 'f', 0});
    symbol_builder s;
    s.add_raw(1, 0x100, elf32_st_info(STB_GLOBAL, STT_FUNC));
    w.add_section(SHT_DYNSYM, s.symtab, dynstr);
    EXPECT_EQ(collect(w.finish(), stage_result::ok), "");
    EXPECT_EQ(table_, nullptr);
}

TEST_F(stage_test, SecondSymbolSectionStartsAFreshTable)
{
    symbol_builder a, b;
    a.add("only_in_first", 0x10);
    b.add("only_in_second", 0x20);
    elf_writer w;
    const std::uint32_t sa = w.add_section(SHT_STRTAB, a.strtab);
    w.add_section(SHT_SYMTAB, a.symtab, sa);
    const std::uint32_t sb = w.add_section(SHT_STRTAB, b.strtab);
    w.add_section(SHT_SYMTAB, b.symtab, sb);
    collect(w.finish(), stage_result::ok);
    EXPECT_FALSE(value_of("only_in_first"));
    EXPECT_EQ(value_of("only_in_second"), 0x20u);
}

TEST_F(stage_test, SymbolSectionSmallerThanOneEntryGivesAnEmptyTable)
{
    elf_writer w;
    const std::uint32_t str = w.add_section(SHT_STRTAB, {0});
    w.add_section(SHT_SYMTAB, bytes(15, 0), str);
    collect(w.finish(), stage_result::ok);
    ASSERT_NE(table_, nullptr);
    EXPECT_EQ(table_->bucket_count, 0);
    EXPECT_FALSE(value_of(""));
}

// A link file of functions f0..f2, 352 bytes: .strtab is section 2, .symtab section 3 at 0x80.
bytes small_link_file()
{
    return make_link_file({{"f0", 0x10}, {"f1", 0x20}, {"f2", 0x30}});
}

// The walk through the binary says the same (the one-field table); only here can it be seen
// that no table was sized by the unchecked count.
TEST_F(stage_test, HugeSymbolSectionIsSkippedWithoutAllocating)
{
    bytes image = small_link_file();
    set_section_field(image, 3, &Elf32_Shdr::sh_size, 0xfffffff0u);
    EXPECT_EQ(collect(image, stage_result::failed),
              "link file: section 3: sh_offset 0x80 + sh_size 0xfffffff0 is outside the file (352 bytes)\n");
    EXPECT_EQ(table_, nullptr);
}

#if defined(__linux__)
// Runs out of address space part way through a big symbol table, in a child process: the
// trace line of the insert that failed is the last one, right before "out of memory", every
// function traced before it is in the table, however far ahead names are read, and neither
// that one nor the next is.
TEST(StageDeathTest, OutOfMemoryComesRightAfterTheTraceOfTheFailedInsert)
{
#ifdef MODWELD_SANITIZED
    GTEST_SKIP() << "an address space limit and the sanitizers' shadow memory do not mix";
#endif
    EXPECT_EXIT(
        {
            std::vector<link_symbol> syms;
            for (int i = 0; i < 200000; ++i)
                syms.push_back({std::string(100, 'k') + std::to_string(i), 0x1000u + 4 * i});
            const bytes link = make_link_file(syms);
            const char* out_path = "stage_oom_trace.txt";
            if (std::freopen(out_path, "w", stdout) == nullptr)
                std::exit(3);
            const std::optional<rlimit> uncapped = cap_address_space(12u << 20);
            if (!uncapped)
                std::exit(4);
            hash_table* table = nullptr;
            const stage_result result = collect_link_symbols(image_view{link.data(), link.size()}, table, true);
            setrlimit(RLIMIT_AS, &*uncapped);
            std::fflush(stdout);
            std::ifstream in(out_path);
            const std::string text(std::istreambuf_iterator<char>(in), {});
            std::remove(out_path);
            std::vector<std::string> traced;
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);)
                if (line.starts_with("hash_table_insert symbol "))
                    traced.push_back(line.substr(25, line.size() - 26));
            const std::size_t entered = traced.empty() ? 0 : traced.size() - 1;
            bool found = entered > 1000 && entered + 1 < syms.size();
            for (std::size_t k = 0; found && k < entered; ++k)
                found = hash_table_lookup(table, traced[k].c_str()) != nullptr;
            const std::string last = found ? "hash_table_insert symbol " + traced.back() + " \n" : "";
            const bool ends_right = found && text.ends_with(last + "out of memory\n") &&
                                    hash_table_lookup(table, traced.back().c_str()) == nullptr &&
                                    hash_table_lookup(table, syms[entered + 1].name.c_str()) == nullptr;
            std::exit(result == stage_result::out_of_memory && ends_right ? 0 : 5);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

// The module stage in-process: what it leaves in the buffer.
class module_stage_test : public stage_test {
protected:
    int relocate(bytes& image, std::string* out = nullptr)
    {
        ::testing::internal::CaptureStdout();
        const stage_result result = relocate_module(image_span{image.data(), image.size()}, {table_, {}, trace_});
        const std::string printed = ::testing::internal::GetCapturedStdout();
        if (out != nullptr)
            *out = printed;
        return result == stage_result::ok ? 0 : 1;
    }
};

TEST_F(module_stage_test, IdentificationFailureLeavesTheBufferUnchanged)
{
    bytes image = make_module({{"f0"}}).image;
    image[4] = 2;
    const bytes before = image;
    std::string out;
    EXPECT_EQ(relocate(image, &out), 1);
    EXPECT_EQ(out, "check ELF header error\n"
                   "linked image: not a 32-bit ELF file: it is a 64-bit ELF file (EI_CLASS 2), not one for a 32-bit "
                   "ARM core\n");
    EXPECT_EQ(image, before);
}

TEST_F(module_stage_test, MagicIsStampedEvenWhenSlotsAreMissing)
{
    collect(small_link_file(), stage_result::ok);
    module_layout m = make_module({{"f1"}, {"nowhere"}});
    std::string out;
    EXPECT_EQ(relocate(m.image, &out), 1);
    EXPECT_EQ(out, "relocate symbol nowhere failed\n");
    EXPECT_EQ(bytes(m.image.begin(), m.image.begin() + 4), bytes(MODULE_MAGIC.begin(), MODULE_MAGIC.end()));
    EXPECT_EQ(get_u32(m.image, m.slot_offsets[0]), 0x20u);
    EXPECT_EQ(get_u32(m.image, m.slot_offsets[1]), 0xa5a5a5a5u);
}

// A slot whose bytes are a record or a name that the walk has still to reach: that record
// is read as the earlier write left it, however far ahead the stage reads.
TEST_F(module_stage_test, LaterRecordsAreReadAsEarlierSlotsLeftThem)
{
    struct overlap_case {
        const char* what;
        std::function<std::uint32_t(const module_layout&)> slot_at; // relocation 0's r_offset
        std::string trace;
        int result;
        std::uint32_t slot1, slot2;
    };
    const std::vector<overlap_case> cases = {
        {"relocation 1's r_info becomes 0x10, no jump slot",
         [](const module_layout& m) { return section_field(m.image, m.rel_section, &Elf32_Shdr::sh_offset) + 8 + 4; },
         "relocate symbol f0--0x10\nrelocate symbol f2--0x30\n", 0, 0xa5a5a5a5u, 0x30},
        {"the names f1 and f2 become \"\\x10\" and \"\"",
         [](const module_layout& m) { return section_field(m.image, m.dynstr_section, &Elf32_Shdr::sh_offset) + 4; },
         "relocate symbol f0--0x10\nrelocate symbol \x10 failed\nrelocate symbol  failed\n", 1, 0xa5a5a5a5u,
         0xa5a5a5a5u},
        {"symbol 2's st_value becomes 0x10",
         [](const module_layout& m) {
             return section_field(m.image, m.dynsym_section, &Elf32_Shdr::sh_offset) + 16 * 2 + 4;
         },
         "relocate symbol f0--0x10\nrelocate symbol f2--0x30\n", 0, 0xa5a5a5a5u, 0x30},
    };
    for (const overlap_case& c : cases) {
        collect(small_link_file(), stage_result::ok);
        module_layout m = make_module({{"f0"}, {"f1"}, {"f2"}});
        const std::size_t rel = section_field(m.image, m.rel_section, &Elf32_Shdr::sh_offset);
        put_u32(m.image, rel, c.slot_at(m));
        trace_ = true;
        std::string out;
        EXPECT_EQ(relocate(m.image, &out), c.result) << c.what;
        EXPECT_EQ(out, c.trace) << c.what;
        EXPECT_EQ(get_u32(m.image, c.slot_at(m)), 0x10u) << c.what;
        EXPECT_EQ(get_u32(m.image, m.slot_offsets[1]), c.slot1) << c.what;
        EXPECT_EQ(get_u32(m.image, m.slot_offsets[2]), c.slot2) << c.what;
    }
}

} // namespace
