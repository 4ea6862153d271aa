#include "elf/build_attributes.h"
#include "elf/elf32.h"
#include "elf/link_symbols.h"
#include "elf/slot_checks.h"

#include "elf_writer.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

image_view view(const bytes& b) { return {b.data(), b.size()}; }

TEST(ImageBytes, DecodesLittleEndianAtUnalignedOffsets)
{
    const bytes b = {0x00, 0x78, 0x56, 0x34, 0x12, 0xcd, 0xab};
    EXPECT_EQ(read_u32(view(b), 1), 0x12345678u);
    EXPECT_EQ(read_record<ul16>(view(b), 5).value(), 0xabcdu);
    EXPECT_EQ(read_record<std::uint8_t>(view(b), 6), 0xabu);
}

TEST(ImageBytes, EveryAccessorStopsAtTheBufferEdge)
{
    const bytes b(8, 0x11);
    EXPECT_TRUE(read_u32(view(b), 4));
    EXPECT_FALSE(read_u32(view(b), 5));
    EXPECT_TRUE(read_record<ul16>(view(b), 6));
    EXPECT_FALSE(read_record<ul16>(view(b), 7));
    EXPECT_TRUE(read_record<std::uint8_t>(view(b), 7));
    EXPECT_FALSE(read_record<std::uint8_t>(view(b), 8));
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

Elf32_Shdr section(std::uint32_t type, std::uint32_t offset, std::uint32_t size)
{
    Elf32_Shdr s{};
    s.sh_type = type;
    s.sh_offset = offset;
    s.sh_size = size;
    return s;
}

TEST(ElfHeader, NeedsAll52Bytes)
{
    bytes b = header({0x7f, 'E', 'L', 'F', 1});
    set_header_field(b, &Elf32_Ehdr::e_shoff, 0x1234);
    set_header_field(b, &Elf32_Ehdr::e_shnum, 7);
    const auto ehdr = read_record<Elf32_Ehdr>(view(b), 0);
    ASSERT_TRUE(ehdr);
    EXPECT_EQ(ehdr->e_shoff, 0x1234u);
    EXPECT_EQ(ehdr->e_shnum, 7u);
    b.pop_back();
    EXPECT_FALSE(read_record<Elf32_Ehdr>(view(b), 0));
}

TEST(SectionHeaders, StrideIs40WhateverShentsizeSaysAndTheTableMustFit)
{
    elf_writer w;
    w.add_section(SHT_PROGBITS, bytes(4, 0));
    w.add_section(SHT_REL, bytes(16, 0), 1);
    bytes b = w.finish();
    set_header_field(b, &Elf32_Ehdr::e_shentsize, 64);
    const std::uint32_t e_shoff = header_field(b, &Elf32_Ehdr::e_shoff);
    const auto table = record_table<Elf32_Shdr>::at(view(b), e_shoff, 3);
    ASSERT_TRUE(table);
    const Elf32_Shdr rel = (*table)[2];
    EXPECT_EQ(rel.sh_type, SHT_REL);
    EXPECT_EQ(rel.sh_size, 16u);
    EXPECT_EQ(rel.sh_link, 1u);
    EXPECT_FALSE(record_table<Elf32_Shdr>::at(view(b), e_shoff, 4)); // one past the end
    EXPECT_FALSE(record_table<Elf32_Shdr>::at(view(b), 0xffffff00u, 0xffff)); // would wrap in 32 bits
}

TEST(SectionRecords, ContentsMustLieInsideUnlessEmpty)
{
    const bytes b(0x100, 0);
    EXPECT_TRUE(section_records<Elf32_Rel>(view(b), section(SHT_REL, 0xf0, 0x10)));
    EXPECT_FALSE(section_records<Elf32_Rel>(view(b), section(SHT_REL, 0xf0, 0x11)));
    EXPECT_FALSE(section_records<Elf32_Rel>(view(b), section(SHT_REL, 0xfffffff0u, 0x20)));
    // No bytes to read: an empty section is never outside, wherever its offset points.
    for (const std::uint32_t offset : {0x101u, 0xffffffffu}) {
        const auto none = section_records<Elf32_Rel>(view(b), section(SHT_REL, offset, 0));
        ASSERT_TRUE(none);
        EXPECT_EQ(none->size(), 0u);
    }
}

TEST(Symbols, ReadInPlaceAndCountedBySize)
{
    symbol_builder s;
    s.add("k_print", 0x2011d, elf32_st_info(STB_GLOBAL, STT_FUNC));
    s.add("k_data", 0x3000, elf32_st_info(STB_LOCAL, STT_OBJECT));
    bytes b(3, 0xee); // misalign the records
    b.insert(b.end(), s.symtab.begin(), s.symtab.end());
    b.resize(b.size() + 15, 0);
    const auto symbols =
        section_records<Elf32_Sym>(view(b), section(SHT_SYMTAB, 3, static_cast<std::uint32_t>(s.symtab.size()) + 15));
    ASSERT_TRUE(symbols);
    ASSERT_EQ(symbols->size(), 3u); // rounded down, null entry counted
    const Elf32_Sym first = (*symbols)[1];
    EXPECT_EQ(first.st_name, 1u);
    EXPECT_EQ(first.st_value, 0x2011du);
    EXPECT_EQ(elf32_st_type(first.st_info), STT_FUNC);
    EXPECT_EQ(elf32_st_type((*symbols)[2].st_info), STT_OBJECT);
    EXPECT_EQ(record_at<Elf32_Sym>(symbols->address(1)).st_value, 0x2011du);
}

TEST(Relocations, TypeAndSymbolComeFromRInfo)
{
    rel_builder r;
    r.add(0x334, R_ARM_JUMP_SLOT, 0xabcdef);
    r.add(0x338, R_ARM_GLOB_DAT, 2);
    r.rel.resize(23);
    const auto rels = section_records<Elf32_Rel>(view(r.rel), section(SHT_REL, 0, 23));
    ASSERT_TRUE(rels);
    ASSERT_EQ(rels->size(), 2u); // whole entries only
    const Elf32_Rel first = (*rels)[0];
    EXPECT_EQ(first.r_offset, 0x334u);
    EXPECT_EQ(elf32_r_type(first.r_info), R_ARM_JUMP_SLOT);
    EXPECT_EQ(elf32_r_sym(first.r_info), 0xabcdefu);
}

TEST(Names, ReadFromTheStringSectionStartPlusStName)
{
    const bytes b = {'x', 0, 'k', '_', 'a', 0, 'z', 'z'};
    const Elf32_Shdr strtab = section(SHT_STRTAB, 1, 5);
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

TEST(BuildAttributes, ReadFromTheFileAttributesOfTheAeabiVendor)
{
    using enum target_core;
    using enum float_args;
    struct row {
        const char* what;
        bytes section;
        target_core core;
        float_args floats;
    };
    const row rows[] = {
        {"gcc -mcpu=cortex-m3: a CPU name, then v7 and 'M'",
         attributes("aeabi", 1, {5, '7', '-', 'M', 0, 6, 10, 7, 'M', 9, 2}), thumb2_m, core_registers},
        {"v7 and 'A'", attributes("aeabi", 1, {6, 10, 7, 'A'}), any, core_registers},
        {"v8-M mainline without a profile", attributes("aeabi", 1, {6, 17}), thumb2_m, core_registers},
        {"v6-M after Tag_compatibility's number and string", attributes("aeabi", 1, {32, 1, 'x', 0, 6, 11}),
         armv6_m, core_registers},
        {"v6S-M", attributes("aeabi", 1, {6, 12, 7, 'M'}), armv6s_m, core_registers},
        {"v8-M baseline, VFP registers", attributes("aeabi", 1, {6, 16, 7, 'M', 28, 1}), armv8_m_baseline,
         vfp_registers},
        {"v7E-M, VFP arguments said to be the base AAPCS", attributes("aeabi", 1, {6, 13, 28, 0}), thumb2_m,
         core_registers},
        {"toolchain-specific float arguments", attributes("aeabi", 1, {28, 2}), any, unstated},
        {"float arguments compatible with both", attributes("aeabi", 1, {28, 3}), any, unstated},
        {"'M' after a string of an odd tag above 32 and a number of an even one",
         attributes("aeabi", 1, {67, '2', 0, 68, 0x81, 0x01, 7, 'M'}), thumb2_m, core_registers},
        {"VFP registers, then a number cut short", attributes("aeabi", 1, {28, 1, 6, 0x80}), any, vfp_registers},
        {"'M', then a tag cut short: no float arguments stated", attributes("aeabi", 1, {7, 'M', 0x80}), thumb2_m,
         unstated},
        {"'M' for one section only", attributes("aeabi", 2, {7, 'M'}), any, unstated},
        {"'M' from another vendor", attributes("gnu", 1, {7, 'M'}), any, unstated},
        {"a format other than 'A'", bytes{'B'}, any, unstated},
    };
    for (const row& r : rows) {
        elf_writer w;
        w.add_section(SHT_ARM_ATTRIBUTES, r.section);
        const bytes image = w.finish();
        const build_attributes read = read_build_attributes(view(image));
        EXPECT_EQ(read.core, r.core) << r.what;
        EXPECT_EQ(read.floats, r.floats) << r.what;
    }
}

TEST(BuildAttributes, APltHeaderIsKnownByItsFirstWord)
{
    bytes b(24, 0);
    put_u32(b, 8, 0xe52de004);  // str lr, [sp, #-4]!
    put_u32(b, 16, 0xf8dfb500); // push {lr}; ldr.w lr, [pc, #N]
    EXPECT_EQ(plt_state_at(view(b), 8), plt_state::arm);
    EXPECT_EQ(plt_state_at(view(b), 9), plt_state::unknown);  // a Thumb address of ARM code
    EXPECT_EQ(plt_state_at(view(b), 16), plt_state::thumb2); // as ld.lld leaves it
    EXPECT_EQ(plt_state_at(view(b), 17), plt_state::thumb2); // as GNU ld leaves it
    EXPECT_EQ(plt_state_at(view(b), 4), plt_state::unknown);  // other code
    EXPECT_EQ(plt_state_at(view(b), 22), plt_state::unknown); // the word would run past the end
}

} // namespace
