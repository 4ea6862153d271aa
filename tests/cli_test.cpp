// The command line and file handling, through the built binary; the option scanner's corner
// cases that no process can be started with, in-process.
#include "cli/options.h"

#include "test_helpers.h"

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>

namespace fs = std::filesystem;

namespace {

const std::string USAGE = "Usage: modweld.exe [-V][-l filename][-o output] Filename\n"
                          "   -V: Print version infomation\n"
                          "   -l <filename>: Orvanel elf image\n"
                          "   -o <output>:   Module image to be created\n"
                          "   Filename: Linked image\n";
const std::string BANNER = "slotfill version 2010-07-18\n\n";
const std::string NO_OUTPUT = "Output file can't be empty\n", NO_LINK = "Link file can't be empty\n";
const std::string OK = "relocation sucessfully\n";
const std::string NO_SUCH_FILE = ": No such file or directory\n";
#ifdef _WIN32
// Windows opens no directory as a file
const std::string DIRECTORY_ERROR = "open dir.elf error\nlink file: cannot open dir.elf: Permission denied\n";
// nor names a file with a quote in it
const std::string QUOTES_ERROR = ": Invalid argument\n";
#else
// opened, but reading it fails
const std::string DIRECTORY_ERROR = "read file error\nlink file: cannot read dir.elf: Is a directory\n";
const std::string QUOTES_ERROR = NO_SUCH_FILE;
#endif

// The pair every run finds as k.elf and app.so: f0 is imported and defined.
const bytes LINK = make_link_file({{"f0", 0x1001}});
const module_layout MODULE = make_module({{"f0"}});
const bytes WELDED = expected_module(MODULE.image, {{MODULE.slot_offsets[0], 0x1001}});

// A module that defines f0 itself in a .symtab and imports it through .dynsym; its slot is
// the first section's first word, right after the 52-byte ELF header.
bytes self_linking_module()
{
    symbol_builder own;
    own.add("f0", 0x2001);
    elf_writer w;
    w.add_section(SHT_PROGBITS, bytes(8, 0xa5));
    const std::uint32_t str = w.add_section(SHT_STRTAB, own.strtab);
    w.add_section(SHT_SYMTAB, own.symtab, str);
    symbol_builder dyn;
    dyn.add("f0", 0);
    const std::uint32_t dynstr = w.add_section(SHT_STRTAB, dyn.strtab);
    const std::uint32_t dynsym = w.add_section(SHT_DYNSYM, dyn.symtab, dynstr);
    rel_builder rel;
    rel.add(52, R_ARM_JUMP_SLOT, 1);
    w.add_section(SHT_REL, rel.rel, dynsym);
    return w.finish();
}
const bytes SELF = self_linking_module();

struct file {
    std::string name;
    std::optional<bytes> content; // none: the file must not exist
};
const file OLD_OUTPUT = {"out.mo", bytes{'o', 'l', 'd'}};

struct driver_case {
    const char* what;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
    std::vector<file> after = {};  // the files the run creates or changes
    std::vector<file> before = {}; // files put next to k.elf and app.so
    std::function<void(const fs::path& dir)> setup = nullptr;
    bool merge_streams = false; // standard error into standard output's file
};

void PrintTo(const driver_case& c, std::ostream* os) { *os << c.what; }

const driver_case CASES[] = {
    // The scan alone: usage or banner, status 1, and nothing opened or created.
    {"version alone", {"-V"}, "", BANNER, 1, {}, {OLD_OUTPUT}},
    {"version wins over the paths", {"-l", "k.elf", "-V", "x", "-o", "out.mo", "app.so"}, "", BANNER, 1, {},
     {OLD_OUTPUT}},
    {"version with missing paths", {"-V", "-V"}, "", BANNER, 1, {}, {OLD_OUTPUT}},
    {"version touches no file", {"-l", "k.elf", "-o", "out.mo", "-V", "app.so"}, "", BANNER, 1, {},
     {{"out.mo", bytes{1, 2, 3}}}},
    {"help after version", {"-V", "x", "-h", "y"}, "", USAGE, 1, {}, {OLD_OUTPUT}},
    {"help", {"-h"}, "", USAGE, 1, {}, {OLD_OUTPUT}},
    {"colon is a findable letter", {"-:"}, "", USAGE, 1, {}, {OLD_OUTPUT}},
    {"lone dash", {"-", "-l", "k.elf", "-o", "out.mo", "app.so"}, "", USAGE, 1, {}, {OLD_OUTPUT}},
    {"help wins over a later bad path", {"-l", "k.elf", "-h"}, "", USAGE, 1, {}, {OLD_OUTPUT}},
    {"value of -D is -V", {"-D", "-V"}, NO_OUTPUT, USAGE, 1, {}, {OLD_OUTPUT}},
    {"-D swallows -l", {"-D", "-l", "k.elf", "-o", "out.mo", "app.so"}, NO_OUTPUT, USAGE, 1, {}, {OLD_OUTPUT}},
    {"no arguments", {}, NO_OUTPUT, USAGE, 1, {}, {OLD_OUTPUT}},
    {"-o last has no value", {"-l", "k.elf", "-o"}, NO_OUTPUT, USAGE, 1, {}, {OLD_OUTPUT}},
    {"unknown letter ends the scan", {"-x", "-l", "k.elf", "-o", "out.mo", "app.so"}, NO_OUTPUT, USAGE, 1, {},
     {OLD_OUTPUT}},
    {"only the second character counts", {"-lk.elf", "-o", "out.mo", "app.so"}, NO_OUTPUT, USAGE, 1, {}, {OLD_OUTPUT}},
    {"link file missing", {"-o", "out.mo", "app.so"}, NO_LINK, USAGE, 1, {}, {OLD_OUTPUT}},
    {"later -l without value", {"-l", "k.elf", "-o", "out.mo", "-l"}, NO_LINK, USAGE, 1, {}, {OLD_OUTPUT}},
    {"scan stops at a positional", {"app.so", "-l", "k.elf", "-o", "out.mo"}, NO_OUTPUT, USAGE, 1, {}, {OLD_OUTPUT}},
    {"message then usage on one stream", {"-l", "k.elf", "-o"}, NO_OUTPUT + USAGE, "", 1, {}, {}, nullptr,
     true},

    // Paths and files.
    {"writes only the module image", {"-l", "k.elf", "-o", "out.mo", "app.so"}, OK, "", 0,
     {{"out.mo", WELDED}}},
    {"traces go to standard output", {"-D", "1", "-l", "k.elf", "-o", "out.mo", "app.so"},
     "hash_table_insert symbol f0 \nrelocate symbol f0--0x1001\n" + OK, "", 0, {{"out.mo", WELDED}}},
    {"paths with blanks arrive as given", {"-l", "my target.elf", "-o", "my module.mo", "app.so"}, OK, "", 0,
     {{"my module.mo", WELDED}}, {{"my target.elf", LINK}}},
    // Quotes and backslashes that a Windows command line has to escape.
    {"quotes and backslashes arrive as given", {"-l", "say \"hi\" \\\"\\", "-o", "out.mo", "app.so"},
     "open say \"hi\" \\\"\\ error\nlink file: cannot open say \"hi\" \\\"\\" + QUOTES_ERROR, "", 1},
    {"a later path option wins",
     {"-l", "nope.elf", "-o", "x.mo", "-l", "k.elf", "-o", "out.mo", "app.so"}, OK, "", 0,
     {{"out.mo", WELDED}, {"x.mo", std::nullopt}}},
    {"no positional: -o names the linked image", {"-l", "k.elf", "-o", "fresh.mo"},
     "open fresh.mo error\nlinked image: cannot open fresh.mo" + NO_SUCH_FILE, "", 1},
    {"-D last traces and is the linked image", {"-l", "k.elf", "-o", "out.mo", "-D"},
     "hash_table_insert symbol f0 \nopen -D error\nlinked image: cannot open -D" + NO_SUCH_FILE, "", 1},
    {"-D given its own value turns traces on", {"-l", "k.elf", "-o", "out.mo", "-D", "app.so"},
     "hash_table_insert symbol f0 \nrelocate symbol f0--0x1001\n" + OK, "", 0, {{"out.mo", WELDED}}},
    {"a missing link file ends the run first",
     {"-l", "nope.elf", "-o", "out.mo", "nope.so"}, "open nope.elf error\nlink file: cannot open nope.elf" + NO_SUCH_FILE,
     "", 1},
    {"link stage runs before a missing image", {"-D", "1", "-l", "k.elf", "-o", "out.mo", "nope.so"},
     "hash_table_insert symbol f0 \nopen nope.so error\nlinked image: cannot open nope.so" + NO_SUCH_FILE, "", 1},
    {"empty link file path fails to open", {"-l", "", "-o", "out.mo", "app.so"},
     "open  error\nlink file: cannot open " + NO_SUCH_FILE, "", 1},
    {"empty output path fails at creation", {"-l", "k.elf", "-o", "", "app.so"},
     OK + "create  error\nmodule image: cannot create " + NO_SUCH_FILE, "", 1},
    {"empty linked image path fails to open", {"-l", "k.elf", "-o", "out.mo", ""},
     "open  error\nlinked image: cannot open " + NO_SUCH_FILE, "", 1},
    {"a directory as input fails", {"-l", "dir.elf", "-o", "out.mo", "app.so"}, DIRECTORY_ERROR, "", 1, {}, {},
     [](const fs::path& dir) { fs::create_directory(dir / "dir.elf"); }},
    {"an input of 4 GiB is refused", {"-l", "k.elf", "-o", "out.mo", "big.so"},
     "big.so is too large (4294967296 bytes): inputs must be smaller than 4 GiB\n", "", 1, {}, {},
     [](const fs::path& dir) {
         write_file(dir / "big.so", MODULE.image);
         resize_sparse(dir / "big.so", 0x100000000ull);
     }},
    {"output in a missing directory", {"-l", "k.elf", "-o", "nodir/out.mo", "app.so"},
     OK + "create nodir/out.mo error\nmodule image: cannot create nodir/out.mo" + NO_SUCH_FILE, "", 1},
    {"the output may be the linked image", {"-l", "k.elf", "-o", "app.so", "app.so"}, OK, "", 0,
     {{"app.so", WELDED}}},
    {"one path for both inputs, read twice", {"-l", "self.so", "-o", "self.so", "self.so"}, OK, "", 0,
     {{"self.so", expected_module(SELF, {{52, 0x2001}})}}, {{"self.so", SELF}}},
    {"a longer old output is replaced whole", {"-l", "k.elf", "-o", "out.mo", "app.so"}, OK, "", 0,
     {{"out.mo", WELDED}}, {{"out.mo", bytes(MODULE.image.size() * 3, 0x5a)}}},
};

// Regular files of `dir` by name; the others (a directory, a 4 GiB sparse file) by name only.
std::map<std::string, std::optional<bytes>> files_in(const fs::path& dir, const std::set<std::string>& read)
{
    std::map<std::string, std::optional<bytes>> found;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        found[name] = read.contains(name) ? std::optional<bytes>(read_file(e.path())) : std::nullopt;
    }
    return found;
}

// A Windows console program writes text lines ending in CR LF, and the scripts, editors and
// consoles there expect them: the tool's standard streams stay in text mode, so every "\n"
// it prints arrives as "\r\n". Elsewhere a line ends in LF alone.
std::string native(const std::string& text)
{
    std::string lines;
    for (const char c : text)
        lines += c == '\n' ? std::string(NATIVE_EOL) : std::string(1, c);
    return lines;
}

class driver_test : public tool_test, public ::testing::WithParamInterface<driver_case> {};

// The exit status, both streams byte for byte, and the directory afterwards: the files the
// row names as created or changed, every other file as it was, and nothing else.
TEST_P(driver_test, EndsAsExpected)
{
    const driver_case& c = GetParam();
    std::map<std::string, std::optional<bytes>> expected = {{"k.elf", LINK}, {"app.so", MODULE.image}};
    for (const file& f : c.before)
        expected[f.name] = f.content;
    for (const auto& [name, content] : expected)
        put(name, *content);
    if (c.setup)
        c.setup(path(""));
    std::set<std::string> read;
    for (const auto& [name, content] : expected)
        read.insert(name);
    std::map<std::string, std::optional<bytes>> others = files_in(path(""), {});
    for (const file& f : c.after) {
        expected[f.name] = f.content;
        read.insert(f.name);
    }

    run_options options;
    options.merge_streams = c.merge_streams;
    const run_result r = run(c.args, options);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.raw_out, native(c.out));
    EXPECT_EQ(r.raw_err, native(c.err));

    for (const auto& [name, content] : expected)
        if (!content)
            others.erase(name);
    for (const auto& [name, content] : expected)
        if (content)
            others[name] = content;
    EXPECT_EQ(files_in(path(""), read), others);
}

INSTANTIATE_TEST_SUITE_P(Driver, driver_test, ::testing::ValuesIn(CASES), name_from_what{});

class output_file_test : public tool_test {
protected:
    void SetUp() override
    {
        tool_test::SetUp();
        put("k.elf", LINK);
        put("app.so", MODULE.image);
    }
};

TEST_F(output_file_test, CreatedFileHasMode0666LessTheUmask)
{
#ifdef _WIN32
    // No mode bits and no umask there: the one permission a file has, writable, is given.
    ASSERT_EQ(run({"-l", "k.elf", "-o", "out.mo", "app.so"}).status, 0);
    const auto perms = fs::status(path("out.mo")).permissions();
    EXPECT_NE(perms & fs::perms::owner_write, fs::perms::none);
#else
    for (const unsigned mask : {022u, 0u, 077u}) {
        fs::remove(path("out.mo"));
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

TEST_F(output_file_test, FailedWriteIsReported)
{
#ifdef _WIN32
    // Wine shows the host's files on drive Z:, and with them its always-full device.
    const std::string full = "Z:\\dev\\full";
    if (!running_under_wine())
        GTEST_SKIP() << "Windows has no device on which every write fails";
#else
    const std::string full = "full.mo";
    fs::create_symlink("/dev/full", path(full));
#endif
    const run_result r = run({"-l", "k.elf", "-o", full, "app.so"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, OK + "write " + full + " error\nmodule image: cannot write " + full + ": No space left on device\n");
}

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
