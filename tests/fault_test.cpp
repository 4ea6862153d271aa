// What the output path holds after a failure or a kill, judged by its bytes. Faults that a system
// gives only now and then are injected by tests/fault_shim.cpp, preloaded into the dynamically
// linked copy of the tool (Linux only); a file-size limit, a missing directory, links, devices
// and runs at once are the real thing, on the tool itself.
#include "test_helpers.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <regex>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const std::string OK = "relocation sucessfully\n";
const bytes OLD = {'o', 'l', 'd'};

// The pair every run finds as k.elf and app.so: f0 is imported and defined.
const bytes LINK = make_link_file({{"f0", 0x1001}});
const module_layout MODULE = make_module({{"f0"}});
const bytes WELDED = expected_module(MODULE.image, {{MODULE.slot_offsets[0], 0x1001}});

// The same module with 24 MiB more behind it, so that a write takes long enough to be cut.
[[maybe_unused]] bytes padded(std::size_t extra)
{
    bytes b = MODULE.image;
    for (std::size_t i = 0; i < extra; ++i)
        b.push_back(static_cast<std::uint8_t>(i * 7 + 1));
    return b;
}

bool have_shim()
{
#ifdef MODWELD_FAULT_SHIM
    return true;
#else
    return false;
#endif
}

// A run of the dynamically linked tool with `fault` injected.
run_options injected(const std::string& fault)
{
    run_options options;
#ifdef MODWELD_FAULT_SHIM
    options.program = MODWELD_DYNAMIC_EXE;
    options.environment = {std::string("LD_PRELOAD=") + MODWELD_FAULT_SHIM, "MODWELD_TEST_FAULT=" + fault};
#ifdef MODWELD_SANITIZED
    options.environment.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
#endif
#endif
    (void)fault;
    return options;
}

// Every entry of `dir` by name, with the bytes of each regular file.
std::map<std::string, bytes> entries(const fs::path& dir)
{
    std::map<std::string, bytes> found;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
        found[e.path().filename().string()] = e.is_regular_file() ? read_file(e.path()) : bytes{};
    return found;
}

// The new file that a killed run may leave beside `output`, by the name the README gives.
[[maybe_unused]] bool left_by_a_kill(const std::string& name, const std::string& output)
{
    static const std::regex suffix("\\.modweld-[0-9a-f]{16}");
    return name.size() == output.size() + 25 && name.compare(0, output.size(), output) == 0 &&
           std::regex_match(name.substr(output.size()), suffix);
}

// No file whose name says it is a new output is left in `dir`.
void expect_no_new_file(const fs::path& dir)
{
    for (const auto& [name, content] : entries(dir))
        EXPECT_EQ(name.find(".modweld-"), std::string::npos) << name;
}

std::string with_path(std::string text, const std::string& path)
{
    for (std::size_t at; (at = text.find('@')) != std::string::npos;)
        text.replace(at, 1, path);
    return text;
}

// What is at the output path before the run.
enum class output { none, old_file, linked_image };

struct fault_case {
    const char* what;
    const char* fault; // for the shim; nullptr: the tool as it is
    std::string out;   // '@' stands for the output path as given
    std::vector<output> outputs = {output::none, output::old_file, output::linked_image};
    std::optional<std::uint64_t> size_limit = {};
    std::string directory = ""; // the output's, "nodir/" for one that does not exist
};

const std::string NO_SPACE = OK + "write @ error\nmodule image: cannot write @: No space left on device\n";
const std::string WRITE_EIO = OK + "write @ error\nmodule image: cannot write @: Input/output error\n";
const std::string DENIED = OK + "create @ error\nmodule image: cannot create @: Permission denied\n";

// The linked image read here is tests/hostile/module.so (2284 bytes), the link file target.elf
// (1140 bytes).
const fault_case FAULTS[] = {
    {"a full file system", "write-enospc:1000", NO_SPACE},
    {"a full file system from byte 0", "write-enospc:0", NO_SPACE},
    {"a file-size limit", nullptr, OK + "write @ error\nmodule image: cannot write @: File too large\n",
     {output::none, output::old_file, output::linked_image}, 1024},
    {"a write that fails", "write-eio", WRITE_EIO},
    {"a close that fails", "close-eio", WRITE_EIO},
    {"a rename across file systems", "rename-exdev",
     OK + "write @ error\nmodule image: cannot replace @: Invalid cross-device link\n"},
    {"a rename refused", "rename-eacces", OK + "write @ error\nmodule image: cannot replace @: Permission denied\n"},
    {"an unwritable directory", "create-eacces", DENIED},
    {"an unwritable output", "open-eacces", DENIED},
    {"a missing directory", nullptr, OK + "create @ error\nmodule image: cannot create @: No such file or directory\n",
     {output::none}, {}, "nodir/"},
    {"an input that cannot be read", "read-eio", "read file error\nlink file: cannot read k.elf: Input/output error\n"},
    {"an input that ends early", "read-short:100",
     "read file error\nlink file: cannot read k.elf: it ended after 100 of 1140 bytes\n"},
};

struct fault_run {
    const fault_case* fault;
    output at_path;
};

// The faults run with `at_path` at the output path.
std::vector<fault_run> fault_runs(output at_path)
{
    std::vector<fault_run> runs;
    for (const fault_case& c : FAULTS)
        for (const output o : c.outputs)
            if (o == at_path)
                runs.push_back({&c, o});
    return runs;
}

void PrintTo(const fault_run& r, std::ostream* os) { *os << r.fault->what; }

struct fault_run_name {
    std::string operator()(const ::testing::TestParamInfo<fault_run>& info) const
    {
        return test_name(info.param.fault->what);
    }
};

class fault_test : public tool_test, public ::testing::WithParamInterface<fault_run> {};

// Status 1, the failure's line and the line why, and every file as it was: the output path holds
// what it held (or nothing), and no new file is left beside it.
TEST_P(fault_test, LeavesThePathAsItWas)
{
    const fault_case& c = *GetParam().fault;
    const output at_path = GetParam().at_path;
    if (c.fault != nullptr && !have_shim())
        GTEST_SKIP() << "faults are injected on Linux only";
#ifdef _WIN32
    if (c.size_limit)
        GTEST_SKIP() << "Windows has no file-size limit";
#endif
    put("k.elf", pair().link);
    put("app.so", pair().image);
    if (at_path == output::old_file)
        put("out.mo", OLD);
    const std::string path = at_path == output::linked_image ? "app.so" : c.directory + "out.mo";
    const std::map<std::string, bytes> before = entries(this->path(""));

    run_options options = c.fault != nullptr ? injected(c.fault) : run_options{};
    options.file_size_limit = c.size_limit;
    const run_result r = run({"-l", "k.elf", "-o", path, "app.so"}, options);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, with_path(c.out, path));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(entries(this->path("")), before);
}

// Named after what the output path holds before the run: nothing, an old file, or the linked
// image (-o names it).
INSTANTIATE_TEST_SUITE_P(NewOutput, fault_test, ::testing::ValuesIn(fault_runs(output::none)), fault_run_name{});
INSTANTIATE_TEST_SUITE_P(OldOutput, fault_test, ::testing::ValuesIn(fault_runs(output::old_file)), fault_run_name{});
INSTANTIATE_TEST_SUITE_P(InPlace, fault_test, ::testing::ValuesIn(fault_runs(output::linked_image)),
                         fault_run_name{});

class output_path_test : public tool_test {
protected:
    void SetUp() override
    {
        tool_test::SetUp();
        put("k.elf", LINK);
        put("app.so", MODULE.image);
    }
    run_result weld(const std::string& output, const run_options& options = {}) const
    {
        return run({"-l", "k.elf", "-o", output, "app.so"}, options);
    }
};

#ifndef _WIN32
// Killed at every stage of a 24 MiB write: the output path holds the old file until the rename and
// the whole new image after it, and nothing but the new file under its documented name is left.
TEST_F(output_path_test, KilledRunLeavesOldOrWholeNewImage)
{
    if (!have_shim())
        GTEST_SKIP() << "faults are injected on Linux only";
    const bytes big = padded(24u << 20);
    const bytes welded = expected_module(big, {{MODULE.slot_offsets[0], 0x1001}});
    const std::string size = std::to_string(big.size());
    const std::string half = std::to_string(big.size() / 2), almost = std::to_string(big.size() - 1);
    const std::vector<std::pair<std::string, bool>> kills = {
        {"kill-write:0", false},       {"kill-write:1", false},      {"kill-write:65536", false},
        {"kill-write:" + half, false}, {"kill-write:" + almost, false}, {"kill-write:" + size, false},
        {"kill-close", false},         {"kill-rename", false},       {"kill-renamed", true}};
    const std::pair<std::string, std::optional<bytes>> outputs[] = {
        {"new.mo", std::nullopt}, {"out.mo", OLD}, {"big.so", big}};
    for (const auto& [output, old] : outputs) {
        for (const auto& [kill, replaced] : kills) {
            SCOPED_TRACE(output + ", " + kill);
            put("big.so", big);
            if (old)
                put(output, *old);
            const run_result r = run({"-l", "k.elf", "-o", output, "big.so"}, injected(kill));
            EXPECT_EQ(r.signal, SIGKILL);
            if (replaced || old) {
                EXPECT_EQ(get(output), replaced ? welded : *old);
            }
            EXPECT_EQ(exists(output), replaced || old);
            for (const auto& [name, content] : entries(path("")))
                if (name != "k.elf" && name != "app.so" && name != "big.so" && name != output) {
                    EXPECT_TRUE(left_by_a_kill(name, output)) << name;
                    fs::remove(path(name));
                }
            fs::remove(path(output));
        }
    }
}

// The same, killed from outside at times spread over the run: every run is judged.
TEST_F(output_path_test, RunKilledFromOutsideLeavesOldOrWholeNewImage)
{
    const bytes big = padded(24u << 20);
    const bytes welded = expected_module(big, {{MODULE.slot_offsets[0], 0x1001}});
    put("big.so", big);
    for (int ms = 0; ms <= 60; ms += 5) {
        SCOPED_TRACE(std::to_string(ms) + " ms");
        put("out.mo", OLD);
        run_options options;
        options.kill_after = std::chrono::milliseconds(ms);
        const run_result r = run({"-l", "k.elf", "-o", "out.mo", "big.so"}, options);
        const bytes after = get("out.mo");
        EXPECT_TRUE(after == OLD || after == welded) << after.size() << " bytes";
        EXPECT_TRUE(r.signal == SIGKILL || (r.status == 0 && after == welded));
        for (const auto& [name, content] : entries(path("")))
            if (name != "k.elf" && name != "app.so" && name != "big.so" && name != "out.mo") {
                EXPECT_TRUE(left_by_a_kill(name, "out.mo")) << name;
                fs::remove(path(name));
            }
    }
}

// Four runs with four link files write one path at once: it then holds one run's whole image.
TEST_F(output_path_test, RunsAtOnceLeaveOneWholeImage)
{
    const bytes big = padded(8u << 20);
    put("big.so", big);
    std::vector<bytes> images;
    for (std::uint32_t i = 0; i < 4; ++i) {
        fs::create_directory(path("run" + std::to_string(i)));
        put("run" + std::to_string(i) + "/k.elf", make_link_file({{"f0", 0x1001 + 0x100 * i}}));
        images.push_back(expected_module(big, {{MODULE.slot_offsets[0], 0x1001 + 0x100 * i}}));
    }
    for (int round = 0; round < 3; ++round) {
        std::vector<run_result> results(4);
        std::vector<std::thread> runs;
        for (std::size_t i = 0; i < 4; ++i)
            runs.emplace_back([&, i] {
                results[i] = run_modweld({"-l", "k.elf", "-o", path("out.mo").string(), path("big.so").string()},
                                         path("run" + std::to_string(i)));
            });
        for (std::thread& t : runs)
            t.join();
        for (const run_result& r : results) {
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, OK);
        }
        const bytes after = get("out.mo");
        EXPECT_NE(std::find(images.begin(), images.end(), after), images.end()) << after.size() << " bytes";
        EXPECT_EQ(entries(path("")).size(), 8u); // k.elf, app.so, big.so, out.mo and the four run directories
    }
}

// A device at the output path is written as it is, not replaced.
TEST_F(output_path_test, DeviceIsWrittenInPlace)
{
    const run_result r = weld("/dev/null");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, OK);
    struct stat st {};
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    for (const fs::directory_entry& e : fs::directory_iterator("/dev"))
        EXPECT_FALSE(left_by_a_kill(e.path().filename().string(), "null")) << e.path();
}

// A link at the output path stays; the file it names, existing or not, gets the image.
TEST_F(output_path_test, LinkStaysAndItsFileIsReplaced)
{
    struct link_case {
        const char* link;
        std::string to;
        const char* file; // what `to` names, from the test's directory
        bool exists;
    };
    fs::create_directory(path("sub"));
    put("sub/chained.mo", OLD);
    const link_case links[] = {
        {"relative.mo", "sub/real.mo", "sub/real.mo", true},
        {"absolute.mo", path("sub/abs.mo").string(), "sub/abs.mo", true},
        {"dangling.mo", "sub/new.mo", "sub/new.mo", false},
        {"sub/up.mo", "../top.mo", "top.mo", false},
        {"chain.mo", "sub/link.mo", "sub/chained.mo", true},
    };
    fs::create_symlink("chained.mo", path("sub/link.mo"));
    for (const link_case& l : links) {
        SCOPED_TRACE(l.link);
        if (l.exists)
            put(l.file, OLD);
        fs::create_symlink(l.to, path(l.link));
        const run_result r = weld(l.link);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, OK);
        EXPECT_TRUE(fs::is_symlink(path(l.link)));
        EXPECT_EQ(fs::read_symlink(path(l.link)), l.to);
        EXPECT_FALSE(fs::is_symlink(path(l.file)));
        EXPECT_EQ(get(l.file), WELDED);
        expect_no_new_file(path(""));
        expect_no_new_file(path("sub"));
    }
}

// An existing output keeps its permission bits, whatever the umask, the set-group-ID bit too,
// which a write by any user but root clears.
TEST_F(output_path_test, ExistingOutputKeepsItsMode)
{
    for (const unsigned mode : {0600u, 0640u, 0751u, 0604u, 02750u}) {
        SCOPED_TRACE(mode);
        put("out.mo", OLD);
        ASSERT_EQ(chmod(path("out.mo").c_str(), mode), 0);
        run_options options;
        options.umask = 077;
        options.without_fsetid = true;
        const run_result r = weld("out.mo", options);
        EXPECT_EQ(r.status, 0);
        struct stat st {};
        ASSERT_EQ(stat(path("out.mo").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(get("out.mo"), WELDED);
    }
}
#endif

#ifdef _WIN32
// Another program holding the output open: sharing nothing, the output cannot be opened and is
// refused; sharing all but its deletion, the new file cannot take its place. The old file stays.
TEST_F(output_path_test, OutputHeldOpenElsewhereStays)
{
    // Windows' own text for ERROR_ACCESS_DENIED, and Wine's
    const std::string denied = running_under_wine() ? "Access denied" : "Access is denied";
    const std::pair<DWORD, std::string> holders[] = {
        {0, OK + "create out.mo error\nmodule image: cannot create out.mo: Permission denied\n"},
        {FILE_SHARE_READ | FILE_SHARE_WRITE, OK + "write out.mo error\nmodule image: cannot replace out.mo: " + denied + "\n"},
    };
    for (const auto& [share, out] : holders) {
        SCOPED_TRACE(share);
        put("out.mo", OLD);
        const HANDLE held = CreateFileW(path("out.mo").c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const run_result r = weld("out.mo");
        CloseHandle(held);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(get("out.mo"), OLD);
        expect_no_new_file(path(""));
    }
}
#endif

// An existing output the user may not write is refused, as the system refuses to open it, and
// left as it was. Root may write any file: there the shim's open-eacces stands in.
TEST_F(output_path_test, ReadOnlyOutputIsRefused)
{
#ifdef _WIN32
    if (running_under_wine())
        GTEST_SKIP() << "under Wine the Unix user decides, and root may write a read-only file";
#else
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write a read-only file";
#endif
    put("out.mo", OLD);
    fs::permissions(path("out.mo"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const run_result r = weld("out.mo");
    fs::permissions(path("out.mo"), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, OK + "create out.mo error\nmodule image: cannot create out.mo: Permission denied\n");
    EXPECT_EQ(get("out.mo"), OLD);
    EXPECT_EQ(entries(path("")).size(), 3u);
}

} // namespace
