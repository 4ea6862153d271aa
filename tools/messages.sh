# The tool's messages as README's Messages table writes them, for the scripts that predict
# modweld's output; sourced, with MODWELD_README naming the README.md to read.
#
#   message_template START   the message of the table's row that is START, or else the first
#                            that begins with START, with its <placeholders>
#   message START VALUE...   that message with its placeholders, in order, replaced by the VALUEs

message_template() {
  awk -v start="$1" '
    /^## / { table = $0 == "## Messages" }
    table && /^\| `/ {
      m = $0; sub(/^\| `/, "", m); sub(/` \|.*$/, "", m)
      if (m == start) { exact = m; exit }
      if (first == "" && index(m, start) == 1) first = m
    }
    END { if (exact == "" && first == "") exit 1; print exact != "" ? exact : first }' "$MODWELD_README" ||
    { echo "$MODWELD_README: no message \"$1\" in the Messages table" >&2; return 1; }
}

message() {
  template=$(message_template "$1") || return 1
  shift
  printf '%s\n' "$template" | awk 'BEGIN { for (i = 1; i < ARGC; ++i) value[i] = ARGV[i]; ARGC = 1 }
    { for (i = 1; match($0, /<[^<>]+>/); ++i) { out = out substr($0, 1, RSTART - 1) value[i]; $0 = substr($0, RSTART + RLENGTH) }
      print out $0 }' "$@"
}
