#include "elf/core_profile.h"

#include "elf/elf32.h"

#include <optional>
#include <string_view>

namespace {

constexpr std::uint32_t ARM_PLT_HEADER_FIRST_WORD = 0xe52de004; // str lr, [sp, #-4]!

// Moves `at` past the NUL-terminated string there; false when none ends before `end`.
bool skip_string(image_view s, std::uint64_t& at, std::uint64_t end)
{
    const std::optional<std::string_view> text = read_string(s, at, end - at);
    if (!text)
        return false;
    at += text->size() + 1;
    return true;
}

bool names_m_profile(std::uint64_t tag, std::uint64_t value)
{
    if (tag == TAG_CPU_ARCH_PROFILE)
        return value == PROFILE_MICROCONTROLLER;
    if (tag == TAG_CPU_ARCH)
        for (const std::uint64_t arch : M_PROFILE_ARCHES)
            if (value == arch)
                return true;
    return false;
}

// The file attributes in [at, end). Tags up to 32 have their own value kinds; above, an odd
// tag takes a string and an even one a number.
bool file_attributes_name_m_profile(image_view s, std::uint64_t at, std::uint64_t end)
{
    while (at < end) {
        const std::optional<std::uint64_t> tag = read_uleb128(s, at, end);
        if (!tag)
            return false;
        if (*tag == TAG_CPU_RAW_NAME || *tag == TAG_CPU_NAME || (*tag > TAG_COMPATIBILITY && *tag % 2 == 1)) {
            if (!skip_string(s, at, end))
                return false;
            continue;
        }
        const std::optional<std::uint64_t> value = read_uleb128(s, at, end);
        if (!value || (*tag == TAG_COMPATIBILITY && !skip_string(s, at, end)))
            return false;
        if (names_m_profile(*tag, *value))
            return true;
    }
    return false;
}

// One vendor subsection, [at, end): the vendor's name, then tagged groups of attributes.
bool aeabi_subsection_names_m_profile(image_view s, std::uint64_t at, std::uint64_t end)
{
    const std::optional<std::string_view> vendor = read_string(s, at, end - at);
    if (!vendor || *vendor != AEABI_VENDOR)
        return false;
    for (at += vendor->size() + 1; at < end;) {
        const std::optional<attributes_group> group = read_record<attributes_group>(s, at);
        if (!group || group->size < sizeof *group || group->size > end - at)
            return false;
        if (group->tag == TAG_FILE && file_attributes_name_m_profile(s, at + sizeof *group, at + group->size))
            return true;
        at += group->size;
    }
    return false;
}

bool attributes_name_m_profile(image_view s)
{
    if (read_record<std::uint8_t>(s, 0) != ATTRIBUTES_FORMAT)
        return false;
    for (std::uint64_t at = 1; at < s.size();) {
        const std::optional<std::uint32_t> length = read_u32(s, at);
        if (!length || *length < sizeof(ul32) || *length > s.size() - at)
            return false;
        if (aeabi_subsection_names_m_profile(s, at + sizeof(ul32), at + *length))
            return true;
        at += *length;
    }
    return false;
}

} // namespace

core_profile read_core_profile(image_view image)
{
    const std::optional<Elf32_Ehdr> ehdr = read_record<Elf32_Ehdr>(image, 0);
    if (!check_elf_header(image) || !ehdr)
        return core_profile::unstated;
    const auto sections = section_table(image, *ehdr);
    for (std::uint32_t i = 0; sections && i < sections->size(); ++i) {
        const Elf32_Shdr shdr = (*sections)[i];
        if (shdr.sh_type != SHT_ARM_ATTRIBUTES)
            continue;
        const std::optional<image_view> contents = section_contents(image, shdr);
        if (contents && attributes_name_m_profile(*contents))
            return core_profile::m_profile;
    }
    return core_profile::unstated;
}

bool leads_to_arm_plt(image_view image, std::uint32_t slot_value)
{
    return (slot_value & THUMB_BIT) == 0 && read_u32(image, slot_value) == ARM_PLT_HEADER_FIRST_WORD;
}
