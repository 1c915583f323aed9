#!/usr/bin/env bash
# talvorctl's manual page against its help: every command has an entry under
# COMMANDS, every switch the help of talvorctl or of a command names is in
# the page, and the page names no switch talvorctl does not take.
#   man_page_test.sh TALVORCTL PAGE
set -uo pipefail
talvorctl=$1
page=$(sed 's/\\-/-/g' "$2") # the page's text with its dashes plain

help=$("$talvorctl" --help) || exit 1
commands=$(sed -nE 's/^(usage: +| +)talvorctl \[options\] ([a-z][a-z-]*).*/\2/p' <<<"$help")
[ "$(wc -l <<<"$commands")" -gt 10 ] || { echo "too few commands in talvorctl --help"; exit 1; }
switches=$(grep -oE -- '--[a-z][a-z0-9-]+' <<<"$help")
for verb in $commands; do
  switches+=$'\n'$(grep -oE -- '--[a-z][a-z0-9-]+' <<<"$("$talvorctl" "$verb" --help)")
done
switches=$(sort -u <<<"$switches")

failed=0
entries=$(sed -n '/^\.SH COMMANDS/,/^\.SH /p' <<<"$page" | grep -A1 '^\.TP' | grep -v '^\.TP')
for verb in $commands; do
  grep -qE -- "^\.BI? $verb( |\$)|\\\\fB$verb " <<<"$entries" || { echo "command $verb has no entry in the page"; failed=1; }
done
for s in $switches; do
  grep -qF -- "$s" <<<"$page" || { echo "$s is not in the page"; failed=1; }
done
for s in $(grep -oE -- '--[a-z][a-z0-9-]+' <<<"$page" | sort -u); do
  grep -qxF -- "$s" <<<"$switches" || { echo "the page names $s, which talvorctl does not take"; failed=1; }
done
exit "$failed"
