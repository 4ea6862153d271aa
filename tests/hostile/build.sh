#!/bin/sh
# Regenerates the real pair the hostile-input tests and the fuzz corpora start from:
# target.elf (the link file) and module.so (the linked image, every allocated section's
# address equal to its file offset).
set -eu
cd "$(dirname "$0")"
clang --target=armv7a-none-eabi -O1 -c target.c -o target.o
ld.lld target.o -o target.elf -e _start
clang --target=armv7a-none-eabi -O1 -fPIC -c module.c -o module.o
ld.lld -shared -z max-page-size=1 module.o -o module.so
rm -f target.o module.o
