// The end-to-end benchmark: times whole modweld processes against the I/O floor on generated
// inputs of several sizes, interleaved in the same run, and prints one table.
//
//   modweld_bench [--sizes 6000,10000,100000,1000000] [--runs R] [--seed S] [--symbols-only]
//                 [--plot FILE.svg] [--modweld PATH] [--floor PATH] [--keep DIR]
//
// --keep leaves each size's inputs in DIR/<functions>/ for profiling by hand.
// Every size: generate the inputs, check that modweld's output equals the generator's
// expected module image, then R rounds of one run each of the I/O floor, the floor with
// huge-page buffers and modweld (the order rotating between rounds, so that none always runs
// on a warmer machine). Reported: medians of each, the median of the per-round ratios with
// its quartiles, modweld's peak resident memory against the inputs' total size, and the time
// per link-file function.
#include "svg_plot.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct options {
    // 6000: a link file below 1 MiB, whose buffer once took 4 KiB pages.
    std::vector<std::uint32_t> sizes = {6000, 10000, 100000, 1000000};
    int runs = 0; // 0: by size
    std::uint64_t seed = 1;
    bool symbols_only = false;
    std::string plot;
    std::string modweld = MODWELD_EXE;
    std::string floor = IO_FLOOR_EXE;
    std::string generator = GEN_INPUTS_EXE;
    std::string keep;
};

struct run_sample {
    double ms = 0;
    long max_rss_kib = 0;
    int status = -1;
};

// Runs `argv` with standard output and error sent to `out_path`; wall time and peak RSS.
run_sample run_once(const std::vector<std::string>& args, const std::string& out_path)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);

    run_sample s;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return s;
    }
    int wstatus = 0;
    struct rusage usage {};
    while (wait4(pid, &wstatus, 0, &usage) < 0) {
    }
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    s.ms = std::chrono::duration<double, std::milli>(end - start).count();
    s.max_rss_kib = usage.ru_maxrss;
    s.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return s;
}

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Compared a piece at a time, to keep this process small (see bench_size).
bool same_contents(const fs::path& a, const fs::path& b)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 16), bb(1 << 16);
    while (fa && fb) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
            return false;
    }
    return fa.eof() && fb.eof();
}

double quantile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    const double at = q * static_cast<double>(v.size() - 1);
    const auto lo = static_cast<std::size_t>(at);
    const std::size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (at - static_cast<double>(lo));
}

double median(const std::vector<double>& v) { return quantile(v, 0.5); }

int default_runs(std::uint32_t functions)
{
    if (functions <= 20000)
        return 301;
    if (functions <= 200000)
        return 101;
    return 31;
}

std::string first_line_with(const char* path, const char* key)
{
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) == 0) {
            const std::size_t colon = line.find(':');
            std::string v = colon == std::string::npos ? line : line.substr(colon + 1);
            v.erase(0, v.find_first_not_of(" \t"));
            return v;
        }
    }
    return "unknown";
}

std::string machine_description()
{
    struct utsname u {};
    uname(&u);
    std::ostringstream s;
    const double memory_gib = std::strtod(first_line_with("/proc/meminfo", "MemTotal").c_str(), nullptr) / (1 << 20);
    s << first_line_with("/proc/cpuinfo", "model name") << ", " << sysconf(_SC_NPROCESSORS_ONLN) << " cores, "
      << static_cast<int>(memory_gib + 0.5) << " GiB memory; " << u.sysname << " " << u.release
      << "; compiler " << __VERSION__;
    return s.str();
}

bool parse(int argc, char* argv[], options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--sizes" && has_value) {
            o.sizes.clear();
            std::stringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');)
                o.sizes.push_back(static_cast<std::uint32_t>(std::strtoul(item.c_str(), nullptr, 10)));
        } else if (a == "--runs" && has_value) {
            o.runs = std::atoi(argv[++i]);
        } else if (a == "--seed" && has_value) {
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--symbols-only") {
            o.symbols_only = true;
        } else if (a == "--plot" && has_value) {
            o.plot = argv[++i];
        } else if (a == "--modweld" && has_value) {
            o.modweld = argv[++i];
        } else if (a == "--floor" && has_value) {
            o.floor = argv[++i];
        } else if (a == "--keep" && has_value) {
            o.keep = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: %s [--sizes N,N,...] [--runs R] [--seed S] [--symbols-only] [--plot FILE.svg]\n"
                         "          [--modweld PATH] [--floor PATH] [--keep DIR]\n",
                         argv[0]);
            return false;
        }
    }
    return !o.sizes.empty() && std::find(o.sizes.begin(), o.sizes.end(), 0u) == o.sizes.end();
}

struct size_result {
    std::uint32_t functions = 0;
    std::uint32_t symbols = 0;
    double input_mib = 0, link_mib = 0;
    double floor_ms = 0, huge_floor_ms = 0, modweld_ms = 0;
    double ratio = 0, ratio_q1 = 0, ratio_q3 = 0, huge_ratio = 0, huge_ratio_q1 = 0, huge_ratio_q3 = 0;
    double rss_mib = 0, rss_ratio = 0, floor_rss_ratio = 0;
    int runs = 0;
};

// Generates, checks and times one size; false when modweld's output is wrong.
bool bench_size(const options& o, const fs::path& root, std::uint32_t functions, size_result& r)
{
    const fs::path dir = root / std::to_string(functions);
    fs::create_directories(dir);
    // The inputs are made by a child process: whatever this process holds when it starts modweld
    // counts towards modweld's peak RSS, so it must stay small.
    std::fprintf(stderr, "N = %u: generating inputs ...\n", functions);
    const std::string summary = (dir / "inputs.txt").string();
    std::vector<std::string> gen = {o.generator, std::to_string(functions), dir.string(), std::to_string(o.seed)};
    if (o.symbols_only)
        gen.push_back("--symbols-only");
    if (run_once(gen, summary).status != 0) {
        std::fprintf(stderr, "the input generator failed: %s\n", slurp(summary).c_str());
        return false;
    }
    const std::string made = slurp(summary);
    unsigned link_symbols = 0;
    if (std::sscanf(made.c_str(), "%*u functions, %u link symbols", &link_symbols) != 1) {
        std::fprintf(stderr, "unexpected generator summary: %s\n", made.c_str());
        return false;
    }
    r.functions = functions;
    r.symbols = link_symbols;
    r.input_mib = static_cast<double>(fs::file_size(dir / "target.elf") + fs::file_size(dir / "module.so")) / (1 << 20);
    r.link_mib = static_cast<double>(fs::file_size(dir / "target.elf")) / (1 << 20);
    std::fprintf(stderr, "  %s", made.c_str());

    const std::string link = (dir / "target.elf").string(), image = (dir / "module.so").string();
    const std::string messages = (dir / "messages.txt").string();
    const std::vector<std::string> weld = {o.modweld, "-l", link, "-o", (dir / "module.mo").string(), image};
    const std::vector<std::string> floor = {o.floor, "-l", link, "-o", (dir / "floor.mo").string(), image};
    const std::vector<std::string> huge_floor = {o.floor, "--huge-pages", "-l", link, "-o", (dir / "floor.mo").string(),
                                                 image};

    const run_sample check = run_once(weld, messages);
    if (check.status != 0 || slurp(messages) != "relocation sucessfully\n" ||
        !same_contents(dir / "module.mo", dir / "module.expected")) {
        std::fprintf(stderr, "modweld's module image differs from the expected one (status %d, messages: %s)\n",
                     check.status, slurp(messages).c_str());
        return false;
    }
    if (run_once(floor, messages).status != 0 || run_once(huge_floor, messages).status != 0) {
        std::fprintf(stderr, "the I/O floor program failed\n");
        return false;
    }
    std::fprintf(stderr, "  output checked against the expected image; timing ...\n");

    for (int warm = 0; warm < 3; ++warm) {
        run_once(floor, messages);
        run_once(huge_floor, messages);
        run_once(weld, messages);
    }
    // Each round runs the three programs, in an order that rotates from round to round.
    r.runs = o.runs > 0 ? o.runs : default_runs(functions);
    std::vector<double> floor_ms, huge_ms, weld_ms, ratio, huge_ratio, rss, floor_rss;
    const std::vector<std::string>* programs[3] = {&floor, &huge_floor, &weld};
    for (int round = 0; round < r.runs; ++round) {
        run_sample sample[3];
        for (int k = 0; k < 3; ++k) {
            const int which = (round + k) % 3;
            sample[which] = run_once(*programs[which], messages);
            if (sample[which].status != 0) {
                std::fprintf(stderr, "a timed run of %s failed (status %d)\n", (*programs[which])[0].c_str(),
                             sample[which].status);
                return false;
            }
        }
        floor_ms.push_back(sample[0].ms);
        huge_ms.push_back(sample[1].ms);
        weld_ms.push_back(sample[2].ms);
        ratio.push_back(sample[2].ms / sample[0].ms);
        huge_ratio.push_back(sample[2].ms / sample[1].ms);
        rss.push_back(static_cast<double>(sample[2].max_rss_kib) / 1024);
        floor_rss.push_back(static_cast<double>(sample[0].max_rss_kib) / 1024);
    }
    r.floor_ms = median(floor_ms);
    r.huge_floor_ms = median(huge_ms);
    r.modweld_ms = median(weld_ms);
    r.ratio = median(ratio);
    r.ratio_q1 = quantile(ratio, 0.25);
    r.ratio_q3 = quantile(ratio, 0.75);
    r.huge_ratio = median(huge_ratio);
    r.huge_ratio_q1 = quantile(huge_ratio, 0.25);
    r.huge_ratio_q3 = quantile(huge_ratio, 0.75);
    r.rss_mib = median(rss);
    r.rss_ratio = r.rss_mib / r.input_mib;
    r.floor_rss_ratio = median(floor_rss) / r.input_mib;
    if (o.keep.empty())
        fs::remove_all(dir);
    return true;
}

// The ratio to the huge-page floor first: that floor reads as modweld does, so what is left
// above it is modweld's own work.
void print_table(const std::vector<size_result>& results)
{
    std::printf("| functions | link file MiB | ratio to huge-page floor | huge-page floor ms | modweld ms | "
                "ratio to floor | floor ms | peak RSS MiB | RSS / inputs (floor's) | ns / function | runs |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const size_result& r : results) {
        std::printf("| %u | %.2f | %.2f (%.2f-%.2f) | %.2f | %.2f | %.2f (%.2f-%.2f) | %.2f | %.1f | %.2f (%.2f) "
                    "| %.0f | %d |\n",
                    r.functions, r.link_mib, r.huge_ratio, r.huge_ratio_q1, r.huge_ratio_q3, r.huge_floor_ms,
                    r.modweld_ms, r.ratio, r.ratio_q1, r.ratio_q3, r.floor_ms, r.rss_mib, r.rss_ratio,
                    r.floor_rss_ratio, r.modweld_ms * 1e6 / r.functions, r.runs);
    }
    std::printf("\nMedians of %s; a ratio is the median of the per-round ratios, with its quartiles. "
                "The huge-page floor reads into buffers placed as modweld places its own, the floor into plain "
                "heap buffers.\n",
                "wall times of whole processes");
}

void write_plot(const options& o, const std::vector<size_result>& results, const std::string& machine)
{
    plot_series weld{"modweld", "#c0392b", false, {}, {}};
    plot_series floor{"I/O floor", "#2c3e50", false, {}, {}};
    plot_series huge{"huge-page floor", "#2980b9", false, {}, {}};
    plot_series twice{"2 x huge-page floor", "#7f8c8d", true, {}, {}};
    for (const size_result& r : results) {
        weld.x.push_back(r.functions);
        weld.y.push_back(r.modweld_ms);
        floor.x.push_back(r.functions);
        floor.y.push_back(r.floor_ms);
        huge.x.push_back(r.functions);
        huge.y.push_back(r.huge_floor_ms);
        twice.x.push_back(r.functions);
        twice.y.push_back(2 * r.huge_floor_ms);
    }
    plot_settings settings;
    settings.title = "modweld against the huge-page I/O floor (median wall time)";
    settings.x_label = "functions in the link file (jump slots: one tenth)";
    settings.y_label = "milliseconds";
    settings.notes = {machine.substr(0, machine.find(';')), o.symbols_only ? "link file: symbols only" : "link file with code and data"};
    std::ofstream out(o.plot, std::ios::trunc);
    out << svg_log_log_plot(settings, {weld, floor, huge, twice});
    std::fprintf(stderr, "plot written to %s\n", o.plot.c_str());
}

} // namespace

int main(int argc, char* argv[])
{
    options o;
    if (!parse(argc, argv, o))
        return 2;
    // In memory where the system has a place for it: on a disk mounted with discard, creating
    // an output over the last one now and then waited for the disk, in any of the programs.
    std::error_code no_shm;
    const fs::path scratch = fs::is_directory("/dev/shm", no_shm) ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path dir = o.keep.empty() ? scratch / ("modweld-bench-" + std::to_string(getpid())) : fs::path(o.keep);
    fs::create_directories(dir);

    const std::string machine = machine_description();
    std::vector<size_result> results;
    bool ok = true;
    for (std::uint32_t n : o.sizes) {
        size_result r;
        if (!bench_size(o, dir, n, r)) {
            ok = false;
            break;
        }
        results.push_back(r);
    }
    if (o.keep.empty())
        fs::remove_all(dir);
    if (!ok)
        return 1;

    std::printf("Machine: %s\n", machine.c_str());
    std::printf("Link file: %s; jump slots = functions / 10, plus one in a hundred against the module's own functions\n\n",
                o.symbols_only ? "symbols only (code and data as SHT_NOBITS)" : "with code and data");
    print_table(results);
    if (!o.plot.empty())
        write_plot(o, results, machine);
    return 0;
}
