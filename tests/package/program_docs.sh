#!/usr/bin/env bash
# A program and its man page tell the same: --version gives the name and the project's version;
# every long option of its --help (and of each subcommand's) is in the man page and every one the
# man page names is in a --help; every subcommand has its section there.
# Usage: program_docs.sh PROGRAM VERSION MAN_PAGE_SOURCE [SUBCOMMAND...]
set -euo pipefail
program=$1 version=$2 page=$3
shift 3
name=$(basename "$program")
failed=0
fail() {
  echo "FAILED: $*" >&2
  failed=1
}

said=$("$program" --version) || fail "$name --version exits $?"
[[ $said == "$name $version" ]] || fail "$name --version says '$said', expected '$name $version'"

# In roff a hyphen is written \-. (No grep -q at the end of a pipe: it may leave the writer
# before it is done, and pipefail counts that writer's SIGPIPE as a failure.)
text=$(sed 's/\\-/-/g' "$page")
help=$("$program" --help)
for subcommand in "$@"; do
  help+=$'\n'$("$program" "$subcommand" --help)
  grep -qx "\.SS $subcommand\( .*\)\?" <<<"$text" || fail "$page has no section for '$subcommand'"
done
# The subcommands that --help lists are exactly those given.
listed=$(sed -n '/^Subcommands:/,/^$/p' <<<"$help" | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p' |
  sort -u)
[[ $listed == "$(printf '%s\n' "$@" | sed '/^$/d' | sort -u)" ]] ||
  fail "$name --help lists subcommands '$(echo $listed)', the man page was checked for '$*'"

from_help=$({ grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" || true; } | sort -u)
# An example line that runs another of our programs has that program's options.
from_page=$(awk -v self="$name" '!($1 ~ /^pyrelink/ && $1 != self)' <<<"$text" |
  { grep -oE -- '--[a-z][a-z0-9-]*' || true; } | sort -u)
missing=$(comm -23 <(echo "$from_help") <(echo "$from_page"))
unknown=$(comm -13 <(echo "$from_help") <(echo "$from_page"))
[[ -z $missing ]] || fail "$page lacks $(echo $missing), which $name --help lists"
[[ -z $unknown ]] || fail "$page names $(echo $unknown), which no $name --help lists"

((failed == 0)) && echo "ok: $name --version and $(wc -l <<<"$from_help") options agree with $page"
exit "$failed"
