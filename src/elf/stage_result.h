#pragma once

// What a stage tells main. The stages print their own lines and never end the process;
// only main turns a result into an exit status.
enum class stage_result {
    ok,
    failed,        // every problem already has its line
    out_of_memory, // "out of memory" printed: the run cannot go on
};
