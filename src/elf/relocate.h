// The module stage: check, stamp and fill the jump slots of the linked image in place. The
// module image it leaves is the linked image with MODULE_MAGIC (elf32.h) in place of the ELF
// magic and the slots filled, nothing else changed.
#pragma once

#include "elf/build_attributes.h"
#include "elf/image_bytes.h"
#include "elf/stage_result.h"
#include "symtab/hash_table.h"

// What the module stage is given besides the linked image.
struct module_stage_inputs {
    const hash_table* functions = nullptr; // the link file's functions by name; nullptr: none
    build_attributes target;               // what the link file's build attributes say
    bool trace = false;                    // a line for every slot before it is written
    image_view image = {};                 // the link file itself, to tell a pair given swapped
    bool stripped = false;                 // an ELF file without a symbol table section
};

// Stamps MODULE_MAGIC, then fills every R_ARM_JUMP_SLOT whose symbol has value 0 with the
// st_value of the function of that name among `link.functions`. Every slot that cannot be
// filled is reported; the walk always goes to the end. Ok when every such slot was filled;
// the image is to be written only then. A slot leading to a PLT that the target's core cannot
// run is refused, and so is a module that passes floating-point arguments in other registers
// than the target, and a linked image with no slot to fill given with a link file that looks
// like its module (see swapped_inputs.h).
stage_result relocate_module(image_span linked_image, const module_stage_inputs& link);
