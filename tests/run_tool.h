// Runs the built modweld binary as a user would and collects what it leaves behind.
#pragma once

#include "elf_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct run_result {
    int status = -1; // exit status, or -1 when killed by a signal
    int signal = 0;  // the signal that killed it, 0 if none
    std::string out;
    std::string err;
};

struct run_options {
    std::optional<unsigned> umask;
    bool merge_streams = false; // standard error into the same file as standard output
};

// Runs modweld with `args` (argv[1] onward) in directory `cwd`.
run_result run_modweld(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                       const run_options& options = {});

void write_file(const std::filesystem::path& path, const bytes& content);
bytes read_file(const std::filesystem::path& path);

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
