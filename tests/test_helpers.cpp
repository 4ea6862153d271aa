#include "test_helpers.h"

#include <cctype>
#include <cstdio>

std::string hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string test_name(std::string_view description)
{
    std::string name;
    bool gap = false;
    for (const char c : description) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            gap = true;
            continue;
        }
        if (gap && !name.empty())
            name += '_';
        gap = false;
        name += c;
    }
    return name;
}

namespace {

bytes hostile_file(const char* name)
{
    bytes b = read_file(std::filesystem::path(MODWELD_HOSTILE_DIR) / name);
    if (b.empty())
        ADD_FAILURE() << "missing " << name << " in " << MODWELD_HOSTILE_DIR;
    return b;
}

} // namespace

const hostile_pair& pair()
{
    static const hostile_pair p{hostile_file("target.elf"), hostile_file("module.so")};
    return p;
}
