#include "run_tool.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

run_result run_modweld(const std::vector<std::string>& args, const fs::path& cwd, const run_options& options)
{
    const fs::path out_path = cwd / ".stdout", err_path = cwd / ".stderr";
    std::vector<std::string> owned{MODWELD_EXE};
    owned.insert(owned.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : owned)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = options.merge_streams ? out : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        if (options.umask)
            umask(static_cast<mode_t>(*options.umask));
        execv(argv[0], argv.data());
        _exit(127);
    }
    run_result r;
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        r.signal = WTERMSIG(wstatus);
    r.out = slurp(out_path);
    if (!options.merge_streams)
        r.err = slurp(err_path);
    fs::remove(out_path);
    fs::remove(err_path);
    return r;
}

void write_file(const fs::path& path, const bytes& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

bytes read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), {});
}

void tool_test::SetUp()
{
    std::string pattern = (fs::temp_directory_path() / "modweld-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
}

void tool_test::TearDown()
{
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

bytes expected_module(bytes linked, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& slots)
{
    linked.at(0) = 0x7f;
    linked.at(1) = 'O';
    linked.at(2) = 'V';
    linked.at(3) = 'K';
    for (const auto& [offset, value] : slots)
        put_u32(linked, offset, value);
    return linked;
}
