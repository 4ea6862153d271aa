#!/bin/sh
# Every message the tool prints on standard output has its entry in README's Messages table,
# the catalogue the manual page's DIAGNOSTICS section is made from:
#
#   check_messages.sh SOURCE_DIR
#
# A message is the format given to printf, puts, fputs or fprintf in src/ (adjacent literals
# and PRI* macros joined), but for the usage text and the banner on stderr. Cut at its
# conversions, where the table writes <name>, each piece of three characters or more (blanks
# and colons trimmed) must appear in order in one code span of the table: the first at its
# start if the format starts with text, the last at its end if it ends with text.
set -eu
root=${1:?usage: check_messages.sh SOURCE_DIR}

find "$root/src" -name '*.cpp' -o -name '*.h' | sort | xargs sed -e 's,^[ \t]*//.*,,' -e 's, // .*,,' |
LC_ALL=C awk -v readme="$root/README.md" '
function trim(s) { gsub(/^[ \t\n:]+|[ \t\n:]+$/, "", s); return s }

# The literals and PRI* macros at the start of `text`, joined; `rest` is what follows them.
function literal(text,   s, c, i) {
    for (;;) {
        sub(/^[ \t]+/, "", text)
        if (text ~ /^"/) {
            for (i = 2; (c = substr(text, i, 1)) != "\"" && c != ""; i++) {
                if (c == "\\") { c = substr(text, ++i, 1); if (c == "n") c = "\n" }
                s = s c
            }
            text = substr(text, i + 1)
        } else if (match(text, /^PRI[a-zA-Z0-9_]*/)) {
            s = s "ll" substr(text, 4, 1); text = substr(text, RLENGTH + 1)
        } else { rest = text; return s }
    }
}

# True when the n pieces appear in order in code span s, anchored as the format is.
function in_entry(s, pieces, n, at_start, at_end,   i, k, pos) {
    pos = 1
    for (i = 1; i <= n; i++) {
        k = index(substr(s, pos), pieces[i])
        if (k == 0 || (i == 1 && at_start && k != 1)) return 0
        pos += k - 1 + length(pieces[i])
    }
    return !at_end || substr(s, length(s) - length(pieces[n]) + 1) == pieces[n]
}

{ text = text " " $0 }

END {
    while ((getline line < readme) > 0) {
        if (line ~ /^## /) in_table = line == "## Messages"
        else if (in_table) while (match(line, /`[^`]+`/)) {
            entry[++entries] = trim(substr(line, RSTART + 1, RLENGTH - 2)); line = substr(line, RSTART + RLENGTH)
        }
    }
    while (match(text, /(^|[^A-Za-z0-9_])(printf|fprintf|fputs|puts)[ \t]*\(/)) {
        call = substr(text, RSTART, RLENGTH); text = substr(text, RSTART + RLENGTH)
        if (call ~ /fprintf/) { stream = substr(text, 1, index(text, ",") - 1); text = substr(text, index(text, ",") + 1) }
        format = literal(text)
        if (call ~ /fputs/) stream = substr(rest, 1, index(rest, ")"))
        if (format == "") { print "not a literal, cannot be checked: " substr(text, 1, 40); failed = 1; continue }
        if (call ~ /fprintf|fputs/ && stream ~ /stderr/) { skipped++; continue }
        if (seen[format]++) continue; checked++
        s = format; gsub(/%%/, "\001", s)
        n = split(s, raw, /%[-+ #0]*[0-9]*(\.[0-9]+)?(hh|h|ll|l|z|j|t)?[diouxXcsp]/)
        np = at_start = at_end = 0
        for (i = 1; i <= n; i++) {
            p = trim(raw[i]); gsub(/\001/, "%", p)
            if (length(p) < 3) continue
            pieces[++np] = p; at_start = at_start || i == 1; at_end = i == n
        }
        found = 0
        for (e = 1; np > 0 && e <= entries && !found; e++) found = in_entry(entry[e], pieces, np, at_start, at_end)
        gsub(/\n/, "\\n", format)
        if (np == 0) { print "nothing to match in \"" format "\""; failed = 1 }
        else if (!found) { print "README.md (Messages) lacks \"" format "\""; failed = 1 }
    }
    print checked " messages checked, " skipped + 0 " writes to standard error skipped"
    exit failed
}'
