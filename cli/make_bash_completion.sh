#!/usr/bin/env bash
# Writes talvorctl's bash completion from its own help texts:
#   make_bash_completion.sh TALVORCTL TEMPLATE OUT
# The commands come from the usage lines of `talvorctl --help`, the options
# taken before a command from its "options" block, and what each command
# takes after it from `talvorctl COMMAND --help` (every "  --switch" line
# there). A switch followed by an upper-case word takes a value: FILE and DIR
# complete paths.
set -euo pipefail
help=$("$1" --help)

# "--switch VALUE" (VALUE empty for a plain switch) of each switch line.
switch_lines() { awk '/^  --[a-z]/ { print $1, ($2 ~ /^[A-Z]+$/ ? $2 : "") }'; }
names() { awk '{ print $1 }' | sort -u | tr '\n' ' ' | sed 's/ $//'; }

commands=$(sed -nE 's/^(usage: +| +)talvorctl \[options\] ([a-z][a-z-]*).*/\2/p' <<<"$help" | tr '\n' ' ' | sed 's/ $//')
global=$(sed -n '/^options/,$p' <<<"$help" | switch_lines)
all=$global
own=
for verb in $commands; do
  lines=$("$1" "$verb" --help | switch_lines)
  all+=$'\n'$lines
  own+="${own:+ }[$verb]=\"$(names <<<"$lines")\""
done

declare -A fields=(
  [COMMANDS]=$commands
  [OPTIONS]=$(names <<<"$global")
  [FILE_VALUES]=$(awk '$2 == "FILE"' <<<"$all" | names)
  [DIR_VALUES]=$(awk '$2 == "DIR"' <<<"$all" | names)
  [OTHER_VALUES]=$(awk '$2 != "" && $2 != "FILE" && $2 != "DIR"' <<<"$all" | names)
  [OWN_SWITCHES]=$own
)
for f in COMMANDS OPTIONS FILE_VALUES DIR_VALUES OWN_SWITCHES; do
  [ -n "${fields[$f]}" ] || { echo "make_bash_completion.sh: no $f in talvorctl's help" >&2; exit 1; }
done
script=$(<"$2")
for f in "${!fields[@]}"; do
  script=${script//@$f@/${fields[$f]}}
done
printf '%s\n' "$script" >"$3.tmp"
mv "$3.tmp" "$3"
