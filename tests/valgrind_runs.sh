#!/bin/sh
# Whole runs of modweld under valgrind's memcheck: no invalid read or write, no use of
# uninitialised memory, on a good pair and on a few broken inputs. Memory that the tool
# keeps until it exits is not looked at (--leak-check=no).
#   valgrind_runs.sh MODWELD HOSTILE_DIR
set -eu
tool=$1 fixtures=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
cp "$fixtures/target.elf" k.elf
cp "$fixtures/module.so" app.so
head -c 60 app.so >short.so
printf 'not an image\n' >text.elf
cp app.so many.so
printf '\377\377' | dd of=many.so bs=1 seek=48 conv=notrunc 2>/dev/null # e_shnum 0xFFFF

failed=0
run() {
    expected=$1
    shift
    status=0
    valgrind -q --error-exitcode=99 --leak-check=no --log-file=memcheck.log "$tool" "$@" >/dev/null 2>&1 ||
        status=$?
    if [ "$status" -ne "$expected" ]; then
        echo "FAILED: modweld $* ended with status $status, expected $expected"
        cat memcheck.log
        failed=1
    fi
}
run 0 -l k.elf -o out.mo -D on app.so
run 1 -l k.elf -o out.mo short.so
run 1 -l text.elf -o out.mo app.so
run 1 -l k.elf -o out.mo many.so
[ $failed -eq 0 ] && echo "memcheck clean on 4 runs"
exit $failed
