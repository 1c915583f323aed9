#!/usr/bin/env bash
# talvorctl's generated bash completion: what it offers at typical points of
# a command line, and that it offers every switch `talvorctl --help` names.
#   completion_test.sh TALVORCTL COMPLETION_SCRIPT
set -uo pipefail
talvorctl=$(realpath "$1")
script=$(realpath "$2")
work=$(mktemp -d /tmp/talvorctl-completion.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/fw-dir"
touch "$work/fw-image.bin" "$work/-odd.bin"
cd "$work"

# The words offered for the command line $1 (the last word is the one being
# completed; a trailing space starts a new one), one per line, sorted.
offered() {
  bash --norc -c '
    source "$1"
    read -ra COMP_WORDS <<<"$2"
    [[ $2 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _talvorctl
    printf "%s\n" "${COMPREPLY[@]}"' bash "$script" "$1" | sort -u
}

failed=0
# line | words that must be offered | words that must not
cases=(
  "talvorctl |show discover firmware download-config open|--json"
  "talvorctl --tls-checks strict fi|firmware|"
  "talvorctl --tls-checks |none standard strict|show"
  "talvorctl --password-file fw-i|fw-image.bin|"
  "talvorctl --|--json --yes --tls-checks --class --help --version|--with-taps --list --discover"
  "talvorctl show --|--list --json --csv --help|--with-taps --class --discover --parallel --retry-list --report"
  "talvorctl discover --|--json --csv|--list --discover --parallel"
  "talvorctl restart 10.0.0.1 --|--with-taps --no-taps --class --list --discover --yes --parallel|--out --remove --csv"
  "talvorctl download-config --folder fw|fw-dir|fw-image.bin"
  "talvorctl download-config --folder = fw|fw-dir|fw-image.bin"
  "talvorctl --password-file = pw firmware --|--verify --verify-timeout|--with-taps"
  "talvorctl firmware fw-|fw-image.bin fw-dir|"
  "talvorctl firmware -- -|-odd.bin|--verify"
  "talvorctl --json customize --|--remove --discover|--csv --verify"
  "talvorctl open 10.0.0.1 --|--launch|--parallel --retry-list"
)
for c in "${cases[@]}"; do
  IFS='|' read -r line want unwanted <<<"$c"
  got=$(offered "$line")
  for w in $want; do
    grep -qxF -- "$w" <<<"$got" || { echo "'$line': $w not offered (got: $(echo $got))"; failed=1; }
  done
  for w in $unwanted; do
    grep -qxF -- "$w" <<<"$got" && { echo "'$line': $w offered"; failed=1; }
  done
done

# Every switch --help mentions is offered somewhere: alone or after one of
# the commands it lists.
help=$("$talvorctl" --help) || exit 1
all=$(offered "talvorctl --")
for verb in $(offered "talvorctl "); do
  all+=$'\n'$(offered "talvorctl $verb --")
done
# After a command, exactly the switches of its --help.
for verb in $(offered "talvorctl "); do
  want=$("$talvorctl" "$verb" --help | awk '/^  --[a-z]/ { print $1 }' | sort -u)
  [ "$(offered "talvorctl $verb --")" == "$want" ] || { echo "$verb: offered are not its --help's switches"; failed=1; }
done
for s in $(grep -oE -- '--[a-z][a-z0-9-]+' <<<"$help" | sort -u); do
  grep -qxF -- "$s" <<<"$all" || { echo "$s is in talvorctl --help but never offered"; failed=1; }
done
for verb in $(sed -n '/^commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' <<<"$help") show discover; do
  grep -qxF -- "$verb" <<<"$(offered "talvorctl ")" || { echo "command $verb not offered"; failed=1; }
done
exit "$failed"
