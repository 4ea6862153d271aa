// The ELF32 records and values that whole images carry but the tool never reads: program
// headers, the dynamic section, special section indexes and the ARM header flags. Declared
// here once, in the style of src/elf/elf32.h, for everything that writes complete images.
#pragma once

#include "elf/elf32.h"

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t PT_LOAD = 1, PT_DYNAMIC = 2;
constexpr std::uint32_t PF_X = 1, PF_W = 2, PF_R = 4;
constexpr std::uint32_t SHT_DYNAMIC = 6;
constexpr std::uint32_t SHF_INFO_LINK = 0x40;
constexpr std::uint16_t SHN_UNDEF = 0, SHN_ABS = 0xfff1;
constexpr std::uint32_t DT_NULL = 0;
constexpr std::uint32_t EF_ARM_EABI_VER5 = 0x05000000, EF_ARM_ABI_FLOAT_SOFT = 0x200;

struct Elf32_Phdr {
    ul32 p_type, p_offset, p_vaddr, p_paddr, p_filesz, p_memsz, p_flags, p_align;
};

struct Elf32_Dyn {
    ul32 d_tag, d_val;
};

static_assert(sizeof(Elf32_Phdr) == 32 && offsetof(Elf32_Phdr, p_filesz) == 16 && offsetof(Elf32_Phdr, p_align) == 28);
static_assert(sizeof(Elf32_Dyn) == 8 && offsetof(Elf32_Dyn, d_val) == 4);
