# Shell functions of the end-to-end cases in target-sim/ and target-mcu/, sourced by their
# run-case.sh. Those set root (the repository), modweld (the tool) and readelf (an ARM
# readelf), and run the weld and the slot edits in the case's work directory.

# The tool's lines, from README's Messages table ($root: the repository, set by the caller).
MODWELD_README=$root/README.md
. "$root/tools/messages.sh"

# Exits 77, which CTest reports as skipped; under CI (CI=true), which installs the tools,
# a missing tool fails the case instead.
skip() { # TOOL PACKAGE
    if [ "${CI:-}" = true ]; then
        echo "FAILED: $1 not found under CI (apt-get install $2)"
        exit 1
    fi
    echo "SKIPPED: $1 not found (apt-get install $2)"
    exit 77
}

fail() {
    echo "FAILED: $*"
    for f in out err; do
        [ -s "$f" ] && { echo "--- $f"; cat "$f"; }
    done
    exit 1
}

# The first of the named commands, also looked for where versioned LLVM packages keep them.
# Any version will do: for one in particular, find_llvm_tool.
find_tool() {
    for name in "$@"; do
        command -v "$name" 2>/dev/null && return 0
    done
    for name in "$@"; do
        for dir in /usr/lib/llvm-*/bin; do
            [ -x "$dir/$name" ] && { echo "$dir/$name"; return 0; }
        done
    done
    return 1
}

# The major version an LLVM tool reports (clang version 19.1.7, LLD 19.1.7).
llvm_major() { # COMMAND
    "$1" --version 2>/dev/null |
        awk 'NR == 1 { for (i = 1; i <= NF; ++i) if ($i ~ /^[0-9]+\.[0-9]+/) { split($i, v, "."); print v[1]; exit } }'
}

# The LLVM tool NAME (clang, ld.lld) of major version N: NAME-N on PATH, then LLVM's
# versioned bin directory, then NAME itself; the first that says it is version N. Which
# version plain NAME is depends on PATH, so a case that needs one version names it.
find_llvm_tool() { # NAME N
    for candidate in "$(command -v "$1-$2" 2>/dev/null)" "/usr/lib/llvm-$2/bin/$1" "$(command -v "$1" 2>/dev/null)"; do
        [ -n "$candidate" ] && [ -x "$candidate" ] && [ "$(llvm_major "$candidate")" = "$2" ] &&
            { echo "$candidate"; return 0; }
    done
    return 1
}

weld() { # LINK-FILE
    "$modweld" -l "$1" -o module.mo module.so >weld.out || { cat weld.out; fail "modweld -l $1 failed"; }
}

# The pair given the wrong way round, the module as the link file and the target last: modweld
# refuses it and writes nothing.
expect_swapped_refused() { # TARGET
    swapped_status=0
    "$modweld" -l module.so -o module.mo "$1" >out 2>err || swapped_status=$?
    { message 'linked image: no jump slot to fill' && message 'relocation failed'; } >expected
    [ $swapped_status -eq 1 ] || fail "expected exit status 1, got $swapped_status"
    cmp -s expected out || fail "unexpected output; expected:$(printf '\n'; cat expected)"
    [ ! -s err ] || fail "unexpected output on standard error"
    [ ! -e module.mo ] || fail "modweld wrote module.mo"
    cat out
}

# Writes VALUE as a 32-bit little-endian word at byte OFFSET of FILE.
put_word() { # FILE OFFSET VALUE
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($3 & 255)) $(($3 >> 8 & 255)) $(($3 >> 16 & 255)) \
        $(($3 >> 24 & 255)))" | dd of="$1" bs=1 seek="$2" count=4 conv=notrunc 2>/dev/null
}

# The weld without modweld's checks, for pairs that modweld refuses: module.so copied to
# module.mo with the module magic, and every jump slot whose symbol has value 0 filled
# with the value of the link file's function of that name.
force_weld() { # LINK-FILE
    cp module.so module.mo
    printf '\177OVK' | dd of=module.mo bs=1 count=4 conv=notrunc 2>/dev/null
    $readelf -rW module.so | awk '$3 == "R_ARM_JUMP_SLOT" && $4 == "00000000" { print $1, $5 }' >slots
    [ -s slots ] || fail "the module has no jump slot to fill"
    while read -r offset name; do
        value=$($readelf -sW "$1" | awk -v name="$name" '$4 == "FUNC" && $8 == name { print $2; exit }')
        [ -n "$value" ] || fail "$1 has no function $name"
        put_word module.mo $((0x$offset)) $((0x$value))
    done <slots
}

# Clears bit 0 of every slot the weld filled; the module image keeps the linked image's layout,
# so the slots are where the linked image's relocations say.
clear_thumb_bits() {
    thumb=0
    for offset in $($readelf -rW module.so | awk '$3 == "R_ARM_JUMP_SLOT" && $4 == "00000000" { print $1 }'); do
        at=$((0x$offset))
        value=$(od -An -tu4 -j $at -N4 module.mo | tr -d ' ')
        [ $((value & 1)) -eq 1 ] && thumb=1
        put_word module.mo $at $((value & ~1))
    done
    [ $thumb -eq 1 ] || fail "no filled slot holds a Thumb address: nothing to clear"
}
