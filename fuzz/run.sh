#!/usr/bin/env bash
# Builds the fuzz targets and runs each for SECONDS (default 60), one after another with a
# single worker, then prints executions, coverage and findings per target.
#
#   fuzz/run.sh [SECONDS] [TARGET...]      targets: link_file module pair options
#
# Corpora grow in $MODWELD_FUZZ_BUILD/corpus (default build-fuzz/), seeded from the real
# pair in tests/hostile, the real linker output in tests/fixtures and the regression inputs
# in tests/hostile/crashes; findings land in $MODWELD_FUZZ_BUILD/findings/TARGET. Exit
# status 1 when any target found anything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MODWELD_FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(link_file module pair options)
fixtures=$root/tests/hostile

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DMODWELD_FUZZ=ON -DMODWELD_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null

u32le() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }

seed() {
    local target=$1 dir=$2
    case $target in
    link_file | module)
        cp "$fixtures/target.elf" "$fixtures/module.so" "$dir/"
        cp "$root"/tests/fixtures/*.so "$root"/tests/fixtures/*.elf "$dir/" ;;
    pair)
        { u32le "$(stat -c %s "$fixtures/target.elf")"; cat "$fixtures/target.elf" "$fixtures/module.so"; } >"$dir/target+module"
        { u32le "$(stat -c %s "$fixtures/module.so")"; cat "$fixtures/module.so" "$fixtures/module.so"; } >"$dir/module+module"
        # M-profile targets with a module whose PLT they cannot run, and a module passing
        # floats in other registers than its target.
        real=$root/tests/fixtures
        pair_seed() { { u32le "$(stat -c %s "$real/$1")"; cat "$real/$1" "$real/$2"; } >"$dir/$3"; }
        pair_seed gnu-m3-target.elf lld-m3.so m3-target+lld-module
        pair_seed gnu-m0-target.elf lld19-m0.so m0-target+lld19-module
        pair_seed gnu-m3-target.elf gnu-m4-hard.so m3-target+hard-float-module ;;
    options)
        printf 'modweld\0-l\0k.elf\0-o\0out.mo\0app.so' >"$dir/run"
        printf 'modweld\0-D\0on\0-l\0k.elf\0-o\0out.mo\0-V\0x\0app.so' >"$dir/version"
        printf 'modweld\0-lk.elf\0k.elf\0-o\0-h\0-' >"$dir/usage"
        printf 'modweld\0-o\0out.mo\0app.so' >"$dir/no-link-file" ;;
    esac
    for crash in "$fixtures"/crashes/"$target"-*; do
        [ -e "$crash" ] && cp "$crash" "$dir/"
    done
    return 0
}

failed=0
for target in "${targets[@]}"; do
    exe=$build/fuzz/${target}_fuzz
    corpus=$build/corpus/$target findings=$build/findings/$target log=$build/findings/$target.log
    mkdir -p "$corpus" "$findings"
    seed "$target" "$corpus"
    status=0
    "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -n 1)
    found=$(find "$findings" -type f | wc -l)
    echo "$target: ${runs:-?} executions in ${seconds}s, ${cov:-no coverage figures}, findings: $found (exit $status)"
    if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
        failed=1
        grep -E 'ERROR|SUMMARY|fuzz check failed|Test unit written' "$log" | head -n 20 || true
        find "$findings" -type f
    fi
done
exit $failed
