#!/bin/sh
# README's CMake flow, as written there: the commands of its "## CMake" section, run from a
# work directory that stands in for the repository root (examples/ and build/ linked there),
# so the module project finds the tree that its first command installs under that directory.
#
#   cmake-module-case.sh SOURCE_DIR BUILD_DIR WORKDIR TOOLCHAIN CASE
#
#   TOOLCHAIN  gcc        arm-none-eabi-gcc-cortex-m.cmake
#              clang-lld  clang-lld-cortex-m.cmake
#   CASE       welded         install, link file, configure, build, run on mps2-an385;
#                             with gcc, then a new link file: the build welds again and the
#                             image runs on the new target system
#              lld14-refused  the configure line with -DMODWELD_LLD naming ld.lld 14 stops
#                             with the toolchain file's message
#
# examples/cmake-module/README.md must hold the same lines. Exits 77 when a tool is missing
# (CTest: skipped); under CI=true the case fails instead.
set -eu

if [ $# -ne 5 ]; then
    echo "usage: $0 SOURCE_DIR BUILD_DIR WORKDIR TOOLCHAIN CASE" >&2
    exit 2
fi
src=$1 build=$2 work=$3 toolchain=$4 case=$5
root=$src

. "$src/examples/case-functions.sh"

case $toolchain in
gcc) file=arm-none-eabi-gcc-cortex-m.cmake ;;
clang-lld) file=clang-lld-cortex-m.cmake ;;
*) echo "unknown toolchain $toolchain" >&2; exit 2 ;;
esac
case $toolchain/$case in
gcc/welded | clang-lld/welded | clang-lld/lld14-refused) ;;
*) echo "unknown case $toolchain $case" >&2; exit 2 ;;
esac

# An ld.lld of version 19 or later anywhere the toolchain file looks.
newer_lld() {
    for lld in $(command -v ld.lld 2>/dev/null) $(IFS=:; for dir in $PATH; do ls "$dir"/ld.lld-[0-9]* 2>/dev/null; done) \
        /usr/lib/llvm-*/bin/ld.lld; do
        [ -x "$lld" ] && [ "$(llvm_major "$lld")" -ge 19 ] 2>/dev/null && return 0
    done
    return 1
}

if [ "$toolchain" = clang-lld ]; then
    find_tool clang >/dev/null || skip clang clang
fi
case $case in
welded)
    command -v arm-none-eabi-gcc >/dev/null || skip arm-none-eabi-gcc gcc-arm-none-eabi
    command -v arm-none-eabi-ld >/dev/null || skip arm-none-eabi-ld binutils-arm-none-eabi
    command -v qemu-system-arm >/dev/null || skip qemu-system-arm qemu-system-arm
    [ "$toolchain" = gcc ] || newer_lld || skip "ld.lld 19 or later" lld-19
    ;;
lld14-refused) lld14=$(find_llvm_tool ld.lld 14) || skip "ld.lld 14" lld-14 ;;
esac

# The section's shell lines, without comments.
lines=$(awk '/^## / { section = $0 == "## CMake" }
             section && /^```/ { block = $0 == "```sh" && !block; next }
             section && block && !/^#/ && NF { print }' "$src/README.md")

# The one line of README's that matches the extended regular expression.
one() { # WHAT PATTERN
    found=$(printf '%s\n' "$lines" | grep -E -e "$2" || true)
    [ -n "$found" ] && [ "$(printf '%s\n' "$found" | wc -l)" -eq 1 ] ||
        fail "README.md's CMake section must hold one $1 line; found:$(printf '\n%s' "$found")" >&2
    printf '%s\n' "$found"
}
install=$(one install '^cmake --install ')
target=$(one "target system's" '^arm-none-eabi-gcc .*examples/target-mcu/target-mcu\.c')
configure=$(one "$file configure" "^cmake -S .*--toolchain [^ ]*/$file\"? ")
build_line=$(printf '%s\n' "$lines" | grep -F -x -A1 -e "$configure" | tail -n 1)
run_line=$(one qemu '^qemu-system-arm ')
case $build_line in
'cmake --build '*) ;;
*) fail "README.md: the line after the $file configure line is not a cmake --build line: $build_line" ;;
esac
for line in "$install" "$target" "$configure" "$build_line" "$run_line"; do
    grep -F -x -q -e "$line" "$src/examples/cmake-module/README.md" ||
        fail "examples/cmake-module/README.md lacks README.md's line: $line"
done

rm -rf "$work"
mkdir -p "$work"
cd "$work"
ln -s "$src/examples" examples
ln -s "$build" build
# Run as a user runs them, from this directory; what they print goes to log.
doc() { # LINE
    echo "+ $1" >>log
    sh -c "$1" >>log 2>&1 || { cat log; fail "README.md's line failed: $1"; }
}

status=0
run() {
    status=0
    timeout 30 sh -c "exec $run_line" </dev/null >out 2>err || status=$?
}

expect_module_ran() {
    printf '%s\n' 'hello from the CMake module' 'half of 21 is 10.5' 'module_main returned 105' >expected
    [ $status -eq 0 ] || fail "expected exit status 0, got $status"
    cmp -s expected out || fail "unexpected output; expected:$(printf '\n'; cat expected)"
    [ ! -s err ] || fail "unexpected output on standard error"
    cat out
}

doc "$install"
if [ "$case" = lld14-refused ]; then
    status=0
    sh -c "$configure -DMODWELD_LLD='$lld14'" >out 2>err || status=$?
    [ $status -eq 1 ] || fail "expected the configure to fail with status 1, got $status"
    [ ! -e build-module/Makefile ] || fail "the refused configure wrote a build system"
    # CMake wraps the message: compared with its blanks folded.
    message=$(awk '/^CMake Error at .*clang-lld-cortex-m\.cmake:[0-9]+ \(message\):$/ { on = 1; next }
                   on && /^Call Stack/ { exit } on { print }' err | tr -s ' \n' '  ' | sed 's/^ //; s/ $//')
    [ "$message" = "clang-lld-cortex-m.cmake: a module for cortex-m3 needs ld.lld 19 or later, as older ones write ARM-state PLT entries, which a Cortex-M core cannot run; found ld.lld 14 ($lld14). Install lld-19 or later, or name one with -DMODWELD_LLD=<path>." ] ||
        fail "unexpected message from the configure: $message"
    echo "$message"
    exit 0
fi

doc "$target"
doc "$configure"
doc "$build_line"
[ "$toolchain" = gcc ] || echo "linked by $(sed -n 's/^MODWELD_LLD:FILEPATH=//p' build-module/CMakeCache.txt)"
run
expect_module_ran

if [ "$toolchain" = gcc ]; then
    # The same target system compiled for size: its functions move, the module does not
    # change, and the next build must weld it again.
    case $target in
    *' -O2 '*) ;;
    *) fail "README.md's target system line has no -O2 to change: $target" ;;
    esac
    cp build-module/images/hello.mo first.mo
    doc "$(printf '%s\n' "$target" | sed 's/ -O2 / -Os /')"
    doc "$build_line"
    ! cmp -s first.mo build-module/images/hello.mo || fail "the module image did not change with the link file"
    run
    expect_module_ran
fi
