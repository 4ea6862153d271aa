// The command line and file handling, through the built binary.
#include "run_tool.h"

#include <sys/stat.h>

#include <filesystem>

namespace {

const std::string USAGE = "Usage: modweld.exe [-V][-l filename][-o output] Filename\n"
                          "   -V: Print version infomation\n"
                          "   -l <filename>: Orvanel elf image\n"
                          "   -o <output>:   Module image to be created\n"
                          "   Filename: Linked image\n";
const std::string BANNER = "slotfill version 2010-07-18\n\n";

struct scan_case {
    const char* what;
    std::vector<std::string> args;
    std::string out;
    std::string err;
};

void PrintTo(const scan_case& c, std::ostream* os) { *os << c.what; }

class command_line_test : public tool_test, public ::testing::WithParamInterface<scan_case> {};

// Every case ends with status 1 and leaves the directory as it was: no input is opened
// far enough to matter and nothing is created.
TEST_P(command_line_test, EndsWithStatusOne)
{
    const scan_case& c = GetParam();
    put("out.mo", {'o', 'l', 'd'});
    const run_result r = run(c.args);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(get("out.mo"), (bytes{'o', 'l', 'd'}));
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, command_line_test,
    ::testing::Values(
        scan_case{"version alone", {"-V"}, "", BANNER},
        scan_case{"version wins over the paths", {"-l", "k.elf", "-V", "x", "-o", "out.mo", "app.so"}, "", BANNER},
        scan_case{"version with missing paths", {"-V", "-V"}, "", BANNER},
        scan_case{"help after version", {"-V", "x", "-h", "y"}, "", USAGE},
        scan_case{"help", {"-h"}, "", USAGE},
        scan_case{"colon is a findable letter", {"-:"}, "", USAGE},
        scan_case{"lone dash", {"-", "-l", "k.elf", "-o", "out.mo", "app.so"}, "", USAGE},
        scan_case{"help wins over a later bad path", {"-l", "k.elf", "-h"}, "", USAGE},
        scan_case{"value of -D is -V", {"-D", "-V"}, "Output file can't be empty\n", USAGE},
        scan_case{"-D swallows -l", {"-D", "-l", "k.elf", "-o", "out.mo", "app.so"}, "Output file can't be empty\n",
                  USAGE},
        scan_case{"no arguments", {}, "Output file can't be empty\n", USAGE},
        scan_case{"-o last has no value", {"-l", "k.elf", "-o"}, "Output file can't be empty\n", USAGE},
        scan_case{"unknown letter ends the scan", {"-x", "-l", "k.elf", "-o", "out.mo", "app.so"},
                  "Output file can't be empty\n", USAGE},
        scan_case{"only the second character counts", {"-lk.elf", "-o", "out.mo", "app.so"},
                  "Output file can't be empty\n", USAGE},
        scan_case{"link file missing", {"-o", "out.mo", "app.so"}, "Link file can't be empty\n", USAGE},
        scan_case{"later -l without value", {"-l", "k.elf", "-o", "out.mo", "-l"}, "Link file can't be empty\n",
                  USAGE},
        scan_case{"scan stops at a positional", {"app.so", "-l", "k.elf", "-o", "out.mo"},
                  "Output file can't be empty\n", USAGE}),
    [](const ::testing::TestParamInfo<scan_case>& info) {
        std::string name;
        for (const char* p = info.param.what; *p != '\0'; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

// A pair that relocates successfully: f0 is imported and defined.
class driver_test : public tool_test {
protected:
    void SetUp() override
    {
        tool_test::SetUp();
        put("k.elf", make_link_file({{"f0", 0x1001}}));
        module_ = make_module({{"f0"}});
        put("app.so", module_.image);
    }
    bytes module_image() const { return expected_module(module_.image, {{module_.slot_offsets[0], 0x1001}}); }

    module_layout module_;
};

TEST_F(driver_test, MessageAndUsageStayInOrderOnOneStream)
{
    run_options merged;
    merged.merge_streams = true;
    const run_result r = run({"-l", "k.elf", "-o"}, merged);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Output file can't be empty\n" + USAGE);
}

TEST_F(driver_test, WritesTheModuleImage)
{
    const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "relocation sucessfully\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(get("out.mo"), module_image());
    EXPECT_EQ(get("app.so"), module_.image); // the input is left alone
}

// A Windows console program writes text lines ending in CR LF, and the scripts, editors and
// consoles there expect them: the tool's standard streams stay in text mode, so every "\n"
// it prints arrives as "\r\n". Elsewhere a line ends in LF alone. The module image is
// binary all the same.
TEST_F(driver_test, LinesEndAsThePlatformEndsThem)
{
    const std::string eol = NATIVE_EOL;
    const auto native = [&eol](const std::string& text) {
        std::string lines;
        for (const char c : text)
            lines += c == '\n' ? eol : std::string(1, c);
        return lines;
    };
    run_result r = run({"-D", "1", "-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.raw_out, "hash_table_insert symbol f0 " + eol + "relocate symbol f0--0x1001" + eol +
                             "relocation sucessfully" + eol);
    EXPECT_EQ(get("out.mo"), module_image());
    r = run({"-V"});
    EXPECT_EQ(r.raw_err, "slotfill version 2010-07-18" + eol + eol);
    run_options merged;
    merged.merge_streams = true;
    r = run({"-o", "out.mo", "app.so"}, merged);
    EXPECT_EQ(r.raw_out, "Link file can't be empty" + eol + native(USAGE));
}

TEST_F(driver_test, ArgumentsArriveAsGiven)
{
    put("my target.elf", read_file(path("k.elf")));
    run_result r = run({"-l", "my target.elf", "-o", "my module.mo", "app.so"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(get("my module.mo"), module_image());
    // Quotes and backslashes that a Windows command line has to escape.
    r = run({"-l", "say \"hi\" \\\"\\", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "open say \"hi\" \\\"\\ error\n");
}

TEST_F(driver_test, LaterPathOptionReplacesAnEarlierOne)
{
    const run_result r = run({"-l", "nope.elf", "-o", "x.mo", "-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(get("out.mo"), module_image());
    EXPECT_FALSE(exists("x.mo"));
}

TEST_F(driver_test, LinkedImageIsTheLastArgumentWhateverItIs)
{
    // Without a positional argument the output path is the linked image too.
    run_result r = run({"-l", "k.elf", "-o", "fresh.mo"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "open fresh.mo error\n");
    // An option given last: -D has no value, still turns traces on, and names the linked image.
    r = run({"-l", "k.elf", "-o", "out.mo", "-D"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "hash_table_insert symbol f0 \nopen -D error\n");
    // -D given its own value, then the image: traces on.
    r = run({"-l", "k.elf", "-o", "out.mo", "-D", "app.so"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "hash_table_insert symbol f0 \nrelocate symbol f0--0x1001\nrelocation sucessfully\n");
}

TEST_F(driver_test, MissingLinkFileEndsBeforeTheLinkedImageIsOpened)
{
    const run_result r = run({"-l", "nope.elf", "-o", "out.mo", "nope.so"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "open nope.elf error\n");
    EXPECT_FALSE(exists("out.mo"));
}

TEST_F(driver_test, MissingLinkedImageComesAfterTheLinkFileStage)
{
    const run_result r = run({"-D", "1", "-l", "k.elf", "-o", "out.mo", "nope.so"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "hash_table_insert symbol f0 \nopen nope.so error\n");
    EXPECT_FALSE(exists("out.mo"));
}

TEST_F(driver_test, EmptyPathsFailWhereTheyAreOpened)
{
    run_result r = run({"-l", "", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "open  error\n");
    r = run({"-l", "k.elf", "-o", "", "app.so"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "relocation sucessfully\ncreate  error\n");
    r = run({"-l", "k.elf", "-o", "out.mo", ""});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "open  error\n");
}

TEST_F(driver_test, DirectoryAsInputFails)
{
    std::filesystem::create_directory(path("dir.elf"));
    const run_result r = run({"-l", "dir.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.status, 1);
#ifdef _WIN32
    EXPECT_EQ(r.out, "open dir.elf error\n"); // Windows opens no directory as a file
#else
    EXPECT_EQ(r.out, "read file error\n"); // opened, but reading it fails
#endif
}

TEST_F(driver_test, InputOf4GiBIsRefused)
{
    resize_sparse(path("app.so"), 0x100000000ull);
    const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "app.so is too large (4294967296 bytes): inputs must be smaller than 4 GiB\n");
    EXPECT_FALSE(exists("out.mo"));
}

TEST_F(driver_test, OutputInAMissingDirectory)
{
    const run_result r = run({"-l", "k.elf", "-o", "nodir/out.mo", "app.so"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "relocation sucessfully\ncreate nodir/out.mo error\n");
}

TEST_F(driver_test, OutputMayReplaceTheLinkedImage)
{
    const run_result r = run({"-l", "k.elf", "-o", "app.so", "app.so"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(get("app.so"), module_image());
}

TEST_F(driver_test, SamePathForBothInputsIsReadTwice)
{
    // A module that defines f0 itself in a .symtab and imports it through .dynsym.
    symbol_builder own;
    own.add("f0", 0x2001);
    elf_writer w;
    const std::uint32_t got = w.next_offset();
    w.add_section(SHT_PROGBITS, bytes(8, 0xa5));
    const std::uint32_t str = w.add_section(SHT_STRTAB, own.strtab);
    w.add_section(SHT_SYMTAB, own.symtab, str);
    symbol_builder dyn;
    dyn.add("f0", 0);
    const std::uint32_t dynstr = w.add_section(SHT_STRTAB, dyn.strtab);
    const std::uint32_t dynsym = w.add_section(SHT_DYNSYM, dyn.symtab, dynstr);
    rel_builder rel;
    rel.add(got, R_ARM_JUMP_SLOT, 1);
    w.add_section(SHT_REL, rel.rel, dynsym);
    const bytes image = w.finish();
    put("self.so", image);
    const run_result r = run({"-l", "self.so", "-o", "self.so", "self.so"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(get("self.so"), expected_module(image, {{got, 0x2001}}));
}

TEST_F(driver_test, LongerExistingOutputIsTruncated)
{
    put("out.mo", bytes(module_.image.size() * 3, 0x5a));
    const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(get("out.mo"), module_image());
}

TEST_F(driver_test, CreatedFileHasMode0666LessTheUmask)
{
#ifdef _WIN32
    // No mode bits and no umask there: the one permission a file has, writable, is given.
    ASSERT_EQ(run({"-l", "k.elf", "-o", "out.mo", "app.so"}).status, 0);
    const auto perms = std::filesystem::status(path("out.mo")).permissions();
    EXPECT_NE(perms & std::filesystem::perms::owner_write, std::filesystem::perms::none);
#else
    for (const unsigned mask : {022u, 0u, 077u}) {
        std::filesystem::remove(path("out.mo"));
        run_options options;
        options.umask = mask;
        const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"}, options);
        ASSERT_EQ(r.status, 0);
        struct stat st {};
        ASSERT_EQ(stat(path("out.mo").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "umask " << mask;
    }
#endif
}

TEST_F(driver_test, FailedWriteIsReported)
{
#ifdef _WIN32
    // Wine shows the host's files on drive Z:, and with them its always-full device.
    const std::string full = "Z:\\dev\\full";
    if (!running_under_wine())
        GTEST_SKIP() << "Windows has no device on which every write fails";
#else
    const std::string full = "full.mo";
    std::filesystem::create_symlink("/dev/full", path(full));
#endif
    const run_result r = run({"-l", "k.elf", "-o", full, "app.so"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "relocation sucessfully\nwrite " + full + " error\n");
}

TEST_F(driver_test, VersionTouchesNoFile)
{
    put("out.mo", {1, 2, 3});
    const run_result r = run({"-l", "k.elf", "-o", "out.mo", "-V", "app.so"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, BANNER);
    EXPECT_EQ(get("out.mo"), (bytes{1, 2, 3}));
}

} // namespace

#include "cli/options.h"

namespace {

// An empty argument vector cannot be made through exec on every system; call the scan itself.
TEST(ScanCommandLine, EmptyVectorHasNoLinkedImage)
{
    option_index = 1;
    char* argv[] = {nullptr};
    command_line settings;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(scan_command_line(0, argv, settings), scan_result::show_usage);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "File can't be empty\n");
}

TEST(NextOption, EveryFoundLetterTakesTheNextArgument)
{
    option_index = 1;
    std::string a0 = "modweld", a1 = "-:", a2 = "x", a3 = "-", a4 = "-q";
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), nullptr};
    EXPECT_EQ(next_option(5, argv, OPTION_STRING), ':');
    EXPECT_STREQ(option_value, "x");
    EXPECT_EQ(next_option(5, argv, OPTION_STRING), 0);
    EXPECT_STREQ(option_value, "-q");
    EXPECT_EQ(option_index, 5);
    EXPECT_EQ(next_option(5, argv, OPTION_STRING), -1);
    option_index = 4;
    EXPECT_EQ(next_option(5, argv, OPTION_STRING), -1); // q is unknown: the scan ends there
    EXPECT_EQ(option_index, 4);
}

} // namespace
