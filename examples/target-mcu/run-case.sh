#!/bin/sh
# One end-to-end case on an emulated Cortex-M board: build the bare-metal target system and
# a module, weld them, run the target under qemu-system-arm and judge what it printed
# (through semihosting) and its exit status.
#
#   run-case.sh MODWELD WORKDIR MODULE CPU CASE
#
#   MODULE  how the module is built: the compiler of its objects and the linker
#           gcc                   arm-none-eabi-gcc, GNU ld
#           clang                 clang (any version), GNU ld
#           clang-lldN            clang (any version), ld.lld N (14, 19 or 22)
#           gcc-lldN              arm-none-eabi-gcc, ld.lld N (19 or 22)
#           driver-clang14-lld19  one clang 14 command, linking with ld.lld 19
#           driver-clang14-ld     one clang 14 command, linking with GNU ld
#           driver-clang19        one clang 19 command, linking with its own ld.lld
#   CPU     the module's core, which picks the board and the target's build:
#           cortex-m0 (microbit), cortex-m3 (mps2-an385), cortex-m4 (mps2-an386),
#           cortex-m7 (mps2-an500), cortex-m33 (mps2-an505), cortex-m55 (mps3-an547);
#           cortex-m23 has no board here (a link file only)
#   CASE    welded         welded against the target that loads it: prints the right answer
#           unwelded       the linked image as it is: the target refuses it
#           thumb-cleared  welded, then bit 0 of every filled slot cleared: UsageFault
#           wrong-target   welded against a build of the target whose code lies at
#                          0x60000000, where an385, an386 and an505 have no memory: BusFault
#           no-imports     a module that calls nothing in the target (compute-module.c)
#           swapped        the module given as the link file and the target last: modweld
#                          refuses the pair
#           link-refused   GNU ld cannot write a PLT for the core and links nothing
#           weld-refused   the module's PLT is one the core cannot run: modweld refuses it
#           float-soft-welded, float-hard-welded
#                          float-module.c, module and target both -mfloat-abi=soft or both
#                          -mfloat-abi=hard: prints the right value
#           float-hard-on-soft-refused, float-soft-on-hard-refused
#                          the module built with one, the target with the other: modweld
#                          refuses the pair
#           float-hard-on-soft-forced, float-soft-on-hard-forced
#                          the same pairs welded without modweld's checks: each side reads
#                          the float where its own convention puts it, so the module gets its
#                          argument back and prints a wrong value
#
# Exits 77 when a tool is missing, so that CTest reports the case as skipped; under CI
# (CI=true), which installs the tools, a missing tool fails the case instead.
set -eu

if [ $# -ne 5 ]; then
    echo "usage: $0 MODWELD WORKDIR MODULE CPU CASE" >&2
    exit 2
fi
modweld=$1 work=$2 module=$3 cpu=$4 case=$5
src=$(cd "$(dirname "$0")" && pwd)
root=$src/../..
sim=$src/../target-sim

. "$src/../case-functions.sh"
readelf=arm-none-eabi-readelf

# The board for each core, with where its code, data and image store lie, and the core's
# clang triple and floating-point unit. The microbit has 256 KiB of flash and 16 KiB of RAM:
# the store is the flash's upper half, and the module gets 6 KiB.
board='' fpu='' sizes=''
code=0x00000000 ram=0x20000000 store=0x00200000
case $cpu in
cortex-m0)
    triple=thumbv6m-none-eabi board=microbit store=0x00020000
    sizes=,--defsym=STORE_SIZE=0x20000,--defsym=MODULE_MEMORY=0x1800
    ;;
cortex-m3) triple=thumbv7m-none-eabi board=mps2-an385 ;;
cortex-m4) triple=thumbv7em-none-eabi board=mps2-an386 fpu=fpv4-sp-d16 ;;
cortex-m7) triple=thumbv7em-none-eabi board=mps2-an500 fpu=fpv5-d16 ;;
cortex-m23) triple=thumbv8m.base-none-eabi ;;
# These two start in the Secure state: the Secure aliases of their memories.
cortex-m33) triple=thumbv8m.main-none-eabi board=mps2-an505 fpu=fpv5-sp-d16 code=0x10000000 ram=0x38000000 store=0x10200000 ;;
cortex-m55) triple=thumbv8.1m.main-none-eabi board=mps3-an547 code=0x10000000 ram=0x30000000 store=0x11000000 ;;
*) echo "unknown core $cpu" >&2; exit 2 ;;
esac

# The module's source and both sides' float ABI (none: the compiler's default, soft here).
source=$sim/hello-module.c module_float='' target_float=''
case $case in
welded | unwelded | thumb-cleared | wrong-target | link-refused | weld-refused | swapped) ;;
no-imports) source=$src/compute-module.c ;;
float-*-welded | float-*-refused | float-*-forced)
    source=$src/float-module.c
    abis=${case#float-}
    abis=${abis%-*}
    module_float=${abis%%-on-*}
    target_float=${abis##*-on-}
    case $module_float/$target_float in
    soft/soft | hard/hard | hard/soft | soft/hard) ;;
    *) echo "unknown case $case" >&2; exit 2 ;;
    esac
    [ -n "$fpu" ] || { echo "no floating-point unit known for $cpu" >&2; exit 2; }
    ;;
*) echo "unknown case $case" >&2; exit 2 ;;
esac
case $case in
link-refused | weld-refused | float-*-refused | swapped) ;;
*) [ -n "$board" ] || { echo "no board for $cpu" >&2; exit 2; } ;;
esac

float_flags() { # soft|hard|''
    case $1 in
    hard) echo "-mfloat-abi=hard -mfpu=$fpu" ;;
    soft) echo -mfloat-abi=soft ;;
    esac
}

command -v arm-none-eabi-gcc >/dev/null || skip arm-none-eabi-gcc gcc-arm-none-eabi
command -v arm-none-eabi-ld >/dev/null || skip arm-none-eabi-ld binutils-arm-none-eabi
case $case in
link-refused | weld-refused | float-*-refused | swapped) ;;
*) command -v qemu-system-arm >/dev/null || skip qemu-system-arm qemu-system-arm ;;
esac

# The compiler of the module's objects and its linker: gnu (arm-none-eabi-ld), lld (ld.lld
# of the version named, whichever ld.lld is first on PATH) or driver (clang links).
lld_with() { # VERSION
    lld=$(find_llvm_tool ld.lld "$1") || skip "ld.lld $1" "lld-$1"
}
clang_with() { # VERSION
    clang=$(find_llvm_tool clang "$1") || skip "clang $1" "clang-$1"
}
case $module in
gcc) compiler=gcc linker=gnu ;;
clang) compiler=clang linker=gnu ;;
clang-lld14 | clang-lld19 | clang-lld22) compiler=clang linker=lld; lld_with "${module#clang-lld}" ;;
gcc-lld19 | gcc-lld22) compiler=gcc linker=lld; lld_with "${module#gcc-lld}" ;;
driver-clang14-lld19) compiler=clang linker=driver; clang_with 14; lld_with 19 ;;
driver-clang14-ld) compiler=clang linker=driver; clang_with 14 ;;
driver-clang19) compiler=clang linker=driver; clang_with 19 ;;
*) echo "unknown module toolchain $module" >&2; exit 2 ;;
esac
if [ "$compiler" = clang ] && [ -z "${clang:-}" ]; then
    clang=$(find_tool clang) || skip clang clang
fi

rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Several flags: left unquoted where used.
warnings="-Wall -Wextra -Wpedantic -Werror"
build_target() { # OUTPUT CODE-ADDRESS
    arm-none-eabi-gcc -mcpu="$cpu" -mthumb $(float_flags "$target_float") -O2 -std=c11 -ffreestanding -nostdlib \
        $warnings -T "$src/target-mcu.ld" -Wl,--defsym=CODE="$2",--defsym=RAM=$ram,--defsym=STORE=$store$sizes \
        "$src/target-mcu.c" -lgcc -o "$1"
}

if [ "$case" != link-refused ]; then
    build_target target-mcu $code
    for name in target_print target_add target_alloc target_half; do
        $readelf -sW target-mcu | awk -v name=$name '$4 == "FUNC" && $8 == name { found = 1 } END { exit !found }' ||
            fail "target-mcu does not export $name as a function"
    done
fi

# The compiler runtime goes into the module, or its helpers would be calls into the target.
flags=$(float_flags "$module_float")
libgcc=$(arm-none-eabi-gcc -mcpu="$cpu" -mthumb $flags -print-libgcc-file-name)
link_status=0
case $compiler/$linker in
gcc/*) arm-none-eabi-gcc -mcpu="$cpu" -mthumb $flags -O2 -fPIC -ffreestanding $warnings -c "$source" -o module.o ;;
clang/gnu | clang/lld) "$clang" --target=$triple -mcpu="$cpu" $flags -O2 -fPIC -ffreestanding $warnings -c "$source" -o module.o ;;
clang/driver)
    # The driver's own link step; a bare-metal clang drops a plain -shared.
    case $module in
    driver-clang14-lld19) use_ld="-fuse-ld=lld --ld-path=$lld" ;;
    driver-clang14-ld) use_ld="--ld-path=$(command -v arm-none-eabi-ld)" ;;
    driver-clang19) use_ld=-fuse-ld=lld ;;
    esac
    "$clang" --target=$triple -mcpu="$cpu" $flags -O2 -fPIC -ffreestanding $warnings -nostdlib -Wl,-shared \
        -Wl,-z,max-page-size=1 $use_ld "$source" "$libgcc" -o module.so >out 2>err || link_status=$?
    ;;
esac
case $linker in
gnu) arm-none-eabi-ld -shared -z max-page-size=1 module.o "$libgcc" -o module.so >out 2>err || link_status=$? ;;
lld) "$lld" -shared -z max-page-size=1 module.o "$libgcc" -o module.so >out 2>err || link_status=$? ;;
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

# modweld's refusal: its lines, status 1 and no module image.
expect_refused() { # LINE
    status=0
    "$modweld" -l target-mcu -o module.mo module.so >out 2>err || status=$?
    expect 1 "$1" 'relocation failed'
    [ ! -e module.mo ] || fail "modweld wrote module.mo"
}

# The module's first call is target_add: with a bad slot, that is where it faults, and the
# core stacks the address it was sent to.
fault_line() { # CFSR LINK-FILE
    printf 'fault: CFSR 0x%08x HFSR 0x00000000 PC 0x%08x' $(($1)) $(($(symbol_value "$2" target_add) & ~1))
}

float_line() { # MODULE-ABI TARGET-ABI
    for abi in "$1" "$2"; do
        case $abi in
        hard) set -- "$@" 'VFP registers (-mfloat-abi=hard)' ;;
        soft) set -- "$@" 'core registers (-mfloat-abi=soft or softfp)' ;;
        esac
    done
    message 'linked image: the module passes floating-point arguments' "$3" "$4"
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
no-imports)
    [ -z "$($readelf -rW module.so | awk '$3 == "R_ARM_JUMP_SLOT"')" ] || fail "the module has jump slots"
    weld target-mcu
    run module.mo
    expect 0 'module_main returned 25'
    ;;
weld-refused)
    plt=$($readelf -SW module.so | sed 's/^ *\[ *[0-9]*\]//' | awk '$1 == ".plt" { print $3 }')
    [ -n "$plt" ] || fail "the module has no .plt"
    # ld.lld 14 writes an ARM PLT for every core, 19 and later for ARMv6-M only; elsewhere
    # theirs is Thumb-2, which ARMv8-M baseline cannot run either: it lacks ldr.w
    # (arm-none-eabi-as -mcpu=cortex-m23 rejects the header's ldr.w pc, [lr, #8]!).
    if [ "$module" = clang-lld14 ] || [ "$cpu" = cortex-m0 ]; then
        # str lr, [sp, #-4]!
        kind=ARM first=e52de004
    else
        # push {lr}; ldr.w lr, [pc, #8]
        kind=Thumb-2 first=f8dfb500
    fi
    [ "$(od -An -tx4 -j $((0x$plt)) -N4 module.so | tr -d ' ')" = $first ] ||
        fail "the PLT at 0x$plt does not start with the $kind PLT header ($first)"
    at=$(printf %x $((0x$plt)))
    case $cpu in
    # gcc's cortex-m0 is ARMv6S-M, M0 with the SVC instruction
    cortex-m0) line=$(message 'linked image: the PLT at 0x<a> is <state> code' $at $kind ARMv6S-M) ;;
    cortex-m23) line=$(message 'linked image: the PLT at 0x<a> is <state> code' $at $kind 'ARMv8-M baseline') ;;
    *) line=$(message 'linked image: the PLT at 0x<a> is ARM code' $at) ;;
    esac
    expect_refused "$line"
    ;;
swapped)
    expect_swapped_refused target-mcu
    ;;
float-*-welded)
    weld target-mcu
    run module.mo
    expect 0 'target_half(21) = 10.5' 'module_main returned 105'
    ;;
float-*-refused)
    expect_refused "$(float_line $module_float $target_float)"
    ;;
float-*-forced)
    force_weld target-mcu
    run module.mo
    # The module's argument is still where it looks for the result: s0 (a hard module on a
    # soft target, which never touches the floating-point registers) or r0 (a soft module
    # on a hard target, whose target_half leaves r0 alone).
    expect 0 'target_half(21) = 21.0' 'module_main returned 210'
    ;;
esac
