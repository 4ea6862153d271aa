// The link-file stage: every function symbol of the target system's image, by name.
#pragma once

#include "elf/image_bytes.h"
#include "elf/stage_result.h"
#include "symtab/hash_table.h"

// The run's table of the link file's functions: absent until the link-file stage meets a
// symbol table section. Its values point at the Elf32_Sym records inside the link file's
// buffer, which must outlive it. Only main reads or writes it; the stages are handed it.
extern hash_table* symbol_table;

// Enters every STT_FUNC symbol of every SHT_SYMTAB section of `link_file` into `table`, which
// each such section creates afresh; with `trace`, a line for each before it is entered. Failed
// after "check ELF header error", or once a part that could not be read was reported and
// passed over; out_of_memory after "out of memory".
stage_result collect_link_symbols(image_view link_file, hash_table*& table, bool trace);
