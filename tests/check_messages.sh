#!/bin/sh
# Every message the tool prints on standard output must have its entry in README's Messages
# table, the catalogue the manual page's DIAGNOSTICS section is made from.
#
#   check_messages.sh SOURCE_DIR
#
# A message is the string literal (adjacent literals and PRI* macros joined) given to printf,
# puts, fputs or fprintf in src/. Only the usage text and the version banner go to standard
# error; the documents describe them under Usage and OPTIONS instead of quoting them, so
# fprintf(stderr, ...) and fputs(..., stderr) are skipped.
#
# The rule: the format is cut at its conversions (%s, %u, %x, %zu, %llu, ...), where the
# table writes <name>. Each piece, trimmed of blanks and colons, that keeps three characters
# or more must appear in order in one entry, a code span of the table; the first piece at the
# entry's start if the format starts with text, the last at its end if it ends with text.
set -eu
root=${1:?usage: check_messages.sh SOURCE_DIR}

find "$root/src" -name '*.cpp' -o -name '*.h' | sort | LC_ALL=C awk -v root="$root" -v sq="'" '
function trim(s) { gsub(/^[ \t\n:]+|[ \t\n:]+$/, "", s); return s }
function quoted(s) { gsub(/\n/, "\\n", s); return "\"" s "\"" }

# The line without its // comment.
function code(line,   i, c, q) {
    for (i = 1; i <= length(line); i++) {
        c = substr(line, i, 1)
        if (c == "\\") i++
        else if (c == "\"" || c == sq) { if (q == "") q = c; else if (q == c) q = "" }
        else if (q == "" && substr(line, i, 2) == "//") return substr(line, 1, i - 1)
    }
    return line
}

# Reads the string literals and PRI* macros at pos in text; sets pos after them.
function literal(text,   s, c, id) {
    for (;;) {
        while (substr(text, pos, 1) ~ /[ \t]/) pos++
        if (substr(text, pos, 1) == "\"") {
            for (pos++; (c = substr(text, pos, 1)) != "\"" && c != ""; pos++) {
                if (c == "\\") { c = substr(text, ++pos, 1); if (c == "n") c = "\n" }
                s = s c
            }
            pos++
        } else if (match(substr(text, pos), /^PRI[a-zA-Z0-9_]*/)) {
            id = substr(text, pos, RLENGTH)
            s = s "ll" substr(id, 4, 1)
            pos += RLENGTH
        } else return s
    }
}

# The first argument in s, up to a comma or parenthesis.
function word(s) {
    sub(/^[ \t,]*/, "", s); match(s, /^[^,)]*/); s = substr(s, 1, RLENGTH)
    sub(/[ \t]+$/, "", s); return s
}

function document(path, from, to,   line, in_section) {
    while ((getline line < path) > 0) {
        if (line ~ from) in_section = 1
        else if (line ~ to) in_section = 0
        else if (in_section) while (match(line, /`[^`]+`/)) {
            entry[path, ++count[path]] = trim(substr(line, RSTART + 1, RLENGTH - 2))
            line = substr(line, RSTART + RLENGTH)
        }
    }
    close(path)
}

function documented(path, pieces, n, at_start, at_end,   e, s, i, pos, k, from) {
    for (e = 1; e <= count[path]; e++) {
        s = entry[path, e]; pos = 1
        for (i = 1; i <= n; i++) {
            if (i == n && at_end) {
                from = length(s) - length(pieces[i]) + 1
                k = from >= pos && substr(s, from) == pieces[i]
                if (k && (!at_start || n > 1 || from == 1)) return 1
                break
            }
            k = index(substr(s, pos), pieces[i])
            if (k == 0 || (i == 1 && at_start && k != 1)) break
            pos += k - 1 + length(pieces[i])
        }
        if (i > n) return 1
    }
    return 0
}

{ files[++nfiles] = $0 }

END {
    readme = root "/README.md"
    document(readme, "^## Messages", "^## ")
    for (f = 1; f <= nfiles; f++) {
        text = ""
        while ((getline line < files[f]) > 0) text = text " " code(line)
        close(files[f])
        while (match(text, /(^|[^A-Za-z0-9_])(printf|fprintf|fputs|puts)[ \t]*\(/)) {
            call = substr(text, RSTART, RLENGTH); text = substr(text, RSTART + RLENGTH)
            stream = "stdout"
            if (call ~ /fprintf/) { stream = word(text); text = substr(text, index(text, ",") + 1) }
            pos = 1; format = literal(text)
            if (call ~ /fputs/) stream = word(substr(text, pos))
            if (format == "") { print files[f] ": not a string literal, cannot be checked: " substr(text, 1, 40); failed = 1 }
            else if (stream ~ /stderr/) skipped++
            else if (!(format in seen)) { seen[format] = 1; messages[++nmessages] = format }
        }
    }
    for (m = 1; m <= nmessages; m++) {
        s = messages[m]; gsub(/%%/, "\001", s)
        n = split(s, raw, /%[-+ #0]*[0-9]*(\.[0-9]+)?(hh|h|ll|l|z|j|t)?[diouxXcsp]/)
        np = at_start = at_end = 0
        for (i = 1; i <= n; i++) {
            p = trim(raw[i]); gsub(/\001/, "%", p)
            if (length(p) < 3) continue
            pieces[++np] = p
            if (i == 1) at_start = 1
            if (i == n) at_end = 1
        }
        if (np == 0) { print "nothing to match in " quoted(messages[m]); failed = 1 }
        if (!documented(readme, pieces, np, at_start, at_end)) { print "README.md (Messages) lacks " quoted(messages[m]); failed = 1 }
    }
    print nmessages " messages checked, " skipped + 0 " writes to standard error skipped"
    exit failed
}
'
