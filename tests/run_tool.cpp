#include "run_tool.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <signal.h>
#ifdef __linux__
#include <linux/capability.h>
#include <sys/prctl.h>
#endif
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The text of a stream with "\n" line ends, from the bytes the tool wrote.
std::string text_lines(const std::string& raw, const char* stream)
{
#ifdef _WIN32
    std::string text;
    bool reported = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
            text += '\n';
            ++i;
            continue;
        }
        if (raw[i] == '\n' && !reported) {
            ADD_FAILURE() << stream << ": a line ends in \\n without \\r at byte " << i << " of\n" << raw;
            reported = true;
        }
        text += raw[i];
    }
    return text;
#else
    (void)stream;
    return raw;
#endif
}

#ifdef _WIN32

std::wstring widen(const std::string& s)
{
    if (s.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// Quotes one argument so that the C runtime's command-line parser gives it back unchanged:
// backslashes are literal except in front of a quote, where they must be doubled.
std::wstring quote_argument(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L'"';
}

HANDLE open_inheritable(const wchar_t* path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts the tool with its streams in the given files; on failure returns false with the error.
bool start_process(PROCESS_INFORMATION& process, std::wstring command_line, const fs::path& cwd,
                   const run_options& options, const fs::path& out_path, const fs::path& err_path, DWORD& error)
{
    const HANDLE in = open_inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    const HANDLE out = open_inheritable(out_path.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE err = options.merge_streams ? out : open_inheritable(err_path.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    const bool opened = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE;
    const fs::path program = options.program.empty() ? modweld_path() : options.program;
    const bool started = opened && CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr,
                                                  TRUE, 0, nullptr, cwd.c_str(), &startup, &process);
    error = GetLastError();
    for (const HANDLE h : {in, out, options.merge_streams ? INVALID_HANDLE_VALUE : err})
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    return started;
}

void spawn(run_result& r, const std::vector<std::string>& args, const fs::path& cwd, const run_options& options,
           const fs::path& out_path, const fs::path& err_path)
{
    if (options.umask || options.file_size_limit || !options.environment.empty() || options.kill_after ||
        options.without_fsetid)
        ADD_FAILURE() << "a umask, a file-size limit, an environment, a kill or a capability cannot be given to a "
                         "Windows process";
    const fs::path program = options.program.empty() ? modweld_path() : options.program;
    std::wstring command_line = quote_argument(program.wstring());
    for (const std::string& a : args)
        command_line += L' ' + quote_argument(widen(a));

    // Under Wine a new process now and then dies while Wine itself starts it, before the
    // program's first instruction, and CreateProcessW says ERROR_INTERNAL_ERROR. The tool never
    // ran, so that start is tried again; any other failure, or a run that started, is the result.
    PROCESS_INFORMATION process{};
    DWORD error = 0;
    bool started = false;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        started = start_process(process, command_line, cwd, options, out_path, err_path, error);
        if (!started && error != ERROR_INTERNAL_ERROR)
            break;
    }
    if (!started) {
        ADD_FAILURE() << "cannot run " << program.string() << ": error " << error;
        return;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // A process ended by an unhandled exception exits with its NTSTATUS (0xC0000005 and so on).
    if ((code & 0xF0000000u) == 0xC0000000u)
        r.signal = static_cast<int>(code);
    else
        r.status = static_cast<int>(code);
}

#else

void spawn(run_result& r, const std::vector<std::string>& args, const fs::path& cwd, const run_options& options,
           const fs::path& out_path, const fs::path& err_path)
{
#ifdef MODWELD_EMULATOR
    // The system need not start another host's program by itself (binfmt_misc): the emulator
    // that runs this program runs the tool too, found on PATH when it is given by name.
    std::vector<std::string> owned{MODWELD_EMULATOR};
#else
    std::vector<std::string> owned;
#endif
    owned.push_back((options.program.empty() ? modweld_path() : options.program).string());
    owned.insert(owned.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : owned)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = options.environment;

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
        const rlim_t size = options.file_size_limit.value_or(RLIM_INFINITY);
        const rlimit limit{size, size};
        if (options.file_size_limit && setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(126);
        for (std::string& variable : environment)
            putenv(variable.data());
#ifdef __linux__
        // Gone from the bounding set, the capability is not among root's after exec.
        if (options.without_fsetid)
            prctl(PR_CAPBSET_DROP, CAP_FSETID, 0, 0, 0);
#endif
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (options.kill_after) {
        std::this_thread::sleep_for(*options.kill_after);
        kill(pid, SIGKILL); // an ended run is not yet reaped: the signal goes nowhere
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        r.signal = WTERMSIG(wstatus);
}

#endif

} // namespace

fs::path modweld_path()
{
#ifdef _WIN32
    std::wstring own(32768, L'\0');
    own.resize(GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size())));
    return (fs::path(own).parent_path() / MODWELD_EXE_FROM_TESTS).lexically_normal();
#else
    return MODWELD_EXE;
#endif
}

run_result run_modweld(const std::vector<std::string>& args, const fs::path& cwd, const run_options& options)
{
    const fs::path out_path = cwd / ".stdout", err_path = cwd / ".stderr";
    run_result r;
    spawn(r, args, cwd, options, out_path, err_path);
    r.raw_out = slurp(out_path);
    if (!options.merge_streams)
        r.raw_err = slurp(err_path);
    r.out = text_lines(r.raw_out, "standard output");
    r.err = text_lines(r.raw_err, "standard error");
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

void resize_sparse(const fs::path& path, std::uint64_t size)
{
#ifdef _WIN32
    // NTFS files are not sparse unless asked; without it the size is still right, only
    // the disk space is really taken.
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD returned = 0;
        DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        CloseHandle(h);
    }
#endif
    fs::resize_file(path, size);
}

#ifdef _WIN32
bool running_under_wine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

void tool_test::SetUp()
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::ostringstream name;
        name << "modweld-test-" << std::hex << random() << random();
        const fs::path candidate = fs::temp_directory_path() / name.str();
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            dir_ = candidate;
            return;
        }
    }
    FAIL() << "cannot create a directory in " << fs::temp_directory_path();
}

void tool_test::TearDown()
{
    std::error_code ec;
    if (!dir_.empty())
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
