#include "elf/core_profile.h"
#include "elf/elf32.h"

#include "elf_writer.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

image_view view(const bytes& b) { return {b.data(), b.size()}; }

TEST(ImageBytes, DecodesLittleEndianAtUnalignedOffsets)
{
    const bytes b = {0x00, 0x78, 0x56, 0x34, 0x12, 0xcd, 0xab};
    EXPECT_EQ(read_u32(view(b), 1), 0x12345678u);
    EXPECT_EQ(read_u16(view(b), 5), 0xabcdu);
    EXPECT_EQ(read_u8(view(b), 6), 0xabu);
}

TEST(ImageBytes, EveryAccessorStopsAtTheBufferEdge)
{
    const bytes b(8, 0x11);
    EXPECT_TRUE(read_u32(view(b), 4));
    EXPECT_FALSE(read_u32(view(b), 5));
    EXPECT_TRUE(read_u16(view(b), 6));
    EXPECT_FALSE(read_u16(view(b), 7));
    EXPECT_TRUE(read_u8(view(b), 7));
    EXPECT_FALSE(read_u8(view(b), 8));
    EXPECT_FALSE(read_u32(view(b), std::numeric_limits<std::uint32_t>::max()));
    EXPECT_FALSE(read_u32(image_view{}, 0));

    bytes w(8, 0);
    EXPECT_TRUE(write_u32(w, 4, 0xdeadbeef));
    EXPECT_EQ(get_u32(w, 4), 0xdeadbeefu);
    EXPECT_FALSE(write_u32(w, 5, 1));
    EXPECT_FALSE(write_u32(w, 0xfffffffe, 1));
    EXPECT_EQ(w, (bytes{0, 0, 0, 0, 0xef, 0xbe, 0xad, 0xde}));
}

TEST(ImageBytes, RangeChecksDoNotWrap)
{
    EXPECT_TRUE(range_inside(16, 16, 0));
    EXPECT_FALSE(range_inside(16, 17, 0));
    EXPECT_FALSE(range_inside(16, 8, 0xfffffffffffffff9u));
    EXPECT_FALSE(range_inside(16, 0xffffffffu, 0x10));
    EXPECT_FALSE(range_inside(0x100, 0xfffffff0u, 0x20)); // wraps in 32 bits to 0x10
}

TEST(ImageBytes, StringsNeedTheirNulInsideTheBuffer)
{
    const bytes b = {'a', 'b', 0, 'c', 'd'};
    EXPECT_EQ(read_string(view(b), 0), "ab");
    EXPECT_EQ(read_string(view(b), 2), "");
    EXPECT_FALSE(read_string(view(b), 3)); // runs to the end without a NUL
    EXPECT_FALSE(read_string(view(b), 5));
    EXPECT_FALSE(read_string(view(b), 0xffffffffu));
    // A scan limit counts the NUL.
    EXPECT_EQ(read_string(view(b), 0, 3), "ab");
    EXPECT_FALSE(read_string(view(b), 0, 2));
    EXPECT_FALSE(read_string(view(b), 2, 0));
}

bytes header(std::initializer_list<std::uint8_t> ident, std::size_t size = 52)
{
    bytes b(size, 0);
    std::copy(ident.begin(), ident.end(), b.begin());
    return b;
}

TEST(CheckElfHeader, TestsMagicAndClassOnly)
{
    EXPECT_TRUE(check_elf_header(view(header({0x7f, 'E', 'L', 'F', 1}))));
    // Big-endian data encoding is not consulted.
    EXPECT_TRUE(check_elf_header(view(header({0x7f, 'E', 'L', 'F', 1, 2}))));
    EXPECT_TRUE(check_elf_header(view(header({0x7f, 'E', 'L', 'F', 1}, 5))));
    EXPECT_FALSE(check_elf_header(view(header({0x7f, 'E', 'L', 'F', 2}))));
    EXPECT_FALSE(check_elf_header(view(header({0x7f, 'O', 'V', 'K', 1}))));
    EXPECT_FALSE(check_elf_header(view(header({0x7f, 'E', 'L', 'F'}, 4))));
    EXPECT_FALSE(check_elf_header(image_view{}));
}

TEST(ElfHeader, NeedsAll52Bytes)
{
    bytes b = header({0x7f, 'E', 'L', 'F', 1});
    put_u32(b, E_SHOFF, 0x1234);
    put_u16(b, E_SHNUM, 7);
    const auto ehdr = read_elf_header(view(b));
    ASSERT_TRUE(ehdr);
    EXPECT_EQ(ehdr->e_shoff, 0x1234u);
    EXPECT_EQ(ehdr->e_shnum, 7u);
    b.pop_back();
    EXPECT_FALSE(read_elf_header(view(b)));
}

TEST(SectionHeaders, StrideIs40WhateverShentsizeSays)
{
    elf_writer w;
    w.add_section(SHT_PROGBITS_, bytes(4, 0));
    w.add_section(SHT_REL_, bytes(16, 0), 1);
    bytes b = w.finish();
    put_u16(b, 46, 64); // e_shentsize
    const auto ehdr = read_elf_header(view(b));
    ASSERT_TRUE(ehdr);
    ASSERT_TRUE(section_table_inside(view(b), *ehdr));
    const auto rel = read_section_header(view(b), *ehdr, 2);
    ASSERT_TRUE(rel);
    EXPECT_EQ(rel->sh_type, SHT_REL);
    EXPECT_EQ(rel->sh_size, 16u);
    EXPECT_EQ(rel->sh_link, 1u);
    EXPECT_FALSE(read_section_header(view(b), *ehdr, 3)); // index past e_shnum
}

TEST(SectionHeaders, TableAtTheEdgeAndOnePast)
{
    elf_writer w;
    w.add_section(SHT_PROGBITS_, bytes(4, 0));
    bytes b = w.finish();
    const auto ehdr = read_elf_header(view(b));
    ASSERT_TRUE(ehdr);
    EXPECT_TRUE(section_table_inside(view(b), *ehdr));
    EXPECT_TRUE(read_section_header(view(b), *ehdr, 1));
    b.pop_back();
    EXPECT_FALSE(section_table_inside(view(b), *ehdr));
    EXPECT_TRUE(read_section_header(view(b), *ehdr, 0));
    EXPECT_FALSE(read_section_header(view(b), *ehdr, 1));
    // e_shoff + 40 * e_shnum would wrap in 32 bits.
    EXPECT_FALSE(section_table_inside(view(b), Elf32_Ehdr{0xffffff00u, 0xffff}));
    // A table of no entries has nothing to read, wherever e_shoff points.
    EXPECT_TRUE(section_table_inside(view(b), Elf32_Ehdr{0xffffff00u, 0}));
}

TEST(SectionContents, OffsetPlusSizeMustNotWrap)
{
    const bytes b(0x100, 0);
    EXPECT_TRUE(section_contents_inside(view(b), Elf32_Shdr{SHT_REL, 0xf0, 0x10, 0}));
    EXPECT_FALSE(section_contents_inside(view(b), Elf32_Shdr{SHT_REL, 0xf0, 0x11, 0}));
    EXPECT_FALSE(section_contents_inside(view(b), Elf32_Shdr{SHT_REL, 0xfffffff0u, 0x20, 0}));
    // No bytes to read: an empty section is never outside, wherever its offset points.
    EXPECT_TRUE(section_contents_inside(view(b), Elf32_Shdr{SHT_REL, 0x101, 0, 0}));
    EXPECT_TRUE(section_contents_inside(view(b), Elf32_Shdr{SHT_REL, 0xffffffffu, 0, 0}));
}

TEST(Symbols, ReadInPlaceAndBoundedByTheirSectionAndTheBuffer)
{
    symbol_builder s;
    s.add("k_print", 0x2011d, symbol_info(STB_GLOBAL, STT_FUNC_));
    s.add("k_data", 0x3000, symbol_info(STB_LOCAL, STT_OBJECT_));
    bytes b(3, 0xee); // misalign the records
    b.insert(b.end(), s.symtab.begin(), s.symtab.end());
    const Elf32_Shdr symtab{SHT_SYMTAB, 3, static_cast<std::uint32_t>(s.symtab.size()) + 15, 0};
    ASSERT_EQ(symbol_count(symtab), 3u); // rounded down, null entry counted

    const auto first = read_symbol(view(b), symtab, 1);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->st_name, 1u);
    EXPECT_EQ(first->st_value, 0x2011du);
    EXPECT_EQ(elf32_st_type(first->st_info), STT_FUNC);
    const auto second = read_symbol(view(b), symtab, 2);
    ASSERT_TRUE(second);
    EXPECT_EQ(elf32_st_type(second->st_info), STT_OBJECT_);
    EXPECT_FALSE(read_symbol(view(b), symtab, 3));

    const record_ref ref = symbol_record(view(b), symtab, 1);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(referenced_st_value(ref), 0x2011du);
    EXPECT_EQ(symbol_record(view(b), symtab, 3), nullptr);

    // The section claims more than the buffer holds: the last record is cut off.
    b.pop_back();
    const Elf32_Shdr too_long{SHT_SYMTAB, 3, 48, 0};
    EXPECT_TRUE(read_symbol(view(b), too_long, 1));
    EXPECT_FALSE(read_symbol(view(b), too_long, 2));
    EXPECT_EQ(symbol_record(view(b), too_long, 2), nullptr);
}

TEST(Relocations, TypeAndSymbolComeFromRInfo)
{
    rel_builder r;
    r.add(0x334, R_ARM_JUMP_SLOT_, 0xabcdef);
    r.add(0x338, R_ARM_GLOB_DAT_, 2);
    const Elf32_Shdr rel{SHT_REL, 0, 23, 0}; // 2 whole entries
    const auto first = read_relocation(view(r.rel), rel, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->r_offset, 0x334u);
    EXPECT_EQ(elf32_r_type(first->r_info), R_ARM_JUMP_SLOT);
    EXPECT_EQ(elf32_r_sym(first->r_info), 0xabcdefu);
    EXPECT_TRUE(read_relocation(view(r.rel), rel, 1));
    EXPECT_FALSE(read_relocation(view(r.rel), rel, 2));
    r.rel.pop_back();
    EXPECT_FALSE(read_relocation(view(r.rel), rel, 1));
}

TEST(Names, ReadFromTheStringSectionStartPlusStName)
{
    const bytes b = {'x', 0, 'k', '_', 'a', 0, 'z', 'z'};
    const Elf32_Shdr strtab{3, 1, 5, 0};
    EXPECT_EQ(read_name(view(b), strtab, 0), "");
    EXPECT_EQ(read_name(view(b), strtab, 1), "k_a");
    EXPECT_FALSE(read_name(view(b), strtab, 5));           // "zz" has no NUL before the end
    EXPECT_FALSE(read_name(view(b), strtab, 0xffffffffu)); // offset wraps past 32 bits
}

// Build attributes as compilers write them: 'A', then per vendor a length, the vendor's name
// and groups of attributes (1 = the file's) with their size.
bytes attributes(const std::string& vendor, std::uint8_t scope, const bytes& tags)
{
    const auto group_size = static_cast<std::uint32_t>(5 + tags.size());
    const auto vendor_size = static_cast<std::uint32_t>(4 + vendor.size() + 1 + group_size);
    bytes s(1 + vendor_size, 0);
    s[0] = 'A';
    put_u32(s, 1, vendor_size);
    std::copy(vendor.begin(), vendor.end(), s.begin() + 5);
    const std::size_t group = 5 + vendor.size() + 1;
    s[group] = scope;
    put_u32(s, group + 1, group_size);
    std::copy(tags.begin(), tags.end(), s.begin() + static_cast<std::ptrdiff_t>(group + 5));
    return s;
}

TEST(CoreProfile, ReadFromTheFileAttributesOfTheAeabiVendor)
{
    constexpr std::uint32_t SHT_ARM_ATTRIBUTES_ = 0x70000003;
    struct row {
        const char* what;
        bytes section;
        core_profile expected;
    };
    const row rows[] = {
        {"gcc -mcpu=cortex-m3: a CPU name, then v7 and 'M'",
         attributes("aeabi", 1, {5, '7', '-', 'M', 0, 6, 10, 7, 'M', 9, 2}), core_profile::m_profile},
        {"v7 and 'A'", attributes("aeabi", 1, {6, 10, 7, 'A'}), core_profile::unstated},
        {"v8-M mainline without a profile", attributes("aeabi", 1, {6, 17}), core_profile::m_profile},
        {"v6-M after Tag_compatibility's number and string", attributes("aeabi", 1, {32, 1, 'x', 0, 6, 11}),
         core_profile::m_profile},
        {"'M' after a string of an odd tag above 32 and a number of an even one",
         attributes("aeabi", 1, {67, '2', 0, 68, 0x81, 0x01, 7, 'M'}), core_profile::m_profile},
        {"'M' for one section only", attributes("aeabi", 2, {7, 'M'}), core_profile::unstated},
        {"'M' from another vendor", attributes("gnu", 1, {7, 'M'}), core_profile::unstated},
        {"a format other than 'A'", bytes{'B'}, core_profile::unstated},
    };
    for (const row& r : rows) {
        elf_writer w;
        w.add_section(SHT_ARM_ATTRIBUTES_, r.section);
        const bytes image = w.finish();
        EXPECT_EQ(read_core_profile(view(image)), r.expected) << r.what;
    }
}

TEST(CoreProfile, AnArmPltHeaderIsEvenAndStartsWithStrLr)
{
    bytes b(16, 0);
    put_u32(b, 8, 0xe52de004);
    EXPECT_TRUE(leads_to_arm_plt(view(b), 8));
    EXPECT_FALSE(leads_to_arm_plt(view(b), 9));  // a Thumb address
    EXPECT_FALSE(leads_to_arm_plt(view(b), 4));  // other code
    EXPECT_FALSE(leads_to_arm_plt(view(b), 14)); // the word would run past the end
}

} // namespace
