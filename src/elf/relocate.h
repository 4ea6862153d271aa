// The module stage: check, stamp and fill the jump slots of the linked image in place.
#pragma once

#include "elf/build_attributes.h"
#include "elf/image_bytes.h"
#include "elf/stage_result.h"

#include <array>
#include <cstdint>

// Replaces the ELF magic at the start of a module image.
constexpr std::array<std::uint8_t, 4> MODULE_MAGIC = {0x7f, 'O', 'V', 'K'};

// Stamps MODULE_MAGIC, then fills every R_ARM_JUMP_SLOT whose symbol has value 0 with the
// st_value of the function of that name in `symbol_table`. Every slot that cannot be filled
// is reported; the walk always goes to the end. Ok when every such slot was filled; the image
// is to be written only then. `target` is what the link file's build attributes say: a slot
// leading to a PLT that its core cannot run is refused, and so is a module that passes
// floating-point arguments in other registers than the target.
stage_result relocate_module(image_span linked_image, const build_attributes& target = {});
