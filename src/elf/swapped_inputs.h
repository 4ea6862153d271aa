// A pair given the wrong way round: the module with -l and the target system's image last. The
// target has no jump slot to fill, so without this check the run would stamp the target's
// image and call it a module image.
#pragma once

#include "elf/image_bytes.h"

// False, after the line that says the inputs look swapped, when the link file has jump slots
// whose symbols have no value and every name they import is a function of the linked image's
// symbol tables. Called only for a linked image with no slot to fill; reads both files without
// a line of its own, and takes anything it cannot read for a pair in order.
bool inputs_in_order(image_view link_file, image_view linked_image);
