// The link-file stage: every function symbol of the target system's image, by name.
#pragma once

#include "elf/image_bytes.h"
#include "symtab/hash_table.h"

// Absent until the link-file stage meets a symbol table section. Values point at the
// Elf32_Sym records inside the link file's buffer, which must outlive the table.
extern hash_table* symbol_table;

// Stage results.
constexpr int STAGE_OK = 0;
constexpr int STAGE_FAILED = 1;
constexpr int STAGE_OUT_OF_MEMORY = 2; // "out of memory" printed; the run must end

// Enters every STT_FUNC symbol of every SHT_SYMTAB section into `symbol_table` (a second
// such section starts a fresh table). STAGE_FAILED after "check ELF header error" or
// after any part of the image that could not be read was reported and passed over.
int collect_link_symbols(image_view link_file);
