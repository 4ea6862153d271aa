#!/bin/sh
# One end-to-end case: build the target system and a module, weld them, run the target
# under qemu-arm and judge what it did.
#
#   run-case.sh MODWELD WORKDIR LINKER ISA CASE
#
#   LINKER  lld: clang and ld.lld; gnu: arm-linux-gnueabihf-gcc and GNU ld
#   ISA     arm or thumb, the instruction set of the module
#   CASE    welded         welded against the target that loads it: prints the right answer
#           unfilled       magic stamped by hand, slots as the linker left them: faults
#           wrong-target   welded against a build of the target at another address: faults
#           thumb-cleared  welded, then bit 0 of every filled slot cleared: faults
#           unwelded       the linked image as it is: the target refuses it
#           swapped        the module given as the link file and the target last: modweld
#                          refuses the pair
#           dynamic-target own-memset-module.c, which imports nothing but defines memset,
#                          welded against a dynamically linked build of the target, which
#                          imports memset among its C library's functions: prints the answer
#
# Exits 77 when a tool is missing, so that CTest reports the case as skipped; under CI
# (CI=true), which installs the tools, a missing tool fails the case instead.
set -eu

if [ $# -ne 5 ]; then
    echo "usage: $0 MODWELD WORKDIR lld|gnu arm|thumb welded|unfilled|wrong-target|thumb-cleared|unwelded|swapped|dynamic-target" >&2
    exit 2
fi
modweld=$1 work=$2 linker=$3 isa=$4 case=$5
src=$(cd "$(dirname "$0")" && pwd)
root=$src/../..

. "$src/../case-functions.sh"

cross=arm-linux-gnueabihf
readelf=$cross-readelf
command -v $cross-gcc >/dev/null || skip $cross-gcc gcc-arm-linux-gnueabihf
[ -f "$($cross-gcc -print-file-name=libc.a)" ] || skip "the ARM C library" libc6-dev-armhf-cross
command -v qemu-arm >/dev/null || skip qemu-arm qemu-user
case $linker in
lld)
    clang=$(find_tool clang) || skip clang clang
    lld=$(find_tool ld.lld) || skip ld.lld lld
    ;;
gnu) ;;
*) echo "unknown linker $linker" >&2; exit 2 ;;
esac

rm -rf "$work"
mkdir -p "$work"
cd "$work"
# A faulting module must not leave core files behind.
ulimit -c 0 2>/dev/null || true

# Several flags: left unquoted where used.
warnings="-Wall -Wextra -Wpedantic -Werror"
# Statically linked, or with LINKING "dynamic" against the C library's shared objects.
build_target() { # OUTPUT TEXT-ADDRESS [LINKING]
    static=-static
    [ "${3:-}" != dynamic ] || static=
    $cross-gcc $static -no-pie -O2 -std=c11 $warnings -Wl,-Ttext-segment="$2" "$src/target-sim.c" -o "$1"
}

build_target target-sim 0x10000
for name in target_print target_add target_alloc; do
    $cross-readelf -sW target-sim | awk -v name=$name '$4 == "FUNC" && $8 == name { found = 1 } END { exit !found }' ||
        fail "target-sim does not export $name as a function"
done

source=$src/hello-module.c
[ "$case" != dynamic-target ] || source=$src/own-memset-module.c
case $linker in
lld)
    "$clang" --target=armv7a-none-eabihf -m"$isa" -O2 -fPIC -ffreestanding $warnings \
        -c "$source" -o module.o
    "$lld" -shared -z max-page-size=1 module.o -o module.so
    ;;
gnu)
    $cross-gcc -m"$isa" -O2 -fPIC -ffreestanding -fno-stack-protector $warnings \
        -c "$source" -o module.o
    $cross-ld -shared -z max-page-size=1 module.o -o module.so
    ;;
esac

stamp_magic() {
    printf '\177OVK' | dd of="$1" bs=1 count=4 conv=notrunc 2>/dev/null
}

status=0
# The dynamically linked target finds the ARM C library's shared objects under /usr/$cross.
run() { # IMAGE [TARGET]
    timeout 60 qemu-arm -L /usr/$cross ./"${2:-target-sim}" "$1" >out 2>err || status=$?
}

expect_fault() {
    [ $status -gt 128 ] || fail "expected a fault, got exit status $status"
    ! grep -q 'module_main returned' out || fail "the module ran to its end"
    echo "faulted as it must (exit status $status): $(head -n 1 err)"
}

case $case in
welded)
    weld target-sim
    run module.mo
    [ $status -eq 0 ] || fail "exit status $status"
    printf '%s\n' 'hello from the module' '40 + 2 = 42' 'module_main returned 43' >expected
    cmp -s expected out || fail "unexpected output; expected:$(printf '\n'; cat expected)"
    cat out
    ;;
unfilled)
    cp module.so module.mo
    stamp_magic module.mo
    run module.mo
    expect_fault
    ;;
wrong-target)
    build_target target-elsewhere 0x1000000
    weld target-elsewhere
    run module.mo
    expect_fault
    ;;
thumb-cleared)
    weld target-sim
    clear_thumb_bits
    run module.mo
    expect_fault
    ;;
unwelded)
    run module.so
    [ $status -eq 2 ] || fail "expected exit status 2, got $status"
    grep -q 'not a module image' out || fail "no 'not a module image' message"
    cat out
    ;;
swapped)
    expect_swapped_refused target-sim
    ;;
dynamic-target)
    build_target target-dynamic 0x10000 dynamic
    $readelf -rW target-dynamic | awk '$3 == "R_ARM_JUMP_SLOT" && $5 ~ /^memset@/ { found = 1 } END { exit !found }' ||
        fail "the dynamically linked target does not import memset"
    weld target-dynamic
    run module.mo target-dynamic
    [ $status -eq 0 ] || fail "exit status $status"
    printf '%s\n' 'module_main returned 112' >expected
    cmp -s expected out || fail "unexpected output; expected:$(printf '\n'; cat expected)"
    cat out
    ;;
*)
    echo "unknown case $case" >&2
    exit 2
    ;;
esac
