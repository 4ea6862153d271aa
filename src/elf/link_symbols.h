// The link-file stage: every function symbol of the target system's image, by name.
#pragma once

#include "elf/image_bytes.h"
#include "elf/stage_result.h"
#include "symtab/hash_table.h"

// Absent until the link-file stage meets a symbol table section. Values point at the
// Elf32_Sym records inside the link file's buffer, which must outlive the table.
extern hash_table* symbol_table;

// Enters every STT_FUNC symbol of every SHT_SYMTAB section into `symbol_table` (a second
// such section starts a fresh table). Failed after "check ELF header error", or once any
// part of the image that could not be read was reported and passed over.
stage_result collect_link_symbols(image_view link_file);

// The st_value of a symbol the table refers to.
std::uint32_t referenced_st_value(const void* symbol);
