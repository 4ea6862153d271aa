#!/bin/sh
# Usage: check-layout.sh FILE...
# Fails unless every allocated section that occupies file space has its address equal to
# its file offset, which is what a module needs: modweld writes each jump slot at its
# r_offset taken as a file offset. Needs GNU readelf (READELF overrides).
set -eu
READELF=${READELF:-readelf}
status=0
for file in "$@"; do
  "$READELF" -SW "$file" | sed -n 's/^  \[ *[0-9]*\] //p' | awk -v file="$file" '
    function number(hex) { sub(/^0+/, "", hex); return hex == "" ? "0" : hex }
    # An unnamed section (the null entry) shifts the columns by one.
    { if ($2 ~ /^[0-9a-f]+$/) { name = "(unnamed)"; type = $1; addr = $2; off = $3; flags = $6 }
      else { name = $1; type = $2; addr = $3; off = $4; flags = $7 } }
    type != "NULL" && type != "NOBITS" && flags ~ /A/ && number(addr) != number(off) {
      printf "%s: section %s has address 0x%s but file offset 0x%s\n", file, name, number(addr), number(off)
      bad = 1
    }
    END { exit bad }' || { status=1; continue; }
  echo "$file: every allocated section lies at its file offset"
done
exit $status
