// What an ARM ELF file's own build attributes say of its code: the core it was built for and
// where it passes floating-point arguments. A module must suit its target on both: a Cortex-M
// core runs Thumb code only (the smallest ones not even Thumb-2), and a float passed in the
// other convention's registers arrives as whatever those registers held.
#pragma once

#include "elf/elf32.h"

#include <cstdint>

enum class target_core {
    any,       // no M-profile core named: A or R profile, no attributes, or unreadable ones
    thumb2_m,  // v7-M, v7E-M, v8-M mainline, v8.1-M mainline: Thumb-2, no ARM state
    armv6_m,   // these three: Thumb-1 and a few 32-bit instructions, no Thumb-2 PLT either
    armv6s_m,
    armv8_m_baseline,
};

enum class float_args {
    unstated,       // no aeabi file attributes, or a toolchain-specific or "compatible" value
    core_registers, // the base AAPCS (-mfloat-abi=soft or softfp)
    vfp_registers,  // the VFP variant (-mfloat-abi=hard)
};

struct build_attributes {
    target_core core = target_core::any;
    float_args floats = float_args::unstated;
};

// Read from the "aeabi" file attributes of every SHT_ARM_ATTRIBUTES section among `sections`
// (Tag_CPU_arch, Tag_CPU_arch_profile, Tag_ABI_VFP_args; a later value replaces an earlier
// one). A file group read to its end without Tag_ABI_VFP_args states the base AAPCS; what
// cannot be read states nothing from where it fails. Reads only inside the buffer and never
// more than a section holds; prints nothing.
build_attributes read_build_attributes(image_view image, const record_table<Elf32_Shdr>& sections);

// The same for a whole file: nothing stated unless it is ELF32 and its section header table
// lies inside it.
build_attributes read_build_attributes(image_view image);

// The architecture a core of the Thumb-1 kind is named by ("ARMv6-M", ...); "M-profile" for
// the others.
const char* core_name(target_core core);
