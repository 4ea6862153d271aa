#include "elf/build_attributes.h"

#include <optional>
#include <string_view>

namespace {

// The tags read, as the attributes state them so far.
struct attribute_values {
    std::optional<std::uint64_t> arch, profile, vfp_args;
    bool file_group_read = false; // one file group read to its end
};

// Moves `at` past the NUL-terminated string there; false when none ends before `end`.
bool skip_string(image_view contents, std::uint64_t& at, std::uint64_t end)
{
    const std::optional<std::string_view> text = read_string(contents, at, end - at);
    if (!text)
        return false;
    at += text->size() + 1;
    return true;
}

// The file attributes in [at, end); true when read to the end. Tags up to 32 have their own
// value kinds; above, an odd tag takes a string and an even one a number.
bool read_file_attributes(image_view contents, std::uint64_t at, std::uint64_t end, attribute_values& found)
{
    while (at < end) {
        const std::optional<std::uint64_t> tag = read_uleb128(contents, at, end);
        if (!tag)
            return false;
        if (*tag == TAG_CPU_RAW_NAME || *tag == TAG_CPU_NAME || (*tag > TAG_COMPATIBILITY && *tag % 2 == 1)) {
            if (!skip_string(contents, at, end))
                return false;
            continue;
        }
        const std::optional<std::uint64_t> value = read_uleb128(contents, at, end);
        if (!value || (*tag == TAG_COMPATIBILITY && !skip_string(contents, at, end)))
            return false;
        if (*tag == TAG_CPU_ARCH)
            found.arch = value;
        else if (*tag == TAG_CPU_ARCH_PROFILE)
            found.profile = value;
        else if (*tag == TAG_ABI_VFP_ARGS)
            found.vfp_args = value;
    }
    return true;
}

// One vendor subsection, [at, end): the vendor's name, then tagged groups of attributes.
void read_aeabi_subsection(image_view contents, std::uint64_t at, std::uint64_t end, attribute_values& found)
{
    const std::optional<std::string_view> vendor = read_string(contents, at, end - at);
    if (!vendor || *vendor != AEABI_VENDOR)
        return;
    for (at += vendor->size() + 1; at < end;) {
        const std::optional<attributes_group> group = read_record<attributes_group>(contents, at);
        if (!group || group->size < sizeof *group || group->size > end - at)
            return;
        if (group->tag == TAG_FILE && read_file_attributes(contents, at + sizeof *group, at + group->size, found))
            found.file_group_read = true;
        at += group->size;
    }
}

void read_attributes_section(image_view contents, attribute_values& found)
{
    if (read_record<std::uint8_t>(contents, 0) != ATTRIBUTES_FORMAT)
        return;
    for (std::uint64_t at = 1; at < contents.size();) {
        const std::optional<std::uint32_t> length = read_u32(contents, at);
        if (!length || *length < sizeof(ul32) || *length > contents.size() - at)
            return;
        read_aeabi_subsection(contents, at + sizeof(ul32), at + *length, found);
        at += *length;
    }
}

target_core core_of(const attribute_values& found)
{
    switch (found.arch.value_or(0)) {
    case CPU_ARCH_V6_M:
        return target_core::armv6_m;
    case CPU_ARCH_V6S_M:
        return target_core::armv6s_m;
    case CPU_ARCH_V8_M_BASE:
        return target_core::armv8_m_baseline;
    case CPU_ARCH_V7E_M:
    case CPU_ARCH_V8_M_MAIN:
    case CPU_ARCH_V8_1_M_MAIN:
        return target_core::thumb2_m;
    default:
        return found.profile == PROFILE_MICROCONTROLLER ? target_core::thumb2_m : target_core::any;
    }
}

float_args floats_of(const attribute_values& found)
{
    if (!found.vfp_args) // a file group read to its end without the tag states the base variant
        return found.file_group_read ? float_args::core_registers : float_args::unstated;
    return *found.vfp_args == VFP_ARGS_BASE  ? float_args::core_registers
           : *found.vfp_args == VFP_ARGS_VFP ? float_args::vfp_registers
                                             : float_args::unstated;
}

} // namespace

build_attributes read_build_attributes(image_view image, const record_table<Elf32_Shdr>& sections)
{
    attribute_values found;
    for (std::uint32_t i = 0; i < sections.size(); ++i) {
        const Elf32_Shdr shdr = sections[i];
        if (shdr.sh_type != SHT_ARM_ATTRIBUTES)
            continue;
        if (const std::optional<image_view> contents = section_contents(image, shdr))
            read_attributes_section(*contents, found);
    }
    return {core_of(found), floats_of(found)};
}

build_attributes read_build_attributes(image_view image)
{
    const std::optional<Elf32_Ehdr> ehdr = read_record<Elf32_Ehdr>(image, 0);
    if (!check_elf_header(image) || !ehdr)
        return {};
    const std::optional<record_table<Elf32_Shdr>> sections = section_table(image, *ehdr);
    return sections ? read_build_attributes(image, *sections) : build_attributes{};
}

const char* core_name(target_core core)
{
    return core == target_core::armv6_m            ? "ARMv6-M"
           : core == target_core::armv6s_m         ? "ARMv6S-M"
           : core == target_core::armv8_m_baseline ? "ARMv8-M baseline"
                                                   : "M-profile";
}
