#!/bin/sh
# Rebuilds the example pair: target.elf, the target system image (the link file), and
# module.so, a module linked so that every allocated section's address equals its file
# offset. Then checks that layout and welds the pair once.
#
#   ./build.sh [lld|gnu] [OUTDIR]
#
# lld (the default, which made the committed pair): clang --target=armv7a-none-eabi and
# ld.lld, both version 14 whatever comes first on PATH (clang-14 and ld.lld-14, or LLVM
# 14's bin directory): tests know byte offsets in the pair, which other versions move.
# gnu: arm-none-eabi-gcc and arm-none-eabi-ld (Debian packages gcc-arm-none-eabi and
# binutils-arm-none-eabi). OUTDIR defaults to this directory.
# MODWELD names the modweld binary used for the final check (default ../build/modweld).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
linker=${1:-lld}
out=$(mkdir -p "${2:-$here}" && cd "${2:-$here}" && pwd)
cd "$here"

llvm14() { # NAME
  command -v "$1-14" 2>/dev/null && return 0
  [ -x "/usr/lib/llvm-14/bin/$1" ] && { echo "/usr/lib/llvm-14/bin/$1"; return 0; }
  echo "$1 14 not found (Debian: apt-get install clang-14 lld-14)" >&2
  return 1
}

common="-O1 -ffreestanding -fno-builtin -Wall -Wextra"
case "$linker" in
lld)
  clang=$(llvm14 clang) || exit 1
  lld=$(llvm14 ld.lld) || exit 1
  cc="$clang --target=armv7a-none-eabi $common"
  arm="-marm"
  thumb="-mthumb"
  link_target() { "$lld" -z max-page-size=4 -T target/target.ld "$@"; }
  link_module() { "$lld" -shared -z max-page-size=1 "$@"; }
  ;;
gnu)
  cc="arm-none-eabi-gcc -march=armv7-a $common -fno-tree-loop-distribute-patterns"
  arm="-marm"
  thumb="-mthumb"
  link_target() { arm-none-eabi-ld -T target/target.ld "$@"; }
  link_module() { arm-none-eabi-ld -shared -z max-page-size=1 "$@"; }
  ;;
*)
  echo "usage: $0 [lld|gnu] [OUTDIR]" >&2
  exit 2
  ;;
esac

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The target system: kernel, timer and library in ARM state, drivers and board in Thumb.
for f in start kernel timer lib; do
  (cd target && $cc $arm -c $f.c -o "$tmp/$f.o")
done
for f in uart gpio board; do
  (cd target && $cc $thumb -c $f.c -o "$tmp/$f.o")
done
link_target "$tmp/start.o" "$tmp/kernel.o" "$tmp/timer.o" "$tmp/lib.o" \
  "$tmp/uart.o" "$tmp/gpio.o" "$tmp/board.o" -o "$out/target.elf"

# The module: position-independent, its calls into the target through the PLT.
$cc $arm -fPIC -c module.c -o "$tmp/module.o"
link_module "$tmp/module.o" -o "$out/module.so"

"$here/../tools/check-layout.sh" "$out/module.so"

modweld=${MODWELD:-$here/../build/modweld}
if [ -x "$modweld" ]; then
  "$modweld" -l "$out/target.elf" -o "$tmp/module.mo" "$out/module.so"
fi
