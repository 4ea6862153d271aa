// The module stage: check, stamp and fill the jump slots of the linked image in place, leaving
// the module image: MODULE_MAGIC (elf32.h) in place of the ELF magic, the slots filled.
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
// st_value of the function of that name among `link.functions`, reporting every slot that
// cannot be filled. Ok when every such slot was filled: only then is the image written. Also
// refused: a slot leading to a PLT the target's core cannot run, floats passed in other
// registers than the target's, and a pair that looks swapped (see swapped_inputs.h).
stage_result relocate_module(image_span linked_image, const module_stage_inputs& link);
