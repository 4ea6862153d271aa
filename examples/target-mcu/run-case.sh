#!/bin/sh
# One end-to-end case on an emulated Cortex-M board: build the bare-metal target system and
# a module, weld them, run the target under qemu-system-arm and judge what it printed
# (through semihosting) and its exit status.
#
#   run-case.sh MODWELD WORKDIR MODULE CPU CASE
#
#   MODULE  gcc: arm-none-eabi-gcc and GNU ld; clang: clang and GNU ld; lld: clang and ld.lld
#   CPU     the module's core, which picks the board and the target's build:
#           cortex-m3 (mps2-an385), cortex-m4 (mps2-an386), cortex-m7 (mps2-an500),
#           cortex-m33 (mps2-an505), cortex-m55 (mps3-an547); cortex-m0 and cortex-m23
#           have no board here (link-refused only)
#   CASE    welded         welded against the target that loads it: prints the right answer
#           unwelded       the linked image as it is: the target refuses it
#           thumb-cleared  welded, then bit 0 of every filled slot cleared: UsageFault
#           wrong-target   welded against a build of the target whose code lies at
#                          0x60000000, where an385, an386 and an505 have no memory: BusFault
#           link-refused   GNU ld cannot write a PLT for the core and links nothing
#           weld-refused   the module has an ARM-state PLT, which the core cannot run: modweld
#                          refuses to weld it
#
# Exits 77 when a tool is missing, so that CTest reports the case as skipped; under CI
# (CI=true), which installs the tools, a missing tool fails the case instead.
set -eu

if [ $# -ne 5 ]; then
    echo "usage: $0 MODWELD WORKDIR gcc|clang|lld CPU welded|unwelded|thumb-cleared|wrong-target|link-refused|weld-refused" >&2
    exit 2
fi
modweld=$1 work=$2 module=$3 cpu=$4 case=$5
src=$(cd "$(dirname "$0")" && pwd)
sim=$src/../target-sim

. "$src/../case-functions.sh"
readelf=arm-none-eabi-readelf

# The board for each core, with where its code, data and image store lie, and the core's
# clang triple.
board='' code='' ram='' store=''
case $cpu in
cortex-m3) triple=thumbv7m-none-eabi board=mps2-an385 code=0x00000000 ram=0x20000000 store=0x00200000 ;;
cortex-m4) triple=thumbv7em-none-eabi board=mps2-an386 code=0x00000000 ram=0x20000000 store=0x00200000 ;;
cortex-m7) triple=thumbv7em-none-eabi board=mps2-an500 code=0x00000000 ram=0x20000000 store=0x00200000 ;;
# These two start in the Secure state: the Secure aliases of their memories.
cortex-m33) triple=thumbv8m.main-none-eabi board=mps2-an505 code=0x10000000 ram=0x38000000 store=0x10200000 ;;
cortex-m55) triple=thumbv8.1m.main-none-eabi board=mps3-an547 code=0x10000000 ram=0x30000000 store=0x11000000 ;;
cortex-m0) triple=thumbv6m-none-eabi ;;
cortex-m23) triple=thumbv8m.base-none-eabi ;;
*) echo "unknown core $cpu" >&2; exit 2 ;;
esac
case $case in
welded | unwelded | thumb-cleared | wrong-target | weld-refused)
    [ -n "$board" ] || { echo "no board for $cpu" >&2; exit 2; } ;;
link-refused) ;;
*) echo "unknown case $case" >&2; exit 2 ;;
esac

command -v arm-none-eabi-gcc >/dev/null || skip arm-none-eabi-gcc gcc-arm-none-eabi
command -v arm-none-eabi-ld >/dev/null || skip arm-none-eabi-ld binutils-arm-none-eabi
case $case in
welded | unwelded | thumb-cleared | wrong-target)
    command -v qemu-system-arm >/dev/null || skip qemu-system-arm qemu-system-arm ;;
esac
case $module in
gcc) ;;
clang) clang=$(find_tool clang) || skip clang clang ;;
lld)
    clang=$(find_tool clang) || skip clang clang
    lld=$(find_tool ld.lld) || skip ld.lld lld
    ;;
*) echo "unknown module toolchain $module" >&2; exit 2 ;;
esac

rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Several flags: left unquoted where used.
warnings="-Wall -Wextra -Wpedantic -Werror"
build_target() { # OUTPUT CODE-ADDRESS
    arm-none-eabi-gcc -mcpu="$cpu" -mthumb -O2 -std=c11 -ffreestanding -nostdlib $warnings \
        -T "$src/target-mcu.ld" -Wl,--defsym=CODE="$2",--defsym=RAM=$ram,--defsym=STORE=$store \
        "$src/target-mcu.c" -o "$1"
}

if [ "$case" != link-refused ]; then
    build_target target-mcu $code
    for name in target_print target_add target_alloc; do
        $readelf -sW target-mcu | awk -v name=$name '$4 == "FUNC" && $8 == name { found = 1 } END { exit !found }' ||
            fail "target-mcu does not export $name as a function"
    done
fi

# The compiler runtime goes into the module, or its helpers would be calls into the target.
libgcc=$(arm-none-eabi-gcc -mcpu="$cpu" -mthumb -print-libgcc-file-name)
case $module in
gcc) arm-none-eabi-gcc -mcpu="$cpu" -mthumb -O2 -fPIC -ffreestanding $warnings -c "$sim/hello-module.c" -o module.o ;;
*) "$clang" --target=$triple -mcpu="$cpu" -O2 -fPIC -ffreestanding $warnings -c "$sim/hello-module.c" -o module.o ;;
esac
link_status=0
case $module in
lld) "$lld" -shared -z max-page-size=1 module.o "$libgcc" -o module.so >out 2>err || link_status=$? ;;
*) arm-none-eabi-ld -shared -z max-page-size=1 module.o "$libgcc" -o module.so >out 2>err || link_status=$? ;;
esac
if [ "$case" = link-refused ]; then
    [ $link_status -eq 1 ] || fail "expected the link to fail with status 1, got $link_status"
    [ ! -e module.so ] || fail "the failed link left module.so behind"
    [ ! -s out ] || fail "the linker printed on standard output"
    echo "arm-none-eabi-ld: module.so: warning: thumb-1 mode PLT generation not currently supported" >expected
    cmp -s expected err || fail "unexpected linker message; expected:$(printf '\n'; cat expected)"
    cat err
    exit 0
fi
[ $link_status -eq 0 ] || fail "linking the module failed"

# A function's address in a build of the target, as its symbol table gives it.
symbol_value() { # ELF-FILE NAME
    $readelf -sW "$1" | awk -v name="$2" '$4 == "FUNC" && $8 == name { print "0x" $2 }'
}

# The target's console is semihosting, sent to standard output; qemu's own complaints go to
# standard error, which must stay empty. A bad jump can run on forever: hence the timeout.
status=0
run() { # IMAGE
    timeout 30 qemu-system-arm -M $board -display none -serial null -monitor none \
        -chardev stdio,id=console -semihosting-config enable=on,target=native,chardev=console \
        -kernel target-mcu -device loader,file="$1",addr=$store,force-raw=on </dev/null >out 2>err || status=$?
}

expect() { # STATUS LINE...
    want=$1
    shift
    printf '%s\n' "$@" >expected
    [ $status -eq "$want" ] || fail "expected exit status $want, got $status"
    cmp -s expected out || fail "unexpected output; expected:$(printf '\n'; cat expected)"
    [ ! -s err ] || fail "unexpected output on standard error"
    cat out
}

# The module's first call is target_add: with a bad slot, that is where it faults, and the
# core stacks the address it was sent to.
fault_line() { # CFSR LINK-FILE
    printf 'fault: CFSR 0x%08x HFSR 0x00000000 PC 0x%08x' $(($1)) $(($(symbol_value "$2" target_add) & ~1))
}

case $case in
welded)
    weld target-mcu
    run module.mo
    expect 0 'hello from the module' '40 + 2 = 42' 'module_main returned 43'
    ;;
unwelded)
    run module.so
    expect 2 "image at $store: cannot load: not a module image (no 7f 4f 56 4b at its start)"
    ;;
thumb-cleared)
    weld target-mcu
    clear_thumb_bits
    run module.mo
    # UsageFault, INVSTATE: the jump cleared the Thumb bit of a core that has no ARM state
    expect 3 "$(fault_line 0x00020000 target-mcu)"
    ;;
wrong-target)
    # Nothing answers there on these boards: the first instruction fetch is a bus error.
    build_target target-elsewhere 0x60000000
    weld target-elsewhere
    run module.mo
    # BusFault, IBUSERR
    expect 3 "$(fault_line 0x00000100 target-elsewhere)"
    ;;
weld-refused)
    plt=$($readelf -SW module.so | sed 's/^ *\[ *[0-9]*\]//' | awk '$1 == ".plt" { print $3 }')
    [ -n "$plt" ] || fail "the module has no .plt"
    # Its first word, str lr, [sp, #-4]!: the ARM-state PLT header this case is about.
    [ "$(od -An -tx4 -j $((0x$plt)) -N4 module.so | tr -d ' ')" = e52de004 ] ||
        fail "the PLT at 0x$plt does not start with an ARM-state PLT header"
    status=0
    "$modweld" -l target-mcu -o module.mo module.so >out 2>err || status=$?
    expect 1 "linked image: the PLT at 0x$(printf %x $((0x$plt))) is ARM code, which the link file's M-profile core cannot run: link the module with GNU ld and an M-profile -mcpu, or with ld.lld 19 or later" \
        'relocation failed'
    [ ! -e module.mo ] || fail "modweld wrote module.mo"
    ;;
esac
