// What the fuzz targets share: quiet output and the checks of what must hold after the
// module stage whatever the input was.
#pragma once

#include "fuzz_input.h"

#include "elf/image_bytes.h"
#include "elf/stage_result.h"

#include <cstdint>
#include <vector>

// Sends standard output to the null device: the stages print a line per problem.
void silence_stdout();

// Ends the process with a message on standard error when `condition` is false, so that
// the fuzzer records the input as a finding.
void require(bool condition, const char* what);

// After relocate_module(`after`) returned `result` on a copy of `before`: an input that is
// not ELF32 is left as it was; anything else carries the module magic; and a successful
// stage changed nothing but the magic and 4-byte jump slots.
void check_module_stage(const bytes& before, const bytes& after, stage_result result);

// A fixed real link file (tests/hostile/target.elf), built into the target.
extern const std::uint8_t EMBEDDED_LINK_FILE[];
extern const std::size_t EMBEDDED_LINK_FILE_SIZE;
