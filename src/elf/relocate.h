// The module stage: check, stamp and fill the jump slots of the linked image in place.
#pragma once

#include "elf/core_profile.h"
#include "elf/image_bytes.h"

#include <array>
#include <cstdint>

// Replaces the ELF magic at the start of a module image.
constexpr std::array<std::uint8_t, 4> MODULE_MAGIC = {0x7f, 'O', 'V', 'K'};

// Stamps MODULE_MAGIC, then fills every R_ARM_JUMP_SLOT whose symbol has value 0 with the
// st_value of the function of that name in `symbol_table`. Every slot that cannot be
// filled is reported; the walk always goes to the end. 0 when every such slot was
// filled, 1 otherwise (the image is then not to be written). For an M-profile target a slot
// that leads to a PLT in ARM state is refused: the module would fault at its first call.
int relocate_module(image_span linked_image, core_profile target = core_profile::unstated);
