#!/bin/sh
# Regenerates the real pair the hostile-input tests and the fuzz corpora start from:
# target.elf (the link file) and module.so (the linked image, every allocated section's
# address equal to its file offset). The tests know byte offsets in the pair, which other
# versions move: clang and ld.lld are version 14 whatever comes first on PATH (clang-14
# and ld.lld-14, or LLVM 14's bin directory).
set -eu
cd "$(dirname "$0")"

llvm14() { # NAME
  command -v "$1-14" 2>/dev/null && return 0
  [ -x "/usr/lib/llvm-14/bin/$1" ] && { echo "/usr/lib/llvm-14/bin/$1"; return 0; }
  echo "$1 14 not found (Debian: apt-get install clang-14 lld-14)" >&2
  return 1
}
clang=$(llvm14 clang) || exit 1
lld=$(llvm14 ld.lld) || exit 1

"$clang" --target=armv7a-none-eabi -O1 -c target.c -o target.o
"$lld" target.o -o target.elf -e _start
"$clang" --target=armv7a-none-eabi -O1 -fPIC -c module.c -o module.o
"$lld" -shared -z max-page-size=1 module.o -o module.so
rm -f target.o module.o
