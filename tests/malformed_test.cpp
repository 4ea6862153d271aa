// Malformed input through the binary: each row patches a field or two of the real pair in
// tests/hostile, so that it reaches exactly the check it is named after.
#include "test_helpers.h"

#include <algorithm>
#include <functional>

namespace {

using patch = std::function<void(bytes&)>;

template <typename Field>
patch field(Field Elf32_Ehdr::*f, std::uint32_t value)
{
    return [=](bytes& b) { set_header_field(b, f, static_cast<typename field_value<Field>::type>(value)); };
}
patch field(std::uint32_t section, ul32 Elf32_Shdr::*f, std::uint32_t value)
{
    return [=](bytes& b) { set_section_field(b, section, f, value); };
}
patch word(std::size_t at, std::uint32_t value)
{
    return [=](bytes& b) { put_u32(b, at, value); };
}
// Bytes [from, to) set to `value`.
patch fill(std::size_t from, std::size_t to, std::uint8_t value)
{
    return [=](bytes& b) { std::fill(&b.at(from), &b.at(to - 1) + 1, value); };
}
patch byte(std::size_t at, std::uint8_t value) { return fill(at, at + 1, value); }
patch cut(std::size_t size)
{
    return [=](bytes& b) { b.resize(size); };
}

enum class which { link_file, linked_image };
using slots = std::vector<std::pair<std::uint32_t, std::uint32_t>>; // r_offset, value

// The four jump slots of module.so and the values of their functions in target.elf.
const slots WELDED = {{0x384, 0x20124}, {0x388, 0x20130}, {0x38c, 0x20138}, {0x390, 0x20141}};

struct field_case {
    const char* name; // in the test list, under LinkFile/ or LinkedImage/
    const char* what;
    which input;
    std::vector<patch> patches;
    std::string out; // the whole standard output
    int status = 1;
    slots filled = WELDED; // after status 0
    bool traced = false;   // run with -D 1
};

void PrintTo(const field_case& c, std::ostream* os) { *os << c.what; }

const bytes KEEP = {'k', 'e', 'e', 'p'};
const std::string OK = "relocation sucessfully\n", FAILED = "relocation failed\n";
const std::string STRIPPED = "link file: no symbol table section (SHT_SYMTAB), so no function to fill a slot with: it "
                             "was stripped; give the unstripped image (strip --strip-debug keeps the symbol table)\n";
const std::string REFUSED = "linked image: the PLT at 0x2c0 is ARM code, which the link file's M-profile core "
                            "cannot run: link the module with GNU ld and an M-profile -mcpu, or with ld.lld 19 or "
                            "later\nrelocation failed\n";

// The numbers are those of the committed pair (readelf -hSW, -sW, -rW, -x .ARM.attributes):
//   target.elf, 1140 (0x474) bytes: e_shoff 0x30c, e_shnum 9; section 5 .ARM.attributes at
//     0x183, size 0x36 (Tag_CPU_arch 0x0a at 0x19a, Tag_CPU_arch_profile 'A' at 0x19c,
//     Tag_ARM_ISA_use 1 at 0x19d);
//     6 .symtab at 0x1bc, size 0xb0, sh_link 8; 8 .strtab at 0x2b7, size 0x52. Symbols 5 to 9
//     are the functions sys_write, sys_add, sys_twice, sys_thumb and _start.
//   module.so, 2284 (0x8ec) bytes: e_shoff 0x644, e_shnum 17; section 1 .dynsym at 0x154,
//     size 0x60, sh_link 4; 4 .dynstr at 0x208, size 0x34; 6 .rel.plt at 0x24c, size 0x20,
//     sh_link 1, its four jump slots at 0x384 to 0x390 for dynsym symbols 1 to 4; .plt at 0x2c0;
//     section 13 .ARM.attributes at 0x3cb, size 0x3a (Tag_ARM_ISA_use 1 at 0x3e5). Neither
//     file says Tag_ABI_VFP_args: both pass floats in core registers.
// tests/hostile/build.sh regenerates the pair; a new one needs these numbers read again.
const field_case CASES[] = {
    // The section header table and the walked section: .symtab of the link file, whose
    // failure leaves every import missing, and .rel.plt of the linked image.
    {"e_shoff_past_the_end", "link file: e_shoff past the end", which::link_file, {field(&Elf32_Ehdr::e_shoff, 1140)},
     "link file: section header table at 0x474 with 9 entries is outside the file (1140 bytes)\n" +
         ALL_IMPORTS_MISSING},
    {"table_one_byte_past_the_end", "link file: e_shoff + 40 x e_shnum one byte past the end", which::link_file,
     {field(&Elf32_Ehdr::e_shoff, 0x30d)},
     "link file: section header table at 0x30d with 9 entries is outside the file (1140 bytes)\n" +
         ALL_IMPORTS_MISSING},
    {"table_end_wraps_32_bits", "link file: e_shoff + 40 x e_shnum wrapping past 32 bits", which::link_file,
     {field(&Elf32_Ehdr::e_shoff, 0xffffff00)},
     "link file: section header table at 0xffffff00 with 9 entries is outside the file (1140 bytes)\n" +
         ALL_IMPORTS_MISSING},
    {"e_shnum_0xFFFF", "link file: e_shnum 0xFFFF", which::link_file, {field(&Elf32_Ehdr::e_shnum, 0xffff)},
     "link file: section header table at 0x30c with 65535 entries is outside the file (1140 bytes)\n" +
         ALL_IMPORTS_MISSING},
    {"e_shnum_0_gives_no_functions", "link file: e_shnum 0 gives no functions", which::link_file,
     {field(&Elf32_Ehdr::e_shnum, 0)},
     STRIPPED + ALL_IMPORTS_MISSING},
    {"sh_offset_past_the_end", "link file: sh_offset past the end", which::link_file,
     {field(6, &Elf32_Shdr::sh_offset, 1140)},
     "link file: section 6: sh_offset 0x474 + sh_size 0xb0 is outside the file (1140 bytes)\n" + ALL_IMPORTS_MISSING},
    {"section_end_wraps_32_bits", "link file: sh_offset + sh_size wrapping past 32 bits", which::link_file,
     {field(6, &Elf32_Shdr::sh_offset, 0xfffffff0)},
     "link file: section 6: sh_offset 0xfffffff0 + sh_size 0xb0 is outside the file (1140 bytes)\n" +
         ALL_IMPORTS_MISSING},
    {"sh_size_huge", "link file: sh_size huge", which::link_file, {field(6, &Elf32_Shdr::sh_size, 0xfffffff0)},
     "link file: section 6: sh_offset 0x1bc + sh_size 0xfffffff0 is outside the file (1140 bytes)\n" +
         ALL_IMPORTS_MISSING},
    {"empty_symbol_section_anywhere", "link file: an empty symbol section may point anywhere", which::link_file,
     {field(6, &Elf32_Shdr::sh_size, 0), field(6, &Elf32_Shdr::sh_offset, 1141)}, ALL_IMPORTS_MISSING},
    {"sh_link_past_the_table", "link file: sh_link past the table", which::link_file,
     {field(6, &Elf32_Shdr::sh_link, 9)},
     "link file: section 6: sh_link 9 names no section (e_shnum 9)\n" + ALL_IMPORTS_MISSING},
    {"sh_link_0xFFFFFFFF", "link file: sh_link 0xFFFFFFFF", which::link_file,
     {field(6, &Elf32_Shdr::sh_link, 0xffffffff)},
     "link file: section 6: sh_link 4294967295 names no section (e_shnum 9)\n" + ALL_IMPORTS_MISSING},
    // The names are then read from the symbol records themselves: none is a function's.
    {"sh_link_naming_itself", "link file: sh_link naming the section itself", which::link_file,
     {field(6, &Elf32_Shdr::sh_link, 6)},
     ALL_IMPORTS_MISSING},
    {"string_section_end_wraps_32_bits", "link file: the string section's sh_offset wrapping past 32 bits",
     which::link_file, {field(8, &Elf32_Shdr::sh_offset, 0xffffff00)},
     "link file: section 8: sh_offset 0xffffff00 + sh_size 0x52 is outside the file (1140 bytes)\n" +
         ALL_IMPORTS_MISSING},
    {"file_of_0_bytes", "link file: file of 0 bytes", which::link_file, {cut(0)},
     "check ELF header error\nlink file: not a 32-bit ELF file: it holds 0 of the 5 bytes that identify one\n" + ALL_IMPORTS_MISSING},
    {"file_of_1_bytes", "link file: file of 1 bytes", which::link_file, {cut(1)},
     "check ELF header error\nlink file: not a 32-bit ELF file: it holds 1 of the 5 bytes that identify one\n" + ALL_IMPORTS_MISSING},
    {"file_of_4_bytes", "link file: file of 4 bytes", which::link_file, {cut(4)},
     "check ELF header error\nlink file: not a 32-bit ELF file: it holds 4 of the 5 bytes that identify one\n" + ALL_IMPORTS_MISSING},
    {"EI_CLASS_2_a_64_bit_file", "link file: EI_CLASS 2, a 64-bit file", which::link_file, {byte(4, 2)},
     "check ELF header error\nlink file: not a 32-bit ELF file: it is a 64-bit ELF file (EI_CLASS 2), not one for a "
     "32-bit ARM core\n" + ALL_IMPORTS_MISSING},
    {"no_ELF_magic_raw_binary", "link file: no ELF magic, as in a raw binary", which::link_file, {fill(0, 4, 0)},
     "check ELF header error\nlink file: not a 32-bit ELF file: it does not start with the ELF magic 7f 45 4c 46 (a "
     "raw binary, as objcopy -O binary writes, has no symbols or relocations): give the ELF file\n" +
         ALL_IMPORTS_MISSING},
    {"file_of_5_bytes", "link file: file of 5 bytes", which::link_file, {cut(5)},
     "link file: ELF header is truncated (5 bytes, the header takes 52)\n" + ALL_IMPORTS_MISSING},
    {"file_of_51_bytes", "link file: file of 51 bytes", which::link_file, {cut(51)},
     "link file: ELF header is truncated (51 bytes, the header takes 52)\n" + ALL_IMPORTS_MISSING},
    {"file_of_52_bytes", "link file: file of 52 bytes", which::link_file, {cut(52)},
     "link file: section header table at 0x30c with 9 entries is outside the file (52 bytes)\n" + ALL_IMPORTS_MISSING},

    {"e_shoff_past_the_end", "linked image: e_shoff past the end", which::linked_image,
     {field(&Elf32_Ehdr::e_shoff, 2284)},
     "linked image: section header table at 0x8ec with 17 entries is outside the file (2284 bytes)\n" + FAILED},
    {"table_one_byte_past_the_end", "linked image: e_shoff + 40 x e_shnum one byte past the end", which::linked_image,
     {field(&Elf32_Ehdr::e_shoff, 0x645)},
     "linked image: section header table at 0x645 with 17 entries is outside the file (2284 bytes)\n" + FAILED},
    {"table_end_wraps_32_bits", "linked image: e_shoff + 40 x e_shnum wrapping past 32 bits", which::linked_image,
     {field(&Elf32_Ehdr::e_shoff, 0xffffff00)},
     "linked image: section header table at 0xffffff00 with 17 entries is outside the file (2284 bytes)\n" + FAILED},
    {"e_shnum_0xFFFF", "linked image: e_shnum 0xFFFF", which::linked_image, {field(&Elf32_Ehdr::e_shnum, 0xffff)},
     "linked image: section header table at 0x644 with 65535 entries is outside the file (2284 bytes)\n" + FAILED},
    // With no entries, e_shoff points at nothing that is read: any value will do.
    {"e_shnum_0_nothing_to_fill", "linked image: e_shnum 0 leaves nothing to fill", which::linked_image,
     {field(&Elf32_Ehdr::e_shnum, 0)}, OK, 0, {}},
    {"e_shnum_0_e_shoff_0", "linked image: e_shnum 0 and e_shoff 0", which::linked_image,
     {field(&Elf32_Ehdr::e_shnum, 0), field(&Elf32_Ehdr::e_shoff, 0)}, OK, 0, {}},
    {"e_shnum_0_e_shoff_0xFFFFFFF0", "linked image: e_shnum 0 and e_shoff 0xFFFFFFF0", which::linked_image,
     {field(&Elf32_Ehdr::e_shnum, 0), field(&Elf32_Ehdr::e_shoff, 0xfffffff0)}, OK, 0, {}},
    // Valid oddities: the table is walked 40 bytes apart whatever e_shentsize says, and every
    // field is read little-endian whatever EI_DATA says.
    {"e_shentsize_0_passed_over", "linked image: e_shentsize 0 is passed over", which::linked_image,
     {field(&Elf32_Ehdr::e_shentsize, 0)}, OK, 0},
    {"big_endian_mark_passed_over", "linked image: a big-endian mark is passed over", which::linked_image,
     {byte(EI_DATA, ELFDATA2MSB)}, OK, 0},
    {"sh_offset_past_the_end", "linked image: sh_offset past the end", which::linked_image,
     {field(6, &Elf32_Shdr::sh_offset, 2284)},
     "linked image: section 6: sh_offset 0x8ec + sh_size 0x20 is outside the file (2284 bytes)\n" + FAILED},
    {"section_end_wraps_32_bits", "linked image: sh_offset + sh_size wrapping past 32 bits", which::linked_image,
     {field(6, &Elf32_Shdr::sh_offset, 0xfffffff0)},
     "linked image: section 6: sh_offset 0xfffffff0 + sh_size 0x20 is outside the file (2284 bytes)\n" + FAILED},
    {"sh_size_huge", "linked image: sh_size huge", which::linked_image, {field(6, &Elf32_Shdr::sh_size, 0xfffffff0)},
     "linked image: section 6: sh_offset 0x24c + sh_size 0xfffffff0 is outside the file (2284 bytes)\n" + FAILED},
    {"empty_rel_section_anywhere", "linked image: an empty relocation section may point anywhere", which::linked_image,
     {field(6, &Elf32_Shdr::sh_size, 0), field(6, &Elf32_Shdr::sh_offset, 0xfffffff0)}, OK, 0, {}},
    {"sh_link_past_the_table", "linked image: sh_link past the table", which::linked_image,
     {field(6, &Elf32_Shdr::sh_link, 17)},
     "linked image: section 6: sh_link 17 names no section (e_shnum 17)\n" + FAILED},
    {"sh_link_0xFFFFFFFF", "linked image: sh_link 0xFFFFFFFF", which::linked_image,
     {field(6, &Elf32_Shdr::sh_link, 0xffffffff)},
     "linked image: section 6: sh_link 4294967295 names no section (e_shnum 17)\n" + FAILED},
    // The symbols are then read from the relocations, 16 bytes apart: symbols 2 to 4 lie past
    // the two such records, and symbol 1 (r_offset 0x38c, r_info 0x316) has a value.
    {"sh_link_naming_itself", "linked image: sh_link naming the section itself", which::linked_image,
     {field(6, &Elf32_Shdr::sh_link, 6)},
     "linked image: section 6 relocation 1: symbol 2 is outside symbol section 6\n"
     "linked image: section 6 relocation 2: symbol 3 is outside symbol section 6\n"
     "linked image: section 6 relocation 3: symbol 4 is outside symbol section 6\n" +
         FAILED},
    {"file_of_0_bytes", "linked image: file of 0 bytes", which::linked_image, {cut(0)},
     "check ELF header error\nlinked image: not a 32-bit ELF file: it holds 0 of the 5 bytes that identify one\n" + FAILED},
    {"file_of_1_bytes", "linked image: file of 1 bytes", which::linked_image, {cut(1)},
     "check ELF header error\nlinked image: not a 32-bit ELF file: it holds 1 of the 5 bytes that identify one\n" + FAILED},
    {"file_of_4_bytes", "linked image: file of 4 bytes", which::linked_image, {cut(4)},
     "check ELF header error\nlinked image: not a 32-bit ELF file: it holds 4 of the 5 bytes that identify one\n" + FAILED},
    {"EI_CLASS_0", "linked image: EI_CLASS 0", which::linked_image, {byte(4, 0)},
     "check ELF header error\nlinked image: not a 32-bit ELF file: EI_CLASS is 0, where a 32-bit ELF file has 1\n" +
         FAILED},
    {"file_of_5_bytes", "linked image: file of 5 bytes", which::linked_image, {cut(5)},
     "linked image: ELF header is truncated (5 bytes, the header takes 52)\n" + FAILED},
    {"file_of_51_bytes", "linked image: file of 51 bytes", which::linked_image, {cut(51)},
     "linked image: ELF header is truncated (51 bytes, the header takes 52)\n" + FAILED},
    {"file_of_52_bytes", "linked image: file of 52 bytes", which::linked_image, {cut(52)},
     "linked image: section header table at 0x644 with 17 entries is outside the file (52 bytes)\n" + FAILED},

    // Names and symbols. In the link file the name is that of sys_write (symbol 5, its
    // st_name at 0x1bc + 5 x 16), the function the first slot needs, which is then missing.
    {"st_name_reads_on_past_its_strings", "link file: st_name past its string section reads on into the next bytes",
     which::link_file, {word(0x20c, 0x53)}, "relocate symbol sys_write failed\n" + FAILED},
    {"st_name_past_the_buffer", "link file: st_name past the buffer", which::link_file, {word(0x20c, 0x1bd)},
     "link file: section 6 symbol 5: name at st_name 0x1bd is outside the file\n"
     "relocate symbol sys_write failed\n" +
         FAILED},
    {"st_name_0xFFFFFFFF", "link file: st_name 0xFFFFFFFF", which::link_file, {word(0x20c, 0xffffffff)},
     "link file: section 6 symbol 5: name at st_name 0xffffffff is outside the file\n"
     "relocate symbol sys_write failed\n" +
         FAILED},
    {"name_to_the_end_without_NUL", "link file: a name running to the last byte without a NUL", which::link_file,
     {byte(1139, 'x'), word(0x20c, 0x1bc)},
     "link file: section 6 symbol 5: name at st_name 0x1bc runs to the end of the file without a NUL\n"
     "relocate symbol sys_write failed\n" +
         FAILED},
    // However far ahead names are read, the line comes in symbol order.
    {"bad_name_skips_only_its_symbol", "link file: a bad name skips only its own symbol", which::link_file,
     {word(0x21c, 0x7fffffff)},
     "hash_table_insert symbol sys_write \n"
     "link file: section 6 symbol 6: name at st_name 0x7fffffff is outside the file\n"
     "hash_table_insert symbol sys_twice \n"
     "hash_table_insert symbol sys_thumb \n"
     "hash_table_insert symbol _start \n"
     "relocate symbol sys_write--0x20124\n"
     "relocate symbol sys_add failed\n"
     "relocate symbol sys_twice--0x20138\n"
     "relocate symbol sys_thumb--0x20141\n" +
         FAILED,
     1, WELDED, true},
    // In the linked image it is the name of .dynsym symbol 1 (st_name at 0x164).
    {"st_name_reads_on_past_its_strings", "linked image: st_name past its string section reads on into the next bytes",
     which::linked_image, {word(0x164, 0x35)}, "relocate symbol  failed\n" + FAILED},
    {"st_name_past_the_buffer", "linked image: st_name past the buffer", which::linked_image, {word(0x164, 0x6e4)},
     "linked image: section 1 symbol 1: name at st_name 0x6e4 is outside the file\n" + FAILED},
    {"st_name_0xFFFFFFFF", "linked image: st_name 0xFFFFFFFF", which::linked_image, {word(0x164, 0xffffffff)},
     "linked image: section 1 symbol 1: name at st_name 0xffffffff is outside the file\n" + FAILED},
    {"name_to_the_end_without_NUL", "linked image: a name running to the last byte without a NUL", which::linked_image,
     {byte(2283, 'x'), word(0x164, 0x6e3)},
     "linked image: section 1 symbol 1: name at st_name 0x6e3 runs to the end of the file without a NUL\n" + FAILED},
    // Relocation 0's r_info (at 0x250) naming symbol 6 of six.
    {"symbol_index_past_its_section", "linked image: symbol index past its section", which::linked_image,
     {word(0x250, 6 << 8 | R_ARM_JUMP_SLOT)},
     "linked image: section 6 relocation 0: symbol 6 is outside symbol section 1\n" + FAILED},
    {"symbols_sh_link_past_the_table", "linked image: symbol section's sh_link past the table", which::linked_image,
     {field(1, &Elf32_Shdr::sh_link, 17)},
     "linked image: section 1: sh_link 17 names no section (e_shnum 17)\n" + FAILED},
    {"symbols_sh_link_0xFFFFFFFF", "linked image: symbol section's sh_link 0xFFFFFFFF", which::linked_image,
     {field(1, &Elf32_Shdr::sh_link, 0xffffffff)},
     "linked image: section 1: sh_link 4294967295 names no section (e_shnum 17)\n" + FAILED},

    // Slots: relocation 0's r_offset (at 0x24c) where its 4 bytes are not all inside the image,
    // over the module magic, or in the image's last four bytes.
    {"r_offset_size_minus_3", "linked image: r_offset size - 3", which::linked_image, {word(0x24c, 0x8e9)},
     "relocate symbol sys_write failed: offset 0x8e9 is outside the image\n" + FAILED},
    {"r_offset_size_minus_2", "linked image: r_offset size - 2", which::linked_image, {word(0x24c, 0x8ea)},
     "relocate symbol sys_write failed: offset 0x8ea is outside the image\n" + FAILED},
    {"r_offset_size_minus_1", "linked image: r_offset size - 1", which::linked_image, {word(0x24c, 0x8eb)},
     "relocate symbol sys_write failed: offset 0x8eb is outside the image\n" + FAILED},
    {"r_offset_0xFFFFFFFF", "linked image: r_offset 0xFFFFFFFF", which::linked_image, {word(0x24c, 0xffffffff)},
     "relocate symbol sys_write failed: offset 0xffffffff is outside the image\n" + FAILED},
    {"r_offset_0", "linked image: r_offset 0", which::linked_image, {word(0x24c, 0)},
     "relocate symbol sys_write failed: offset 0x0 overlaps the module magic\n" + FAILED},
    {"r_offset_3", "linked image: r_offset 3", which::linked_image, {word(0x24c, 3)},
     "relocate symbol sys_write failed: offset 0x3 overlaps the module magic\n" + FAILED},
    {"r_offset_size_minus_4_filled", "linked image: r_offset size - 4 is filled", which::linked_image,
     {word(0x24c, 0x8e8)}, OK, 0,
     {{0x8e8, 0x20124}, {0x388, 0x20130}, {0x38c, 0x20138}, {0x390, 0x20141}}},

    // The link file's build attributes: made to say an M-profile core, the module's ARM PLT is
    // refused. Attributes that cannot be read say nothing, and the module welds as before.
    {"attributes_naming_M_profile", "link file: build attributes naming an M-profile core", which::link_file,
     {byte(0x19c, 'M')}, REFUSED},
    {"attributes_naming_v7E_M_by_arch", "link file: build attributes naming v7E-M by Tag_CPU_arch alone",
     which::link_file, {byte(0x19a, 13)}, REFUSED},
    {"M_attributes_sh_offset_past_end", "link file: build attributes for M with sh_offset past the end",
     which::link_file, {byte(0x19c, 'M'), field(5, &Elf32_Shdr::sh_offset, 1140)}, OK, 0},
    {"M_attributes_sh_size_huge", "link file: build attributes for M with sh_size huge", which::link_file,
     {byte(0x19c, 'M'), field(5, &Elf32_Shdr::sh_size, 0xfffffff0)}, OK, 0},
    {"M_attributes_cut_before_profile", "link file: build attributes for M cut before the profile", which::link_file,
     {byte(0x19c, 'M'), field(5, &Elf32_Shdr::sh_size, 0x18)}, OK, 0},
    {"M_attributes_subsection_too_long", "link file: build attributes for M with a subsection longer than the section",
     which::link_file, {byte(0x19c, 'M'), word(0x184, 0x36)}, OK, 0},
    {"M_attributes_subsection_length_0", "link file: build attributes for M with a subsection of length 0",
     which::link_file, {byte(0x19c, 'M'), word(0x184, 0)}, OK, 0},
    {"M_attributes_file_group_size_0", "link file: build attributes for M with a file group of size 0",
     which::link_file, {byte(0x19c, 'M'), word(0x18f, 0)}, OK, 0},
    {"attributes_number_to_the_end", "link file: build attributes with a number running to the section's end",
     which::link_file, {fill(0x193, 0x1b9, 0x80)}, OK, 0},
    // Cores that run no PLT a linker writes, and the float convention (Tag_ABI_VFP_args, 28,
    // written over Tag_ARM_ISA_use).
    {"attributes_naming_ARMv6_M", "link file: build attributes naming ARMv6-M", which::link_file, {byte(0x19a, 11)},
     "linked image: the PLT at 0x2c0 is ARM code, which the link file's ARMv6-M core cannot run (no linker writes a "
     "PLT it can): build the module without jump slots, reaching the target through function pointers it hands the "
     "module\n" + FAILED},
    {"attributes_naming_ARMv6S_M", "link file: build attributes naming ARMv6S-M", which::link_file, {byte(0x19a, 12)},
     "linked image: the PLT at 0x2c0 is ARM code, which the link file's ARMv6S-M core cannot run (no linker writes a "
     "PLT it can): build the module without jump slots, reaching the target through function pointers it hands the "
     "module\n" + FAILED},
    {"attributes_naming_ARMv8_M_baseline", "link file: build attributes naming ARMv8-M baseline", which::link_file,
     {byte(0x19a, 16), byte(0x19c, 'M')},
     "linked image: the PLT at 0x2c0 is ARM code, which the link file's ARMv8-M baseline core cannot run (no linker writes a "
     "PLT it can): build the module without jump slots, reaching the target through function pointers it hands the "
     "module\n" + FAILED},
    {"floats_in_VFP_registers", "link file: floats in VFP registers", which::link_file, {byte(0x19d, 28)},
     "linked image: the module passes floating-point arguments in core registers (-mfloat-abi=soft or softfp), "
     "the link file's target in VFP registers (-mfloat-abi=hard): build the module with the target's "
     "-mfloat-abi\n" + FAILED},
    {"floats_in_VFP_registers", "linked image: floats in VFP registers", which::linked_image, {byte(0x3e5, 28)},
     "linked image: the module passes floating-point arguments in VFP registers (-mfloat-abi=hard), the link "
     "file's target in core registers (-mfloat-abi=soft or softfp): build the module with the target's "
     "-mfloat-abi\n" + FAILED},
    {"VFP_floats_in_cut_attributes", "linked image: floats in VFP registers in attributes cut before their end",
     which::linked_image, {byte(0x3e5, 28), field(13, &Elf32_Shdr::sh_size, 0x20)}, OK, 0},
    {"floats_in_toolchain_registers", "link file: floats in toolchain-specific registers", which::link_file,
     {byte(0x19d, 28), byte(0x19e, 2)}, OK, 0},
    {"floats_compatible_with_both", "link file: floats compatible with both conventions", which::link_file,
     {byte(0x19d, 28), byte(0x19e, 3)}, OK, 0},
    {"VFP_floats_sh_offset_past_end", "link file: floats in VFP registers with sh_offset past the end",
     which::link_file, {byte(0x19d, 28), field(5, &Elf32_Shdr::sh_offset, 1140)}, OK, 0},

    // Sections over the header or over each other; section 7 (target.elf's .shstrtab, module.so's
    // .rodata) is the spare, moved to address 0 where it is allocated: only the overlap is wrong.
    // With no jump slot among the header's bytes, nothing is left to fill.
    {"rel_section_over_ELF_header", "linked image: the relocation section covers the ELF header", which::linked_image,
     {field(6, &Elf32_Shdr::sh_offset, 0), field(6, &Elf32_Shdr::sh_size, 52)}, OK, 0, {}},
    {"second_symbol_section_same_symbols", "link file: a second symbol section over the same symbols", which::link_file,
     {field(7, &Elf32_Shdr::sh_type, SHT_SYMTAB), field(7, &Elf32_Shdr::sh_offset, 0x1bc),
      field(7, &Elf32_Shdr::sh_size, 0xb0), field(7, &Elf32_Shdr::sh_link, 8)},
     OK, 0},
    {"second_rel_section_same_slots", "linked image: a second relocation section over the same slots",
     which::linked_image,
     {field(7, &Elf32_Shdr::sh_type, SHT_REL), field(7, &Elf32_Shdr::sh_offset, 0x24c),
      field(7, &Elf32_Shdr::sh_size, 0x20), field(7, &Elf32_Shdr::sh_link, 1)},
     OK, 0},
    {"symbol_section_over_whole_file", "link file: a symbol section over the whole file besides the real one",
     which::link_file,
     {field(7, &Elf32_Shdr::sh_type, SHT_SYMTAB), field(7, &Elf32_Shdr::sh_offset, 0),
      field(7, &Elf32_Shdr::sh_size, 1140)},
     "link file: section 7: sh_size 0x474 would make the sections walked so far larger than the file (1140 bytes); "
     "they overlap\n" + OK,
     0},
    {"rel_section_over_whole_file", "linked image: a relocation section over the whole file besides the real one",
     which::linked_image,
     {field(7, &Elf32_Shdr::sh_type, SHT_REL), field(7, &Elf32_Shdr::sh_offset, 0),
      field(7, &Elf32_Shdr::sh_addr, 0), field(7, &Elf32_Shdr::sh_size, 2284)},
     "linked image: section 7: sh_size 0x8ec would make the sections walked so far larger than the file (2284 "
     "bytes); they overlap\n" + FAILED},
};

class malformed_test : public tool_test, public ::testing::WithParamInterface<field_case> {};

// Not killed, the exit status, the exact output, and after a failure an existing module
// image left as it was; after success a module image that differs from the linked image in
// nothing but the magic and the filled slots.
TEST_P(malformed_test, EndsCleanly)
{
    const field_case& c = GetParam();
    bytes link = pair().link, image = pair().image;
    for (const patch& p : c.patches)
        p(c.input == which::link_file ? link : image);
    put("k.elf", link);
    put("app.so", image);
    put("out.mo", KEEP);
    std::vector<std::string> args = {"-l", "k.elf", "-o", "out.mo", "app.so"};
    if (c.traced)
        args.insert(args.begin(), {"-D", "1"});
    const run_result r = run(args);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(get("out.mo"), c.status == 0 ? expected_module(image, c.filled) : KEEP);
}

// The rows that patch `input`.
std::vector<field_case> cases_for(which input)
{
    std::vector<field_case> found;
    for (const field_case& c : CASES)
        if (c.input == input)
            found.push_back(c);
    return found;
}

std::string row_name(const ::testing::TestParamInfo<field_case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(LinkFile, malformed_test, ::testing::ValuesIn(cases_for(which::link_file)), row_name);
INSTANTIATE_TEST_SUITE_P(LinkedImage, malformed_test, ::testing::ValuesIn(cases_for(which::linked_image)), row_name);

} // namespace
