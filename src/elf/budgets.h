// What one stage may spend on a crafted image, so that its work and memory stay in proportion
// to the image. Well-formed images use a small fraction of each; past a limit the stage says so
// on one line and reads or looks up no more.
#pragma once

#include "elf/image_bytes.h"

#include <cstdint>

// Section contents: the sections of the kind a stage walks (symbol tables, relocation
// sections) never overlap in a well-formed image, so together they fit in it. 65535 headers
// over one table otherwise made a 3 MB image cost 99 s.
//
// Names: they may share bytes (a name can be the tail of another, and duplicates share one
// string), hence an allowance on top of the image's size. Without a limit, a million symbols
// pointing into one long NUL-free run cost a million scans and copies of that run.
constexpr std::uint64_t NAME_ALLOWANCE = std::uint64_t{64} << 20;

struct walk_budget {
    std::uint64_t contents_left; // bytes of walked sections' contents
    std::uint64_t names_left;    // bytes of names read, NULs and failed scans included
};

inline walk_budget make_walk_budget(image_view image)
{
    return {image.size(), image.size() + NAME_ALLOWANCE};
}

// Lookups of the module's names: one unit per table entry visited and per byte of the name
// compared with it. On well-formed inputs a lookup costs a few dozen units; names crafted to
// share one bucket would otherwise cost entries x lookups comparisons, hours for two files of
// a few megabytes.
constexpr std::uint64_t LOOKUP_FACTOR = 16;
constexpr std::uint64_t LOOKUP_ALLOWANCE = std::uint64_t{256} << 20;

inline std::uint64_t lookup_limit(image_view linked_image)
{
    return LOOKUP_FACTOR * linked_image.size() + LOOKUP_ALLOWANCE;
}
