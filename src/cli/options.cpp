#include "cli/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int debug_flag = 0;
int option_index = 1;
const char* option_value = nullptr;

int next_option(int argc, char* const argv[], const char* options)
{
    if (option_index >= argc)
        return -1;
    const char* argument = argv[option_index];
    if (argument[0] != '-')
        return -1;
    // strchr finds the terminating NUL too, so a lone "-" yields code 0.
    const char* found = std::strchr(options, argument[1]);
    if (found == nullptr)
        return -1;
    option_value = argv[option_index + 1];
    option_index += 2;
    return *found;
}

void print_usage(const char* program_name)
{
    std::fflush(stdout);
    std::fprintf(stderr,
                 "Usage: %s [-V][-l filename][-o output] Filename\n"
                 "   -V: Print version infomation\n"
                 "   -l <filename>: Orvanel elf image\n"
                 "   -o <output>:   Module image to be created\n"
                 "   Filename: Linked image\n",
                 program_name);
    std::exit(1);
}

void print_version()
{
    std::fprintf(stderr, "slotfill version %s\n\n", VERSION_TEXT);
}

scan_result scan_command_line(int argc, char* const argv[], command_line& settings)
{
    for (int code; (code = next_option(argc, argv, OPTION_STRING)) != -1;) {
        switch (code) {
        case 'D':
            debug_flag = 1;
            break;
        case 'V':
            settings.version_requested = true;
            break;
        case 'l':
            settings.link_path = option_value;
            break;
        case 'o':
            settings.output_path = option_value;
            break;
        default: // 'h', ':' or 0 from a lone "-"
            return scan_result::show_usage;
        }
    }
    if (settings.version_requested)
        return scan_result::show_version;
    settings.image_path = argc >= 1 ? argv[argc - 1] : nullptr;
    if (settings.image_path == nullptr) {
        std::fputs("File can't be empty\n", stdout);
        return scan_result::show_usage;
    }
    if (settings.output_path == nullptr) {
        std::fputs("Output file can't be empty\n", stdout);
        return scan_result::show_usage;
    }
    if (settings.link_path == nullptr) {
        std::fputs("Link file can't be empty\n", stdout);
        return scan_result::show_usage;
    }
    return scan_result::run;
}
