// The command-line surface: a small option scanner, the usage and version texts, and
// the checks that the three paths were given.
#pragma once

// 1 once -D was given: main then has the stages print trace lines.
extern int debug_flag;

// Scanner state: the index of the next argument to examine (starts at 1, only grows)
// and the value taken by the most recent option found.
extern int option_index;
extern const char* option_value;

constexpr const char* OPTION_STRING = "VDl:o:h";
constexpr const char* PROGRAM_NAME = "modweld.exe";
constexpr const char* VERSION_TEXT = "2010-07-18";

// The code of the next option, or -1 when the scan is over. Every letter found in
// `options` takes the following argument as its value, colons included; a lone "-"
// is found at the string's NUL and yields 0.
int next_option(int argc, char* const argv[], const char* options);

// Writes the usage text to standard error, after flushing standard output so that a
// message printed just before it stays ahead of it, and ends the process with status 1.
[[noreturn]] void print_usage(const char* program_name);

// Writes the version banner to standard error.
void print_version();

struct command_line {
    const char* link_path = nullptr;
    const char* output_path = nullptr;
    const char* image_path = nullptr;
    bool version_requested = false;
};

enum class scan_result {
    run,           // all three paths given
    show_usage,    // usage text due (any message before it already printed)
    show_version,  // version banner due
};

// Runs the option loop and the checks after it. Prints the "... can't be empty" lines
// itself; leaves the usage text and the banner to the caller.
scan_result scan_command_line(int argc, char* const argv[], command_line& settings);
