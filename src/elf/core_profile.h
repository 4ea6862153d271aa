// Whether the target's core can run a module's PLT. Cortex-M cores (the M profile) execute
// Thumb code only; a PLT written in ARM state faults at the module's first call into the
// target, so such a module must not be welded for them.
#pragma once

#include "elf/image_bytes.h"

#include <cstdint>

enum class core_profile {
    unstated,  // no build attributes, others than M, or attributes that cannot be read
    m_profile, // Thumb code only
};

// The core the link file was built for, as its own ARM build attributes say (the "aeabi"
// file attributes of its SHT_ARM_ATTRIBUTES section: Tag_CPU_arch_profile, Tag_CPU_arch).
// Reads only inside the buffer and never more than the section holds; prints nothing.
core_profile read_core_profile(image_view link_file);

// True when `slot_value`, what the linker left in a jump slot for lazy binding, leads to a
// PLT header in ARM state: an even address whose first word is `str lr, [sp, #-4]!`. Both
// linkers leave the header's address there, with bit 0 set when the PLT is Thumb code.
bool leads_to_arm_plt(image_view image, std::uint32_t slot_value);
