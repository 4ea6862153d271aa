// The module stage: check, stamp and fill the jump slots of the linked image in place.
#pragma once

#include "elf/core_profile.h"
#include "elf/image_bytes.h"
#include "elf/stage_result.h"

#include <array>
#include <cstdint>

// Replaces the ELF magic at the start of a module image.
constexpr std::array<std::uint8_t, 4> MODULE_MAGIC = {0x7f, 'O', 'V', 'K'};

// Stamps MODULE_MAGIC, then fills every R_ARM_JUMP_SLOT whose symbol has value 0 with the
// st_value of the function of that name in `symbol_table`. Every slot that cannot be filled
// is reported; the walk always goes to the end. Ok when every such slot was filled; the image
// is to be written only then. For an M-profile target, a slot leading to a PLT in ARM state is
// refused: the module would fault at its first call.
stage_result relocate_module(image_span linked_image, core_profile target = core_profile::unstated);
