#!/bin/sh
# Regenerates tests/fixtures: two target system images (link files) and modules linked
# by LLVM lld and by GNU ld, plus manifest.txt, the expectations the tests check the
# modweld binary against. The manifest comes from readelf's view of the files, never
# from modweld:
#
#   fixture NAME LINK_FILE LINKED_IMAGE   one per module
#   layout identity|default|shifted       whether allocated sections sit at address == offset
#   functions N                           STT_FUNC symbols in the link file's .symtab
#   slot OFFSET NAME VALUE OUTCOME        one per R_ARM_JUMP_SLOT, in readelf -r order
#   status 0|1                            0 when every slot is filled or kept
#
# OUTCOME: fill (the link file's last STT_FUNC of that name gives VALUE), keep (the
# module's symbol has a value: the slot stays as linked), missing (no such function in
# the link file), outside (found, but the 4 bytes at OFFSET are past the end of the file),
# misplaced SECTION ADDR OFF (found, but OFFSET lies in allocated section SECTION, whose
# address ADDR is not its file offset OFF: writing the slot there would corrupt the module),
# arm-plt ADDR (found, but the link file's build attributes name an M-profile core and the
# module's .plt at ADDR starts with an ARM mapping symbol, $a: that core cannot run it).
#
# Tools: clang and ld.lld (or ld.lld-14), arm-none-eabi-gcc/-g++/-ld/-objcopy (Debian
# packages gcc-arm-none-eabi, binutils-arm-none-eabi) and GNU readelf. The committed files were
# made with the versions recorded at the top of manifest.txt; other versions give other
# bytes, which is fine as long as the tests pass on them.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
src=$root/tests/fixtures/src
out=$root/tests/fixtures
READELF=${READELF:-readelf}
LLD=${LLD:-$(command -v ld.lld || command -v ld.lld-14 || echo ld.lld)}
GNU=${GNU_PREFIX:-arm-none-eabi-}
for tool in clang clang++ "$LLD" "${GNU}gcc" "${GNU}g++" "${GNU}ld" "${GNU}objcopy" "$READELF"; do
  command -v "$tool" >/dev/null || { echo "make-fixtures: $tool not found" >&2; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Compilers run inside src/ on relative names, so the files' STT_FILE symbols do not
# depend on where the tree is checked out.
common="-O1 -ffreestanding -fno-builtin"
cxx_only="-fno-exceptions -fno-rtti"
clang_cc="clang --target=armv7a-none-eabi $common"
clang_cxx="clang++ --target=armv7a-none-eabi $common $cxx_only"
gnu_cc="${GNU}gcc -march=armv7-a $common -fno-tree-loop-distribute-patterns"
gnu_cxx="${GNU}g++ -march=armv7-a $common $cxx_only"
compile() { (cd "$src" && "$@"); }

# The link files: the same target system from each toolchain.
compile $clang_cc -marm -c target_arm.c -o "$tmp/lld-target_arm.o"
compile $clang_cc -mthumb -c target_thumb.c -o "$tmp/lld-target_thumb.o"
compile $clang_cxx -mthumb -c target_cxx.cpp -o "$tmp/lld-target_cxx.o"
"$LLD" -z max-page-size=4 -T "$src/target.ld" "$tmp"/lld-target_*.o -o "$out/lld-target.elf"
compile $gnu_cc -marm -c target_arm.c -o "$tmp/gnu-target_arm.o"
compile $gnu_cc -mthumb -c target_thumb.c -o "$tmp/gnu-target_thumb.o"
compile $gnu_cxx -mthumb -c target_cxx.cpp -o "$tmp/gnu-target_cxx.o"
"${GNU}ld" -z max-page-size=4 -T "$src/target.ld" "$tmp"/gnu-target_*.o -o "$out/gnu-target.elf"
# The same system for a Cortex-M3, which runs Thumb code only, and a copy without its build
# attributes.
m3_cc="${GNU}gcc -mcpu=cortex-m3 -mthumb $common"
compile $m3_cc -c target_arm.c -o "$tmp/m3-target_arm.o"
compile $m3_cc -c target_thumb.c -o "$tmp/m3-target_thumb.o"
compile ${GNU}g++ -mcpu=cortex-m3 -mthumb $common $cxx_only -c target_cxx.cpp -o "$tmp/m3-target_cxx.o"
"${GNU}ld" -z max-page-size=4 -T "$src/target.ld" "$tmp"/m3-target_*.o -o "$out/gnu-m3-target.elf"
"${GNU}objcopy" --remove-section .ARM.attributes "$out/gnu-m3-target.elf" "$out/gnu-m3-bare-target.elf"

# The link flags under test: addresses equal to file offsets.
lld_module() { "$LLD" -shared -z max-page-size=1 "$@"; }
gnu_module() { "${GNU}ld" -shared -z max-page-size=1 "$@"; }

manifest=$tmp/manifest.txt
{
  echo "# Written by tools/make-fixtures.sh from readelf output; regenerate, do not edit."
  echo "# $(clang --version | head -n 1)"
  echo "# $("$LLD" --version | head -n 1)"
  echo "# $("${GNU}gcc" --version | head -n 1)"
  echo "# $("${GNU}ld" --version | head -n 1)"
} >"$manifest"

# expect NAME LINK_FILE LAYOUT [MODULE]: checks the layout of MODULE.so (default NAME.so) and
# appends its manifest entry.
expect() {
  name=$1 link=$2 layout=$3 module=${4:-$1}
  image=$out/$module.so
  if [ "$layout" = identity ]; then
    "$root/tools/check-layout.sh" "$image"
  elif "$root/tools/check-layout.sh" "$image" >/dev/null; then
    echo "make-fixtures: $name.so was meant to have addresses that differ from offsets" >&2
    exit 1
  fi
  "$READELF" -sW "$out/$link" >"$tmp/symbols"
  "$READELF" -SW "$image" >"$tmp/sections"
  "$READELF" -rW "$image" >"$tmp/relocations"
  # An M-profile link file, and the mapping symbol ($a or $t) where the module's .plt starts.
  m_profile=0
  "$READELF" -A "$out/$link" | grep -q 'Tag_CPU_arch_profile: Microcontroller' && m_profile=1
  plt=$(sed -n 's/^ *\[ *[0-9]*\] *\.plt  *[A-Z]*  *\([0-9a-f]*\) .*/\1/p' "$tmp/sections")
  plt_state=$("$READELF" -sW "$image" | awk -v plt="$plt" '$2 == plt && $8 ~ /^\$[at]$/ { print $8; exit }')
  size=$(wc -c <"$image")
  echo "fixture $name $link $module.so" >>"$manifest"
  echo "layout $layout" >>"$manifest"
  awk -v size="$size" -v m_profile="$m_profile" -v plt="$plt" -v plt_state="$plt_state" '
    function number(hex,   n, i) {
      n = 0
      for (i = 1; i <= length(hex); ++i)
        n = n * 16 + index("0123456789abcdef", substr(hex, i, 1)) - 1
      return n
    }
    function short(hex) { sub(/^0+/, "", hex); return "0x" (hex == "" ? "0" : hex) }
    FILENAME == ARGV[1] {
      if ($0 ~ /^Symbol table /) in_symtab = ($0 ~ /\.symtab/)
      else if (in_symtab && $4 == "FUNC") { ++functions; if (NF >= 8) value[$8] = $2 }
      next
    }
    FILENAME == ARGV[2] {
      # [Nr] Name Type Addr Off Size ES Flg Lk Inf Al; the null section has no name.
      if ($0 !~ /^ *\[ *[0-9]+\]/) next
      line = $0; sub(/^ *\[ *[0-9]+\] */, "", line)
      n = split(line, f, " ")
      if (n < 10) next
      if (f[7] ~ /A/ && f[2] != "NOBITS" && number(f[5]) > 0 && number(f[3]) != number(f[4])) {
        shifted_from[++shifted] = number(f[3]); shifted_to[shifted] = number(f[3]) + number(f[5])
        shifted_at[shifted] = substr($0, index($0, "[") + 1); sub(/\].*/, "", shifted_at[shifted])
        shifted_at[shifted] = (shifted_at[shifted] + 0) " " short(f[3]) " " short(f[4])
      }
      next
    }
    !printed { print "functions " (functions + 0); printed = 1 }
    $3 == "R_ARM_JUMP_SLOT" {
      if ($4 !~ /^0+$/) outcome = "keep"
      else if (!($5 in value)) outcome = "missing"
      else if (number($1) + 4 > size) outcome = "outside"
      else outcome = "fill"
      where = ""
      for (k = 1; outcome == "fill" && k <= shifted; ++k)
        if (number($1) >= shifted_from[k] && number($1) < shifted_to[k]) { outcome = "misplaced"; where = " " shifted_at[k] }
      if (outcome == "fill" && m_profile && plt_state == "$a") { outcome = "arm-plt"; where = " " short(plt) }
      print "slot", short($1), $5, outcome != "keep" && outcome != "missing" ? short(value[$5]) : "-", outcome where
      if (outcome != "fill" && outcome != "keep") failed = 1
    }
    END { print "status " (failed ? 1 : 0) }' "$tmp/symbols" "$tmp/sections" "$tmp/relocations" >>"$manifest"
}

# module NAME LINKER SOURCE COMPILER...: compiles SOURCE into NAME.o, links NAME.so with the
# flags under test and records it against LINKER's target.
module() {
  name=$1 linker=$2 source=$3
  shift 3
  compile "$@" -fPIC -c "$source" -o "$tmp/$name.o"
  "${linker}_module" "$tmp/$name.o" -o "$out/$name.so"
  expect "$name" "$linker-target.elf" identity
}

# Modules. "default" links keep the linker's page size: their slots lie outside the file.
module lld-arm lld module.c $clang_cc -marm
module lld-thumb lld module.c $clang_cc -mthumb
module lld-cxx lld module.cpp $clang_cxx -marm
module lld-missing lld missing.c $clang_cc -marm

lld_module --emit-relocs "$tmp/lld-arm.o" -o "$out/lld-emit-relocs.so"
expect lld-emit-relocs lld-target.elf identity

"$LLD" -shared "$tmp/lld-arm.o" -o "$out/lld-default.so"
expect lld-default lld-target.elf default

module gnu-arm gnu module.c $gnu_cc -marm
# An M-profile CPU makes GNU ld write Thumb-2 PLT entries.
module gnu-thumb gnu module.c ${GNU}gcc -mcpu=cortex-m3 -mthumb $common
module gnu-cxx gnu module.cpp $gnu_cxx -marm
module gnu-missing gnu missing.c $gnu_cc -marm

gnu_module --emit-relocs "$tmp/gnu-arm.o" -o "$out/gnu-emit-relocs.so"
expect gnu-emit-relocs gnu-target.elf identity

# Long calls load each target address from the GOT: no jump slots at all.
module gnu-long-calls gnu module.c $gnu_cc -marm -mlong-calls

"${GNU}ld" -shared "$tmp/gnu-arm.o" -o "$out/gnu-default.so"
expect gnu-default gnu-target.elf default

# A page size that is not 1 shifts GNU ld's writable segment 4 bytes above its file offset
# when the read-only part ends unaligned: the slots still lie inside the file, at the wrong
# places.
"${GNU}ld" -shared -z max-page-size=4 "$tmp/gnu-arm.o" -o "$out/gnu-shifted.so"
expect gnu-shifted gnu-target.elf shifted

# Cortex-M. lld 14 writes ARM PLT entries whatever the objects' attributes, and GNU ld does
# for objects with A-profile attributes: against an M-profile link file every such slot is
# refused. GNU ld with M-profile attributes writes Thumb-2 entries (gnu-thumb), which weld;
# a module without jump slots and a link file without attributes never refuse anything.
module lld-m3 lld module.c clang --target=thumbv7m-none-eabi -mcpu=cortex-m3 $common
module gnu-a-thumb gnu module.c $gnu_cc -mthumb
expect lld-m3-on-m3 gnu-m3-target.elf identity lld-m3
expect lld-thumb-on-m3 gnu-m3-target.elf identity lld-thumb
expect gnu-arm-on-m3 gnu-m3-target.elf identity gnu-arm
expect gnu-a-thumb-on-m3 gnu-m3-target.elf identity gnu-a-thumb
expect gnu-thumb-on-m3 gnu-m3-target.elf identity gnu-thumb
expect gnu-long-calls-on-m3 gnu-m3-target.elf identity gnu-long-calls
expect lld-m3-on-bare-m3 gnu-m3-bare-target.elf identity lld-m3

mv "$manifest" "$out/manifest.txt"
echo "make-fixtures: wrote $(grep -c '^fixture ' "$out/manifest.txt") fixtures to tests/fixtures"
