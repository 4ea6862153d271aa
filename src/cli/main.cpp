// modweld: fills the jump slots of a linked module from the target system's symbol table
// and writes the module image.
#include "cli/file_io.h"
#include "cli/options.h"
#include "elf/build_attributes.h"
#include "elf/link_symbols.h"
#include "elf/relocate.h"
#include "elf/walk.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    command_line settings;
    switch (scan_command_line(argc, argv, settings)) {
    case scan_result::show_usage:
        print_usage(PROGRAM_NAME); // ends the process with status 1: nothing falls through
    case scan_result::show_version:
        print_version();
        return 1;
    case scan_result::run:
        break;
    }
    const bool trace = debug_flag == 1;

    // Both buffers live until the process ends: symbol_table points into the first, and
    // the second becomes the module image.
    image_buffer link_file;
    if (!load_input(LINK_FILE, settings.link_path, link_file))
        return 1;
    // A link file that could not be read, or read only in part, has had its lines; the run
    // goes on with the functions it gave, and fails only when a slot then finds none.
    const stage_result collected = collect_link_symbols(link_file.view(), symbol_table, trace);
    if (collected == stage_result::out_of_memory)
        return 1;
    // An ELF file with no symbol table section, read without a problem, gives no table.
    const bool stripped = collected == stage_result::ok && symbol_table == nullptr;
    const module_stage_inputs link{symbol_table, read_build_attributes(link_file.view()), trace, link_file.view(),
                                   stripped};

    image_buffer linked_image;
    if (!load_input(LINKED_IMAGE, settings.image_path, linked_image))
        return 1;
    if (relocate_module(linked_image.span(), link) != stage_result::ok) {
        // Status 1, not 0: a script must not take a run that wrote nothing for a success.
        std::fputs("relocation failed\n", stdout);
        return 1;
    }
    std::fputs("relocation sucessfully\n", stdout);

    if (!write_output(settings.output_path, linked_image.view()))
        return 1;
    return 0;
}
