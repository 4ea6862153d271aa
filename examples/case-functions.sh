# Shell functions of the end-to-end cases in target-sim/ and target-mcu/, sourced by their
# run-case.sh. Those set modweld (the tool) and readelf (an ARM readelf), and run the
# weld and the slot edits in the case's work directory.

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

weld() { # LINK-FILE
    "$modweld" -l "$1" -o module.mo module.so >weld.out || { cat weld.out; fail "modweld -l $1 failed"; }
}

# Clears bit 0 of every slot the weld filled; the module image keeps the linked image's layout,
# so the slots are where the linked image's relocations say.
clear_thumb_bits() {
    thumb=0
    for offset in $($readelf -rW module.so | awk '$3 == "R_ARM_JUMP_SLOT" && $4 == "00000000" { print $1 }'); do
        at=$((0x$offset))
        value=$(od -An -tu4 -j $at -N4 module.mo | tr -d ' ')
        [ $((value & 1)) -eq 1 ] && thumb=1
        value=$((value & ~1))
        printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((value & 255)) $((value >> 8 & 255)) \
            $((value >> 16 & 255)) $((value >> 24 & 255)))" |
            dd of=module.mo bs=1 seek=$at count=4 conv=notrunc 2>/dev/null
    done
    [ $thumb -eq 1 ] || fail "no filled slot holds a Thumb address: nothing to clear"
}
