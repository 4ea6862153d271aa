// Hostile input through the binary: each case patches one field of the real pair in
// tests/hostile, so that it reaches exactly the check it is named after.
#include "run_tool.h"

#include "symtab/hash_table.h"

#include <cstdio>
#include <algorithm>
#include <functional>
#include <map>

namespace fs = std::filesystem;

namespace {

const bytes KEEP = {'k', 'e', 'e', 'p'};

bytes fixture(const char* name)
{
    bytes b = read_file(fs::path(MODWELD_HOSTILE_DIR) / name);
    if (b.empty())
        ADD_FAILURE() << "missing fixture " << name;
    return b;
}

std::string hex(std::uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

std::uint32_t e_shnum(const bytes& b)
{
    return header_field(b, &Elf32_Ehdr::e_shnum);
}

std::uint32_t first_section(const bytes& b, std::uint32_t type)
{
    for (std::uint32_t i = 0; i < e_shnum(b); ++i)
        if (section_field(b, i, &Elf32_Shdr::sh_type) == type)
            return i;
    ADD_FAILURE() << "no section of type " << type;
    return 0;
}

std::string name_at(const bytes& b, std::uint32_t strtab, std::uint32_t st_name)
{
    std::string s;
    for (std::size_t at = section_field(b, strtab, &Elf32_Shdr::sh_offset) + st_name; b.at(at) != 0; ++at)
        s.push_back(static_cast<char>(b[at]));
    return s;
}

// The real pair: where its records are, and what a correct weld writes.
struct real_pair {
    bytes link = fixture("target.elf");
    bytes image = fixture("module.so");
    std::uint32_t symtab = first_section(link, SHT_SYMTAB);
    std::uint32_t strtab = section_field(link, symtab, &Elf32_Shdr::sh_link);
    std::uint32_t rel = first_section(image, SHT_REL);
    std::uint32_t dynsym = section_field(image, rel, &Elf32_Shdr::sh_link);
    std::uint32_t dynstr = section_field(image, dynsym, &Elf32_Shdr::sh_link);
    std::vector<std::string> imports;                           // in relocation order
    std::vector<std::pair<std::uint32_t, std::uint32_t>> slots; // r_offset, value
    std::uint32_t function_symbol = 0;                          // .symtab index of imports[0]

    real_pair()
    {
        std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> functions; // name -> value, index
        for (std::uint32_t j = 0; j < section_field(link, symtab, &Elf32_Shdr::sh_size) / 16; ++j) {
            const std::size_t at = section_field(link, symtab, &Elf32_Shdr::sh_offset) + 16 * j;
            if ((link.at(at + 12) & 0xf) == STT_FUNC)
                functions[name_at(link, strtab, get_u32(link, at))] = {get_u32(link, at + 4), j};
        }
        for (std::uint32_t j = 0; j < section_field(image, rel, &Elf32_Shdr::sh_size) / 8; ++j) {
            const std::size_t at = section_field(image, rel, &Elf32_Shdr::sh_offset) + 8 * j;
            const std::uint32_t sym = get_u32(image, at + 4) >> 8;
            imports.push_back(name_at(image, dynstr, get_u32(image, section_field(image, dynsym, &Elf32_Shdr::sh_offset) + 16 * sym)));
            slots.emplace_back(get_u32(image, at), functions.at(imports.back()).first);
        }
        function_symbol = functions.at(imports.at(0)).second;
    }

    // Every import reported as not found, then the stage's failure.
    std::string all_missing() const
    {
        std::string out;
        for (const std::string& name : imports)
            out += "relocate symbol " + name + " failed\n";
        return out + "relocation failed\n";
    }
};

const real_pair& pair()
{
    static const real_pair p;
    return p;
}

enum class which { link_file, linked_image };

struct hostile_case {
    std::string what;
    which input;
    std::function<void(bytes&)> patch;
    std::function<std::string(const bytes&)> out; // the whole standard output, from the patched input
    int status = 1;
    bool slots_filled = true; // after status 0
};

void PrintTo(const hostile_case& c, std::ostream* os) { *os << c.what; }

class malformed_test : public tool_test, public ::testing::WithParamInterface<hostile_case> {};

// Not killed, the exit status, the exact output, and after a failed module stage an
// existing module image left as it was; after success a module image that differs from
// the linked image in nothing but the magic and the real slots.
TEST_P(malformed_test, ReportsAndEndsCleanly)
{
    const hostile_case& c = GetParam();
    bytes link = pair().link, image = pair().image;
    c.patch(c.input == which::link_file ? link : image);
    put("k.elf", link);
    put("app.so", image);
    put("out.mo", KEEP);
    const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out(c.input == which::link_file ? link : image));
    EXPECT_EQ(r.err, "");
    if (c.status != 0) {
        EXPECT_EQ(get("out.mo"), KEEP);
    } else {
        const auto no_slots = decltype(pair().slots){};
        EXPECT_EQ(get("out.mo"), expected_module(image, c.slots_filled ? pair().slots : no_slots));
    }
}

// Cases that apply to either input: `walked` is the section the stage walks (.symtab of
// the link file, .rel.plt of the linked image), `label` the prefix of its lines, and
// `then` what the run prints after the line.
std::vector<hostile_case> either_input(which input)
{
    const real_pair& p = pair();
    const bool is_link = input == which::link_file;
    const std::string label = is_link ? "link file: " : "linked image: ";
    const std::uint32_t walked = is_link ? p.symtab : p.rel;
    const std::string then = is_link ? p.all_missing() : "relocation failed\n";

    auto table_line = [=](const bytes& b) {
        return label + "section header table at " + hex(header_field(b, &Elf32_Ehdr::e_shoff)) + " with " +
               std::to_string(e_shnum(b)) + " entries is outside the file (" + std::to_string(b.size()) +
               " bytes)\n" + then;
    };
    auto contents_line = [=](const bytes& b) {
        return label + "section " + std::to_string(walked) + ": sh_offset " + hex(section_field(b, walked, &Elf32_Shdr::sh_offset)) +
               " + sh_size " + hex(section_field(b, walked, &Elf32_Shdr::sh_size)) + " is outside the file (" +
               std::to_string(b.size()) + " bytes)\n" + then;
    };
    auto link_line = [=](const bytes& b) {
        return label + "section " + std::to_string(walked) + ": sh_link " +
               std::to_string(section_field(b, walked, &Elf32_Shdr::sh_link)) + " names no section (e_shnum " +
               std::to_string(e_shnum(b)) + ")\n" + then;
    };
    std::vector<hostile_case> cases = {
        {"e_shoff past the end", input, [](bytes& b) { set_header_field(b, &Elf32_Ehdr::e_shoff, static_cast<std::uint32_t>(b.size())); },
         table_line},
        {"e_shoff + 40 x e_shnum one byte past the end", input,
         [](bytes& b) { set_header_field(b, &Elf32_Ehdr::e_shoff, static_cast<std::uint32_t>(b.size() - 40 * e_shnum(b) + 1)); },
         table_line},
        {"e_shoff + 40 x e_shnum wrapping past 32 bits", input, [](bytes& b) { set_header_field(b, &Elf32_Ehdr::e_shoff, 0xffffff00u); },
         table_line},
        {"e_shnum 0xFFFF", input, [](bytes& b) { set_header_field(b, &Elf32_Ehdr::e_shnum, 0xffff); }, table_line},
        {"sh_offset past the end", input,
         [=](bytes& b) { set_section_field(b, walked, &Elf32_Shdr::sh_offset, static_cast<std::uint32_t>(b.size())); }, contents_line},
        {"sh_offset + sh_size wrapping past 32 bits", input,
         [=](bytes& b) { set_section_field(b, walked, &Elf32_Shdr::sh_offset, 0xfffffff0u); }, contents_line},
        {"sh_size huge", input, [=](bytes& b) { set_section_field(b, walked, &Elf32_Shdr::sh_size, 0xfffffff0u); }, contents_line},
        {"sh_link past the table", input, [=](bytes& b) { set_section_field(b, walked, &Elf32_Shdr::sh_link, e_shnum(b)); }, link_line},
        {"sh_link 0xFFFFFFFF", input, [=](bytes& b) { set_section_field(b, walked, &Elf32_Shdr::sh_link, 0xffffffffu); }, link_line},
        // The link file's names are then read from its symbol records: none is a real name.
        // The linked image's symbols are read from its relocations, 16 bytes apart: a symbol
        // index past half the entries is outside, and the others have st_value = an r_info.
        {"sh_link naming the section itself", input, [=](bytes& b) { set_section_field(b, walked, &Elf32_Shdr::sh_link, walked); },
         [=](const bytes& b) {
             if (is_link)
                 return then;
             std::string out;
             for (std::uint32_t j = 0; j < section_field(b, walked, &Elf32_Shdr::sh_size) / 8; ++j) {
                 const std::uint32_t sym = get_u32(b, section_field(b, walked, &Elf32_Shdr::sh_offset) + 8 * j + 4) >> 8;
                 if (sym >= section_field(b, walked, &Elf32_Shdr::sh_size) / 16)
                     out += label + "section " + std::to_string(walked) + " relocation " + std::to_string(j) +
                            ": symbol " + std::to_string(sym) + " is outside symbol section " +
                            std::to_string(walked) + "\n";
             }
             return out + then;
         }},
    };
    for (const std::size_t size : {0, 1, 4, 5, 51, 52}) {
        cases.push_back({"file of " + std::to_string(size) + " bytes", input,
                         [size](bytes& b) { b.resize(size); },
                         [=](const bytes& b) {
                             if (size < 5)
                                 return "check ELF header error\n" + then;
                             if (size < 52)
                                 return label + "ELF header is truncated (" + std::to_string(size) +
                                        " bytes, the header takes 52)\n" + then;
                             return table_line(b);
                         }});
    }
    for (hostile_case& c : cases)
        c.what = label + c.what;
    return cases;
}

// Cases about names and symbols. For the link file the name belongs to the function the
// first slot needs, so the run then misses exactly that one.
std::vector<hostile_case> name_cases()
{
    const real_pair& p = pair();
    const std::string first_missing = "relocate symbol " + p.imports[0] + " failed\n";
    auto link_st_name = [&p](bytes& b, std::uint32_t v) {
        put_u32(b, section_field(b, p.symtab, &Elf32_Shdr::sh_offset) + 16 * p.function_symbol, v);
    };
    auto image_st_name = [&p](bytes& b, std::uint32_t v) { put_u32(b, section_field(b, p.dynsym, &Elf32_Shdr::sh_offset) + 16 * 1, v); };
    auto end_of = [](const bytes& b, std::uint32_t strtab) {
        return static_cast<std::uint32_t>(b.size() - section_field(b, strtab, &Elf32_Shdr::sh_offset));
    };
    auto outside = [](const std::string& label, std::uint32_t section, std::uint32_t symbol, std::uint32_t st_name,
                      const char* how) {
        return label + "section " + std::to_string(section) + " symbol " + std::to_string(symbol) +
               ": name at st_name " + hex(st_name) + " " + how + "\n";
    };
    const char* OUTSIDE = "is outside the file";
    const char* NO_NUL = "runs to the end of the file without a NUL";
    return {
        {"link file: st_name past its string section reads on into the next bytes", which::link_file,
         [=](bytes& b) { link_st_name(b, section_field(b, p.strtab, &Elf32_Shdr::sh_size) + 1); },
         [=](const bytes&) { return first_missing + "relocation failed\n"; }},
        {"link file: st_name past the buffer", which::link_file,
         [=](bytes& b) { link_st_name(b, end_of(b, p.strtab)); },
         [=](const bytes& b) {
             return outside("link file: ", p.symtab, p.function_symbol, end_of(b, p.strtab), OUTSIDE) +
                    first_missing + "relocation failed\n";
         }},
        {"link file: st_name 0xFFFFFFFF", which::link_file, [=](bytes& b) { link_st_name(b, 0xffffffffu); },
         [=](const bytes&) {
             return outside("link file: ", p.symtab, p.function_symbol, 0xffffffffu, OUTSIDE) + first_missing +
                    "relocation failed\n";
         }},
        {"link file: a name running to the last byte without a NUL", which::link_file,
         [=](bytes& b) {
             b.back() = 'x';
             link_st_name(b, end_of(b, p.strtab) - 1);
         },
         [=](const bytes& b) {
             return outside("link file: ", p.symtab, p.function_symbol, end_of(b, p.strtab) - 1, NO_NUL) +
                    first_missing + "relocation failed\n";
         }},
        {"linked image: st_name past its string section reads on into the next bytes", which::linked_image,
         [=](bytes& b) { image_st_name(b, section_field(b, p.dynstr, &Elf32_Shdr::sh_size) + 1); },
         [=](const bytes& b) {
             return "relocate symbol " + name_at(b, p.dynstr, section_field(b, p.dynstr, &Elf32_Shdr::sh_size) + 1) +
                    " failed\nrelocation failed\n";
         }},
        {"linked image: st_name past the buffer", which::linked_image,
         [=](bytes& b) { image_st_name(b, end_of(b, p.dynstr)); },
         [=](const bytes& b) {
             return outside("linked image: ", p.dynsym, 1, end_of(b, p.dynstr), OUTSIDE) + "relocation failed\n";
         }},
        {"linked image: st_name 0xFFFFFFFF", which::linked_image, [=](bytes& b) { image_st_name(b, 0xffffffffu); },
         [=](const bytes&) {
             return outside("linked image: ", p.dynsym, 1, 0xffffffffu, OUTSIDE) + "relocation failed\n";
         }},
        {"linked image: a name running to the last byte without a NUL", which::linked_image,
         [=](bytes& b) {
             b.back() = 'x';
             image_st_name(b, end_of(b, p.dynstr) - 1);
         },
         [=](const bytes& b) {
             return outside("linked image: ", p.dynsym, 1, end_of(b, p.dynstr) - 1, NO_NUL) + "relocation failed\n";
         }},
        {"linked image: symbol index past its section", which::linked_image,
         [=](bytes& b) {
             put_u32(b, section_field(b, p.rel, &Elf32_Shdr::sh_offset) + 4, (section_field(b, p.dynsym, &Elf32_Shdr::sh_size) / 16) << 8 | R_ARM_JUMP_SLOT);
         },
         [=](const bytes& b) {
             return "linked image: section " + std::to_string(p.rel) + " relocation 0: symbol " +
                    std::to_string(section_field(b, p.dynsym, &Elf32_Shdr::sh_size) / 16) + " is outside symbol section " +
                    std::to_string(p.dynsym) + "\nrelocation failed\n";
         }},
        {"linked image: symbol section's sh_link past the table", which::linked_image,
         [=](bytes& b) { set_section_field(b, p.dynsym, &Elf32_Shdr::sh_link, e_shnum(b)); },
         [=](const bytes& b) {
             return "linked image: section " + std::to_string(p.dynsym) + ": sh_link " + std::to_string(e_shnum(b)) +
                    " names no section (e_shnum " + std::to_string(e_shnum(b)) + ")\nrelocation failed\n";
         }},
    };
}

// Slots whose 4 bytes are not all inside the image.
std::vector<hostile_case> slot_cases()
{
    const real_pair& p = pair();
    std::vector<hostile_case> cases;
    for (const std::uint32_t back : {3u, 2u, 1u, 0u}) {
        auto offset = [back](const bytes& b) {
            return back == 0 ? 0xffffffffu : static_cast<std::uint32_t>(b.size() - back);
        };
        const std::string at = back == 0 ? std::string("0xFFFFFFFF") : "size - " + std::to_string(back);
        cases.push_back({"linked image: r_offset " + at,
                         which::linked_image,
                         [=](bytes& b) { put_u32(b, section_field(b, p.rel, &Elf32_Shdr::sh_offset), offset(b)); },
                         [=](const bytes& b) {
                             return "relocate symbol " + p.imports[0] + " failed: offset " + hex(offset(b)) +
                                    " is outside the image\nrelocation failed\n";
                         }});
    }
    return cases;
}

// Slots over the module magic: written there, the module image would not start with it.
std::vector<hostile_case> magic_cases()
{
    const real_pair& p = pair();
    std::vector<hostile_case> cases;
    for (const std::uint32_t offset : {0u, 3u})
        cases.push_back({"linked image: r_offset " + std::to_string(offset), which::linked_image,
                         [=](bytes& b) { put_u32(b, section_field(b, p.rel, &Elf32_Shdr::sh_offset), offset); },
                         [=](const bytes&) {
                             return "relocate symbol " + p.imports[0] + " failed: offset " + hex(offset) +
                                    " overlaps the module magic\nrelocation failed\n";
                         }});
    return cases;
}

// The link file's build attributes. The real pair's say Tag_CPU_arch_profile 'A' (bytes 07 41);
// made to say 'M', the module's ARM PLT (readelf: .plt at 0x2c0) is refused. Attributes that
// cannot be read say nothing, and the module welds as before.
std::vector<hostile_case> attribute_cases()
{
    const std::uint32_t attributes = first_section(pair().link, SHT_ARM_ATTRIBUTES);
    auto profile_at = [=](const bytes& b) {
        const auto start = b.begin() + section_field(b, attributes, &Elf32_Shdr::sh_offset);
        const std::uint8_t tag_and_value[] = {0x07, 'A'};
        return static_cast<std::uint32_t>(std::search(start, start + section_field(b, attributes, &Elf32_Shdr::sh_size),
                                                      std::begin(tag_and_value), std::end(tag_and_value)) -
                                          b.begin());
    };
    auto m_profile = [=](bytes& b) { b.at(profile_at(b) + 1) = 'M'; };
    auto set = [=](ul32 Elf32_Shdr::*f, std::uint32_t v) {
        return [=](bytes& b) {
            m_profile(b);
            set_section_field(b, attributes, f, v);
        };
    };
    auto refused = [](const bytes&) {
        return std::string("linked image: the PLT at 0x2c0 is ARM code, which the link file's M-profile core cannot "
                           "run: link the module with GNU ld and an M-profile -mcpu, or with ld.lld 19 or later\n"
                           "relocation failed\n");
    };
    auto welds = [](const bytes&) { return std::string("relocation sucessfully\n"); };
    const std::string label = "link file: build attributes ";
    return {
        {label + "naming an M-profile core", which::link_file, m_profile, refused},
        {label + "naming v7E-M by Tag_CPU_arch alone", which::link_file,
         [=](bytes& b) { b.at(profile_at(b) - 1) = 13; }, refused},
        {label + "for M with sh_offset past the end", which::link_file,
         [=](bytes& b) { set(&Elf32_Shdr::sh_offset, static_cast<std::uint32_t>(b.size()))(b); }, welds, 0},
        {label + "for M with sh_size huge", which::link_file, set(&Elf32_Shdr::sh_size, 0xfffffff0u), welds, 0},
        {label + "for M cut before the profile", which::link_file,
         [=](bytes& b) { set(&Elf32_Shdr::sh_size, profile_at(b) - section_field(b, attributes, &Elf32_Shdr::sh_offset))(b); }, welds, 0},
        {label + "for M with a subsection longer than the section", which::link_file,
         [=](bytes& b) {
             m_profile(b);
             put_u32(b, section_field(b, attributes, &Elf32_Shdr::sh_offset) + 1, section_field(b, attributes, &Elf32_Shdr::sh_size));
         },
         welds, 0},
        {label + "for M with a subsection of length 0", which::link_file,
         [=](bytes& b) {
             m_profile(b);
             put_u32(b, section_field(b, attributes, &Elf32_Shdr::sh_offset) + 1, 0);
         },
         welds, 0},
        {label + "for M with a file group of size 0", which::link_file,
         [=](bytes& b) {
             m_profile(b);
             put_u32(b, section_field(b, attributes, &Elf32_Shdr::sh_offset) + 12, 0);
         },
         welds, 0},
        {label + "with a number running to the section's end", which::link_file,
         [=](bytes& b) {
             const std::uint32_t end = section_field(b, attributes, &Elf32_Shdr::sh_offset) + section_field(b, attributes, &Elf32_Shdr::sh_size);
             for (std::uint32_t k = section_field(b, attributes, &Elf32_Shdr::sh_offset) + 16; k < end; ++k)
                 b.at(k) = 0x80;
         },
         welds, 0},
    };
}

// Sections over the header or over each other.
std::vector<hostile_case> overlap_cases()
{
    const real_pair& p = pair();
    auto copy_header = [](bytes& b, std::uint32_t from, std::uint32_t to) {
        for (ul32 Elf32_Shdr::*f : {&Elf32_Shdr::sh_type, &Elf32_Shdr::sh_offset, &Elf32_Shdr::sh_size, &Elf32_Shdr::sh_link})
            set_section_field(b, to, f, section_field(b, from, f));
    };
    auto spare = [](const bytes& b, std::uint32_t after) { return after + 1 < e_shnum(b) ? after + 1 : after - 1; };
    auto whole_file = [](bytes& b, std::uint32_t section, std::uint32_t type) {
        set_section_field(b, section, &Elf32_Shdr::sh_type, type);
        set_section_field(b, section, &Elf32_Shdr::sh_offset, 0);
        set_section_field(b, section, &Elf32_Shdr::sh_addr, 0); // still at its address: only the overlap is wrong
        set_section_field(b, section, &Elf32_Shdr::sh_size, static_cast<std::uint32_t>(b.size()));
    };
    auto too_much = [](const std::string& label, const bytes& b, std::uint32_t section) {
        return label + "section " + std::to_string(section) + ": sh_size " + hex(section_field(b, section, &Elf32_Shdr::sh_size)) +
               " would make the sections walked so far larger than the file (" + std::to_string(b.size()) +
               " bytes); they overlap\n";
    };
    const std::uint32_t link_spare = spare(p.link, p.symtab), image_spare = spare(p.image, p.rel);
    return {
        // With no jump slot among the header's bytes, nothing is left to fill.
        {"linked image: the relocation section covers the ELF header", which::linked_image,
         [=](bytes& b) {
             set_section_field(b, p.rel, &Elf32_Shdr::sh_offset, 0);
             set_section_field(b, p.rel, &Elf32_Shdr::sh_size, 52);
         },
         [](const bytes&) { return std::string("relocation sucessfully\n"); }, 0, false},
        {"link file: a second symbol section over the same symbols", which::link_file,
         [=](bytes& b) { copy_header(b, p.symtab, link_spare); },
         [](const bytes&) { return std::string("relocation sucessfully\n"); }, 0},
        {"linked image: a second relocation section over the same slots", which::linked_image,
         [=](bytes& b) { copy_header(b, p.rel, image_spare); },
         [](const bytes&) { return std::string("relocation sucessfully\n"); }, 0},
        {"link file: a symbol section over the whole file besides the real one", which::link_file,
         [=](bytes& b) { whole_file(b, link_spare, SHT_SYMTAB); },
         [=](const bytes& b) { return too_much("link file: ", b, link_spare) + "relocation sucessfully\n"; }, 0},
        {"linked image: a relocation section over the whole file besides the real one", which::linked_image,
         [=](bytes& b) { whole_file(b, image_spare, SHT_REL); },
         [=](const bytes& b) { return too_much("linked image: ", b, image_spare) + "relocation failed\n"; }},
    };
}

std::vector<hostile_case> all_cases()
{
    std::vector<hostile_case> cases = either_input(which::link_file);
    for (auto more : {either_input(which::linked_image), name_cases(), slot_cases(), magic_cases(), attribute_cases(),
                      overlap_cases()})
        cases.insert(cases.end(), more.begin(), more.end());
    return cases;
}

std::string case_name(const ::testing::TestParamInfo<hostile_case>& info)
{
    std::string name;
    for (const char ch : info.param.what)
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(OneField, malformed_test, ::testing::ValuesIn(all_cases()), case_name);

class hostile_run_test : public tool_test {
protected:
    // The linked image has nothing to fill: the run succeeds and only the magic changes.
    void expect_nothing_to_fill(const bytes& image, const std::string& what)
    {
        put("k.elf", pair().link);
        put("app.so", image);
        const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
        EXPECT_EQ(r.status, 0) << what;
        EXPECT_EQ(r.out, "relocation sucessfully\n") << what;
        EXPECT_EQ(get("out.mo"), expected_module(image, {})) << what;
    }

    // The link file yields no functions: every slot is missing and nothing is written.
    void expect_no_functions(const bytes& link)
    {
        put("k.elf", link);
        put("app.so", pair().image);
        fs::remove(path("out.mo"));
        const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, pair().all_missing());
        EXPECT_FALSE(exists("out.mo"));
    }
};


// Valid oddities are still accepted: a section header size other than 40 (the table is
// walked 40 bytes apart all the same), a big-endian mark (read little-endian all the
// same), and a slot in the image's last four bytes.
TEST_F(hostile_run_test, ValidOdditiesAreAccepted)
{
    const real_pair& p = pair();
    bytes image = p.image;
    set_header_field(image, &Elf32_Ehdr::e_shentsize, 0);
    image[EI_DATA] = ELFDATA2MSB;
    const auto last = static_cast<std::uint32_t>(image.size() - 4);
    put_u32(image, section_field(image, p.rel, &Elf32_Shdr::sh_offset), last);
    put("k.elf", p.link);
    put("app.so", image);
    const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "relocation sucessfully\n");
    auto slots = p.slots;
    slots[0].first = last;
    EXPECT_EQ(get("out.mo"), expected_module(image, slots));
}

TEST_F(hostile_run_test, NoSectionsMeansNothingToFill)
{
    bytes image = pair().image;
    set_header_field(image, &Elf32_Ehdr::e_shnum, 0);
    for (const std::uint32_t e_shoff : {header_field(image, &Elf32_Ehdr::e_shoff), 0u, 0xfffffff0u}) {
        // With no entries, e_shoff points at nothing that is read: any value will do.
        set_header_field(image, &Elf32_Ehdr::e_shoff, e_shoff);
        expect_nothing_to_fill(image, "e_shoff " + hex(e_shoff));
    }
    bytes link = pair().link;
    set_header_field(link, &Elf32_Ehdr::e_shnum, 0);
    expect_no_functions(link);
}

// An empty section has no bytes to read, so its offset may point anywhere: the walked
// section then has no entries, as if it had been empty in place.
TEST_F(hostile_run_test, EmptySectionsMayPointAnywhere)
{
    bytes image = pair().image;
    set_section_field(image, pair().rel, &Elf32_Shdr::sh_size, 0);
    set_section_field(image, pair().rel, &Elf32_Shdr::sh_offset, 0xfffffff0u);
    expect_nothing_to_fill(image, "empty .rel.plt");

    bytes link = pair().link;
    set_section_field(link, pair().symtab, &Elf32_Shdr::sh_size, 0);
    set_section_field(link, pair().symtab, &Elf32_Shdr::sh_offset, static_cast<std::uint32_t>(link.size() + 1));
    expect_no_functions(link);
}

// Many function symbols whose names start at successive bytes of one long NUL-free run:
// each name reaches to the run's far end. Without a bound this is ~10^11 bytes scanned and
// copied; the walk stops once the names have taken the file's size + 64 MiB.
TEST_F(hostile_run_test, NamesSharingOneLongRunStopTheLinkFileWalk)
{
    constexpr std::uint32_t RUN = 1u << 20, COUNT = 1u << 16;
    symbol_builder s;
    s.strtab.assign(RUN, 'a');
    s.strtab.push_back(0);
    for (std::uint32_t j = 1; j < COUNT; ++j)
        s.add_raw(j, 0x1000 + j, elf32_st_info(STB_GLOBAL, STT_FUNC));
    elf_writer w;
    const std::uint32_t strtab = w.add_section(SHT_STRTAB, s.strtab);
    const std::uint32_t symtab = w.add_section(SHT_SYMTAB, s.symtab, strtab);
    const bytes link = w.finish();
    put("k.elf", link);
    put("app.so", pair().image);
    const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    const std::string line = "the names read take more than " + std::to_string(link.size() + (64u << 20)) +
                             " bytes (the file's size + 64 MiB); no more names are read\n";
    EXPECT_EQ(r.out.rfind("link file: section " + std::to_string(symtab) + " symbol ", 0), 0u)
        << r.out.substr(0, 200);
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out.substr(0, 200);
    EXPECT_EQ(r.out.substr(r.out.find(line) + line.size()), pair().all_missing());
    EXPECT_FALSE(exists("out.mo"));
}

// The module stage's lookups: many jump slots whose symbol has a name of one MiB.
TEST_F(hostile_run_test, SlotsSharingOneLongNameStopTheModuleWalk)
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
    put("k.elf", pair().link);
    put("app.so", image);
    put("out.mo", KEEP);
    const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    const std::string line = "linked image: section " + std::to_string(dynsym) + " symbol 1: the names read take " +
                             "more than " + std::to_string(image.size() + (64u << 20)) +
                             " bytes (the file's size + 64 MiB); no more names are read\n";
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out.substr(0, 200);
    EXPECT_EQ(r.out.substr(r.out.size() - 18), "relocation failed\n");
    EXPECT_EQ(get("out.mo"), KEEP);
}

// Many relocation section headers over the same entries: only as much as the file holds
// is walked (without that, 4 * 10^9 entries), and every further section is reported.
TEST_F(hostile_run_test, RelocationSectionsPiledOnOneAnotherAreWalkedOnlyAsFarAsTheFileGoes)
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
    put("k.elf", pair().link);
    put("app.so", image);
    const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    const std::size_t walked = image.size() / (ENTRIES * 8);
    const std::string first = "linked image: section " + std::to_string(walked + 2) + ": sh_size " +
                              hex(ENTRIES * 8) + " would make the sections walked so far larger than the file (" +
                              std::to_string(image.size()) + " bytes); they overlap\n";
    EXPECT_EQ(r.out.rfind(first, 0), 0u) << r.out.substr(0, 300);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), SECTIONS - 2 - walked + 1);
    EXPECT_FALSE(exists("out.mo"));
}

// Lookups of a name that shares its bucket with many entries of another name: every lookup
// walks the whole chain, entries x lookups comparisons in all (without a bound, hours for two
// files of a few megabytes). The lookups stop once they have cost 16 x the linked image's
// size + 256 Mi units, with one line, and every slot not yet looked up stays unfilled.
TEST_F(hostile_run_test, LookupsAlongOneLongChainStopOnceTheyHaveCostTooMuch)
{
    constexpr std::uint32_t ENTRIES = 20000, SLOTS = 20000;
    const bytes link = make_link_file(std::vector<link_symbol>(ENTRIES, link_symbol{"dup", 0x1001}));
    const std::int32_t buckets = 2 * (ENTRIES + 1);
    std::string other;
    for (int i = 0; other.empty(); ++i) {
        char candidate[16];
        std::snprintf(candidate, sizeof candidate, "x%d", i);
        if (hash_table_hash(candidate, buckets) == hash_table_hash("dup", buckets))
            other = candidate;
    }
    const bytes image = make_module(std::vector<module_import>(SLOTS, module_import{other})).image;
    put("k.elf", link);
    put("app.so", image);
    const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    const std::string line = "looking names up has cost more than " +
                             std::to_string(16 * image.size() + (256u << 20)) +
                             " comparisons (16 x the file's size + 256 Mi); no more names are looked up\n";
    const std::size_t at = r.out.find(line);
    ASSERT_NE(at, std::string::npos) << r.out.substr(0, 300);
    EXPECT_EQ(r.out.find(line, at + 1), std::string::npos);
    const std::string missing = "relocate symbol " + other + " failed\n";
    std::size_t reported = 0;
    for (std::size_t p = r.out.find(missing); p != std::string::npos; p = r.out.find(missing, p + 1))
        ++reported;
    EXPECT_GT(reported, 0u);
    EXPECT_LT(reported, SLOTS);
    EXPECT_EQ(r.out.substr(r.out.size() - 18), "relocation failed\n");
    EXPECT_FALSE(exists("out.mo"));
}

// Inputs that once broke something, kept under tests/hostile/crashes and named after it:
// link_file-* is a link file, module-* a linked image, pair-* a 4-byte length, a link file
// of that length and a linked image, options-* an argument vector split at NULs.
TEST_F(hostile_run_test, KeptCrashInputsEndCleanly)
{
    const fs::path dir = fs::path(MODWELD_HOSTILE_DIR) / "crashes";
    if (!fs::exists(dir))
        GTEST_SKIP() << "no kept inputs";
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        SCOPED_TRACE(name);
        const bytes input = read_file(e.path());
        bytes link = pair().link, image = pair().image;
        std::vector<std::string> args = {"-l", "k.elf", "-o", "out.mo", "app.so"};
        if (name.rfind("link_file-", 0) == 0) {
            link = input;
        } else if (name.rfind("module-", 0) == 0) {
            image = input;
        } else if (name.rfind("pair-", 0) == 0 && input.size() >= 4) {
            const std::size_t n = std::min<std::size_t>(get_u32(input, 0), input.size() - 4);
            link.assign(input.begin() + 4, input.begin() + 4 + static_cast<std::ptrdiff_t>(n));
            image.assign(input.begin() + 4 + static_cast<std::ptrdiff_t>(n), input.end());
        } else if (name.rfind("options-", 0) == 0) {
            std::vector<std::string> parts(1);
            for (const std::uint8_t b : input) {
                if (b == 0)
                    parts.emplace_back();
                else
                    parts.back().push_back(static_cast<char>(b));
            }
            args.assign(parts.begin() + 1, parts.end()); // argv[0] is the binary's own
        } else {
            ADD_FAILURE() << "unknown kind of kept input";
            continue;
        }
        put("k.elf", link);
        put("app.so", image);
        fs::remove(path("out.mo"));
        const run_result r = run(args);
        EXPECT_EQ(r.signal, 0);
        EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
        if (r.status == 0 && name.rfind("options-", 0) != 0) {
            EXPECT_EQ(get("out.mo").size(), image.size());
        }
    }
}

} // namespace
