// Runs the built modweld binary as a user would and collects what it leaves behind.
#pragma once

#include "elf_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct run_result {
    int status = -1; // exit status, or -1 when killed by a signal
    int signal = 0;  // the signal that killed it (on Windows the exception code), 0 if none
    // The streams' text with lines ending in "\n" on every platform. On Windows the tool's
    // streams are in text mode and every line must reach the file as "\r\n": a line that
    // does not fails the test.
    std::string out;
    std::string err;
    // The bytes as the tool wrote them.
    std::string raw_out;
    std::string raw_err;
};

struct run_options {
    std::optional<unsigned> umask; // POSIX only
    bool merge_streams = false; // standard error into the same file as standard output
    // POSIX only: the run's file-size limit (RLIMIT_FSIZE) in bytes, variables added to its
    // environment ("NAME=value"), and a SIGKILL after that long if it is still running.
    std::optional<std::uint64_t> file_size_limit;
    std::vector<std::string> environment;
    std::optional<std::chrono::milliseconds> kill_after;
    std::filesystem::path program; // another build of the tool; empty: modweld_path()
    // Linux only: the run lacks CAP_FSETID even as root, as every other user does, so that the
    // system clears a set-group-ID bit on a write.
    bool without_fsetid = false;
};

// The built modweld binary. On Windows it is found relative to the test program, since
// the build tree's host path means nothing under Wine.
std::filesystem::path modweld_path();

// Runs modweld with `args` (argv[1] onward) in directory `cwd`.
run_result run_modweld(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                       const run_options& options = {});

void write_file(const std::filesystem::path& path, const bytes& content);
bytes read_file(const std::filesystem::path& path);
// Sets the size of an existing file without writing its content, as a sparse file where
// the file system allows.
void resize_sparse(const std::filesystem::path& path, std::uint64_t size);

#ifdef _WIN32
// True when the tests run under Wine rather than on Windows itself.
bool running_under_wine();
#endif

// The line end that the tool's standard streams carry on this platform.
#ifdef _WIN32
constexpr const char* NATIVE_EOL = "\r\n";
#else
constexpr const char* NATIVE_EOL = "\n";
#endif

// A fresh temporary directory per test, removed afterwards.
class tool_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path path(const std::string& name) const { return dir_ / name; }
    // Writes `content` to `name` in the test's directory.
    void put(const std::string& name, const bytes& content) const { write_file(path(name), content); }
    bytes get(const std::string& name) const { return read_file(path(name)); }
    bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }
    run_result run(const std::vector<std::string>& args, const run_options& options = {}) const
    {
        return run_modweld(args, dir_, options);
    }

private:
    std::filesystem::path dir_;
};

// What a module image must be: the linked image with the module magic and the given
// slots set, and nothing else changed.
bytes expected_module(bytes linked, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& slots);
