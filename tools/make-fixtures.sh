#!/bin/sh
# Regenerates tests/fixtures: target system images (link files), modules linked by LLVM lld
# and GNU ld, and manifest.txt, what the tests expect modweld to do with each pair, worked out
# from readelf's view of the files (never from modweld) and README's message templates. The
# tools and versions are listed in tests/fixtures/README.md; each LLVM tool is found by its
# major version (NAME-N on PATH or /usr/lib/llvm-N/bin), never as whichever is first on PATH.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
src=$root/tests/fixtures/src
out=$root/tests/fixtures
READELF=${READELF:-readelf}
MODWELD_README=$root/README.md
. "$root/tools/messages.sh"
GNU=${GNU_PREFIX:-arm-none-eabi-}

# major TOOL: the major version TOOL --version reports on its first line.
major() {
  "$1" --version 2>/dev/null | awk 'NR == 1 { for (i = 1; i <= NF; ++i) if ($i ~ /^[0-9]+\.[0-9]+/) { split($i, v, "."); print v[1]; exit } }'
}
# llvm TOOL N: TOOL of LLVM release N.
llvm() {
  for candidate in "$(command -v "$1-$2" || true)" "/usr/lib/llvm-$2/bin/$1"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ] && [ "$(major "$candidate")" = "$2" ]; then
      echo "$candidate"
      return
    fi
  done
  echo "make-fixtures: no $1 of LLVM $2 ($1-$2 on PATH or /usr/lib/llvm-$2/bin/$1)" >&2
  exit 1
}
CLANG=$(llvm clang 14)
CLANGXX=$(llvm clang++ 14)
LLD14=$(llvm ld.lld 14)
LLD19=$(llvm ld.lld 19)
LLD22=$(llvm ld.lld 22)
for tool in "${GNU}gcc" "${GNU}g++" "${GNU}ld" "${GNU}objcopy" "$READELF"; do
  command -v "$tool" >/dev/null || { echo "make-fixtures: $tool not found" >&2; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Compilers run inside src/ on relative names, so the files' STT_FILE symbols do not
# depend on where the tree is checked out.
common="-O1 -ffreestanding -fno-builtin"
cxx_only="-fno-exceptions -fno-rtti"
clang_cc="$CLANG --target=armv7a-none-eabi $common"
clang_cxx="$CLANGXX --target=armv7a-none-eabi $common $cxx_only"
gnu_cc="${GNU}gcc -march=armv7-a $common -fno-tree-loop-distribute-patterns"
gnu_cxx="${GNU}g++ -march=armv7-a $common $cxx_only"
compile() { (cd "$src" && "$@"); }

# The link files: the same target system from each toolchain.
compile $clang_cc -marm -c target_arm.c -o "$tmp/lld-target_arm.o"
compile $clang_cc -mthumb -c target_thumb.c -o "$tmp/lld-target_thumb.o"
compile $clang_cxx -mthumb -c target_cxx.cpp -o "$tmp/lld-target_cxx.o"
"$LLD14" -z max-page-size=4 -T "$src/target.ld" "$tmp"/lld-target_*.o -o "$out/lld-target.elf"
compile $gnu_cc -marm -c target_arm.c -o "$tmp/gnu-target_arm.o"
compile $gnu_cc -mthumb -c target_thumb.c -o "$tmp/gnu-target_thumb.o"
compile $gnu_cxx -mthumb -c target_cxx.cpp -o "$tmp/gnu-target_cxx.o"
"${GNU}ld" -z max-page-size=4 -T "$src/target.ld" "$tmp"/gnu-target_*.o -o "$out/gnu-target.elf"

# gnu_target CORE FLAGS...: the same system for a Cortex-M core, all Thumb, as gnu-CORE-target.elf.
gnu_target() {
  core=$1
  shift
  compile "${GNU}gcc" "$@" $common -c target_arm.c -o "$tmp/$core-target_arm.o"
  compile "${GNU}gcc" "$@" $common -c target_thumb.c -o "$tmp/$core-target_thumb.o"
  compile "${GNU}g++" "$@" $common $cxx_only -c target_cxx.cpp -o "$tmp/$core-target_cxx.o"
  "${GNU}ld" -z max-page-size=4 -T "$src/target.ld" "$tmp/$core"-target_*.o -o "$out/gnu-$core-target.elf"
}
m4_hard="-mcpu=cortex-m4 -mthumb -mfloat-abi=hard -mfpu=fpv4-sp-d16"
gnu_target m3 -mcpu=cortex-m3 -mthumb
gnu_target m0 -mcpu=cortex-m0 -mthumb
gnu_target m23 -mcpu=cortex-m23 -mthumb
gnu_target m4-hard $m4_hard
# A copy of the Cortex-M3 system without its build attributes.
"${GNU}objcopy" --remove-section .ARM.attributes "$out/gnu-m3-target.elf" "$out/gnu-m3-bare-target.elf"

# The link flags under test: addresses equal to file offsets.
lld_module() { "$LLD14" -shared -z max-page-size=1 "$@"; }
gnu_module() { "${GNU}ld" -shared -z max-page-size=1 "$@"; }

# format: the manifest's format and where each expectation comes from.
format() {
  cat <<'END'
#   fixture NAME LINK_FILE LINKED_IMAGE   one per pair
#   layout identity|default|shifted       whether allocated sections sit at address == offset
#   core ARCH PROFILE                     the link file's Tag_CPU_arch and Tag_CPU_arch_profile
#                                         (readelf -A; "-" when absent)
#   floats LINK_FILE MODULE               each file's float convention: vfp (Tag_ABI_VFP_args:
#                                         VFP registers), base (an aeabi file attributes group
#                                         without the tag, or AAPCS), - (no .ARM.attributes:
#                                         nothing stated)
#   plt ADDR STATE                        the module's .plt (readelf -S) and the mapping symbol
#                                         at its start (readelf -s): $a ARM, $t Thumb; "- -"
#                                         without a .plt
#   slot OFFSET NAME VALUE OUTCOME        one per R_ARM_JUMP_SLOT, in readelf -r order
#   status 0|1                            0 when every slot is filled or kept
#   out "LINE"                            modweld's standard output, line by line
#   trace "LINE"                          the same with -D 1
#
# A quoted LINE is everything between the first and the last double quote, blanks included.
#
# OUTCOME: fill (the link file's last STT_FUNC of that name gives VALUE), keep (the module's
# symbol has a value: the slot stays as linked), missing (no such function in the link file),
# outside (found, but the 4 bytes at OFFSET are past the end of the file), misplaced SECTION
# ADDR OFF (found, but OFFSET lies in allocated section SECTION, whose address ADDR is not its
# file offset OFF: writing the slot there would corrupt the module), plt-refused (found, but
# the link file's core cannot run the module's PLT, see below).
#
# How each outcome follows from readelf:
# - The core: Tag_CPU_arch v6-M, v6S-M or v8-M.baseline is a Thumb-1 core (ARMv6-M, ARMv6S-M,
#   ARMv8-M baseline), which runs no PLT a linker writes: a slot filled through a .plt starting
#   with $a ("ARM code") or $t ("Thumb-2 code": both linkers' Thumb PLT header starts
#   push {lr}; ldr.w lr, ...) is plt-refused, one line for the module. v7E-M, v8-M.mainline,
#   v8.1-M.mainline, or any Tag_CPU_arch with Tag_CPU_arch_profile Microcontroller, is a
#   Thumb-2 M-profile core: only a .plt starting with $a is refused. Other link files refuse no
#   PLT. The line names the .plt's address, the PLT header every lazy slot points at.
# - The float convention: when both files state one (floats line, neither "-") and they differ,
#   the module is refused with one line before any slot line; its slots are still walked (and
#   traced), but nothing is written.
# - The lines, README's Messages templates filled in: with -D, first one for every STT_FUNC of
#   the link file's .symtab, in symbol-table order; then the float line; then, slot by slot,
#   the failure line of each failed slot (refused slots share one line) and, with -D, the
#   trace line of each filled one; last the line of success or failure.
END
}

manifest=$tmp/manifest.txt
{
  echo "# Written by tools/make-fixtures.sh from readelf output; regenerate, do not edit."
  echo "# $("$CLANG" --version | head -n 1)"
  for lld in "$LLD14" "$LLD19" "$LLD22"; do echo "# $("$lld" --version | head -n 1)"; done
  echo "# $("${GNU}gcc" --version | head -n 1)"
  echo "# $("${GNU}ld" --version | head -n 1)"
  echo "# $("$READELF" --version | head -n 1)"
  echo "#"
  format
} >"$manifest"

# attributes FILE: "ARCH PROFILE FLOATS" as readelf -A shows FILE's build attributes (see
# the core and floats lines at the top).
attributes() {
  "$READELF" -A "$1" | awk '
    /^File Attributes/ { group = 1 }
    $1 == "Tag_CPU_arch:" { arch = $2 }
    $1 == "Tag_CPU_arch_profile:" { profile = $2 }
    $1 == "Tag_ABI_VFP_args:" { vfp = $0; sub(/^ *Tag_ABI_VFP_args: */, "", vfp) }
    END {
      floats = !group ? "-" : vfp == "" || vfp == "AAPCS" ? "base" : vfp == "VFP registers" ? "vfp" : "-"
      print (arch == "" ? "-" : arch), (profile == "" ? "-" : profile), floats
    }'
}

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
  set -- $(attributes "$out/$link")
  arch=$1 profile=$2 link_floats=$3
  set -- $(attributes "$image")
  module_floats=$3
  plt=$(sed -n 's/^ *\[ *[0-9]*\] *\.plt  *[A-Z]*  *\([0-9a-f]*\) .*/\1/p' "$tmp/sections")
  plt_state=$("$READELF" -sW "$image" | awk -v plt="$plt" '$2 == plt && $8 ~ /^\$[at]$/ { print $8; exit }')
  size=$(wc -c <"$image")
  {
    echo "fixture $name $link $module.so"
    echo "layout $layout"
    echo "core $arch $profile"
    echo "floats $link_floats $module_floats"
    if [ -n "$plt" ]; then echo "plt 0x$(echo "$plt" | sed 's/^0*//') ${plt_state:--}"; else echo "plt - -"; fi
  } >>"$manifest"
  awk -v size="$size" -v arch="$arch" -v profile="$profile" -v link_floats="$link_floats" \
      -v module_floats="$module_floats" -v plt="$plt" -v plt_state="$plt_state" \
      -v entered="$(message_template 'hash_table_insert symbol <name> ')" \
      -v filled="$(message_template 'relocate symbol <name>--0x<value>')" \
      -v missing="$(message_template 'relocate symbol <name> failed')" \
      -v outside="$(message_template 'relocate symbol <name> failed: offset 0x<n> is outside')" \
      -v misplaced="$(message_template 'relocate symbol <name> failed: offset 0x<n> lies in section')" \
      -v arm_plt="$(message_template 'linked image: the PLT at 0x<a> is ARM code')" \
      -v thumb1_plt="$(message_template 'linked image: the PLT at 0x<a> is <state> code')" \
      -v floats_differ="$(message_template 'linked image: the module passes floating-point arguments')" \
      -v vfp="VFP registers (-mfloat-abi=hard)" -v base="core registers (-mfloat-abi=soft or softfp)" \
      -v ok="$(message_template 'relocation sucessfully')" -v failed_line="$(message_template 'relocation failed')" '
    function number(hex,   n, i) {
      n = 0
      for (i = 1; i <= length(hex); ++i)
        n = n * 16 + index("0123456789abcdef", substr(hex, i, 1)) - 1
      return n
    }
    function short(hex) { sub(/^0+/, "", hex); return hex == "" ? "0" : hex }
    # A template of README with its <placeholders>, in order, replaced by a, b, c, d, e.
    function fill(t, a, b, c, d, e,   v, out, i) {
      split(a SUBSEP b SUBSEP c SUBSEP d SUBSEP e, v, SUBSEP)
      for (i = 1; match(t, /<[^<>]+>/); ++i) { out = out substr(t, 1, RSTART - 1) v[i]; t = substr(t, RSTART + RLENGTH) }
      return out t
    }
    function report(line) { out[++outs] = line; trace[++traces] = line }
    function floats(args) { return args == "vfp" ? vfp : base }
    function plt_line(state) {
      return thumb1 == "" ? fill(arm_plt, short(plt)) : fill(thumb1_plt, short(plt), state == "$a" ? "ARM" : "Thumb-2", thumb1)
    }
    BEGIN {
      if (arch == "v6-M") thumb1 = "ARMv6-M"
      else if (arch == "v6S-M") thumb1 = "ARMv6S-M"
      else if (arch == "v8-M.baseline") thumb1 = "ARMv8-M baseline"
      else thumb2 = arch ~ /^(v7E-M|v8-M\.mainline|v8\.1-M\.mainline)$/ || profile == "Microcontroller"
      refused = thumb1 != "" ? plt_state ~ /^\$[at]$/ : thumb2 && plt_state == "$a"
      if (link_floats != "-" && module_floats != "-" && link_floats != module_floats) {
        report(fill(floats_differ, floats(module_floats), floats(link_floats)))
        failed = 1
      }
    }
    FILENAME == ARGV[1] {
      if ($0 ~ /^Symbol table /) in_symtab = ($0 ~ /\.symtab/)
      else if (in_symtab && $4 == "FUNC") { hashed[++functions] = $8; if (NF >= 8) value[$8] = $2 }
      next
    }
    FILENAME == ARGV[2] {
      # [Nr] Name Type Addr Off Size ES Flg Lk Inf Al; the null section has no name.
      if ($0 !~ /^ *\[ *[0-9]+\]/) next
      line = $0; sub(/^ *\[ *[0-9]+\] */, "", line)
      n = split(line, f, " ")
      if (n < 10) next
      if (f[7] ~ /A/ && f[2] != "NOBITS" && number(f[5]) > 0 && number(f[3]) != number(f[4])) {
        index_of[++shifted] = substr($0, index($0, "[") + 1); sub(/\].*/, "", index_of[shifted]); index_of[shifted] += 0
        address_of[shifted] = f[3]; offset_of[shifted] = f[4]; size_of[shifted] = f[5]
      }
      next
    }
    $3 == "R_ARM_JUMP_SLOT" {
      where = ""
      if ($4 !~ /^0+$/) outcome = "keep"
      else if (!($5 in value)) { outcome = "missing"; report(fill(missing, $5)) }
      else if (number($1) + 4 > size) { outcome = "outside"; report(fill(outside, $5, short($1))) }
      else outcome = "fill"
      for (k = 1; outcome == "fill" && k <= shifted; ++k)
        if (number($1) >= number(address_of[k]) && number($1) < number(address_of[k]) + number(size_of[k])) {
          outcome = "misplaced"
          where = " " index_of[k] " 0x" short(address_of[k]) " 0x" short(offset_of[k])
          report(fill(misplaced, $5, short($1), index_of[k], short(address_of[k]), short(offset_of[k])))
        }
      if (outcome == "fill" && refused) {
        outcome = "plt-refused"
        if (!plt_reported++) report(plt_line(plt_state))
      }
      if (outcome == "fill") trace[++traces] = fill(filled, $5, short(value[$5]))
      print "slot", "0x" short($1), $5, outcome != "keep" && outcome != "missing" ? "0x" short(value[$5]) : "-", outcome where
      if (outcome != "fill" && outcome != "keep") failed = 1
    }
    END {
      last = failed ? failed_line : ok
      print "status " (failed ? 1 : 0)
      for (i = 1; i <= outs; ++i) print "out \"" out[i] "\""
      print "out \"" last "\""
      for (i = 1; i <= functions; ++i) print "trace \"" fill(entered, hashed[i]) "\""
      for (i = 1; i <= traces; ++i) print "trace \"" trace[i] "\""
      print "trace \"" last "\""
    }' "$tmp/symbols" "$tmp/sections" "$tmp/relocations" >>"$manifest"
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

"$LLD14" -shared "$tmp/lld-arm.o" -o "$out/lld-default.so"
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
module lld-m3 lld module.c $CLANG --target=thumbv7m-none-eabi -mcpu=cortex-m3 $common
module gnu-a-thumb gnu module.c $gnu_cc -mthumb
expect lld-m3-on-m3 gnu-m3-target.elf identity lld-m3
expect lld-thumb-on-m3 gnu-m3-target.elf identity lld-thumb
expect gnu-arm-on-m3 gnu-m3-target.elf identity gnu-arm
expect gnu-a-thumb-on-m3 gnu-m3-target.elf identity gnu-a-thumb
expect gnu-thumb-on-m3 gnu-m3-target.elf identity gnu-thumb
expect gnu-long-calls-on-m3 gnu-m3-target.elf identity gnu-long-calls
expect lld-m3-on-bare-m3 gnu-m3-bare-target.elf identity lld-m3

# ld.lld 19 and 22 write a Thumb-2 PLT for v7-M (welds) and for v8-M baseline, and an ARM PLT
# for v6-M: a Thumb-1 core runs neither, so both are refused. GCC names the Cortex-M0 v6S-M.
compile $CLANG --target=thumbv6m-none-eabi -mcpu=cortex-m0 $common -fPIC -c module.c -o "$tmp/m0.o"
compile $CLANG --target=thumbv8m.base-none-eabi -mcpu=cortex-m23 $common -fPIC -c module.c -o "$tmp/m23.o"
cp "$tmp/lld-m3.o" "$tmp/m3.o"
for lld in 19 22; do
  case $lld in 19) linker=$LLD19 ;; *) linker=$LLD22 ;; esac
  for core in m3 m0 m23; do
    "$linker" -shared -z max-page-size=1 "$tmp/$core.o" -o "$out/lld$lld-$core.so"
    expect "lld$lld-$core" "gnu-$core-target.elf" identity
  done
done
expect gnu-long-calls-on-m0 gnu-m0-target.elf identity gnu-long-calls

# The float convention: hard-float modules weld against the hard-float target and are refused
# by the soft one, a soft module by the hard-float target; a link file without attributes
# states no convention.
compile "${GNU}gcc" $m4_hard $common -fPIC -c module.c -o "$tmp/gnu-m4-hard.o"
gnu_module "$tmp/gnu-m4-hard.o" -o "$out/gnu-m4-hard.so"
compile $CLANG --target=thumbv7em-none-eabihf $m4_hard $common -fPIC -c module.c -o "$tmp/lld19-m4-hard.o"
"$LLD19" -shared -z max-page-size=1 "$tmp/lld19-m4-hard.o" -o "$out/lld19-m4-hard.so"
expect gnu-m4-hard gnu-m4-hard-target.elf identity
expect lld19-m4-hard gnu-m4-hard-target.elf identity
expect gnu-m4-hard-on-m3 gnu-m3-target.elf identity gnu-m4-hard
expect lld19-m4-hard-on-m3 gnu-m3-target.elf identity lld19-m4-hard
expect gnu-thumb-on-m4-hard gnu-m4-hard-target.elf identity gnu-thumb
expect gnu-m4-hard-on-bare-m3 gnu-m3-bare-target.elf identity gnu-m4-hard

mv "$manifest" "$out/manifest.txt"
echo "make-fixtures: wrote $(grep -c '^fixture ' "$out/manifest.txt") fixtures to tests/fixtures"
