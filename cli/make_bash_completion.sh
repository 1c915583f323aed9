#!/usr/bin/env bash
# Writes talvorctl's bash completion from what `talvorctl --help` lists:
#   make_bash_completion.sh TALVORCTL TEMPLATE OUT
# Commands come from the usage lines, their own switches from the same lines,
# the options every command takes from the "options ..." block. A switch
# followed by an upper-case word takes a value: FILE and DIR complete paths.
set -euo pipefail
help=$("$1" --help)

fields=$(awk '
  function add(list, word) { return index(" " list " ", " " word " ") ? list : (list == "" ? word : list " " word) }
  # Records each "--switch VALUE" of `text`; returns the switches, space-separated.
  function switches(text,    found, s, n, parts) {
    found = ""
    while (match(text, /--[a-z][a-z0-9-]*( [A-Z]+(\.\.\.)?)?/)) {
      n = split(substr(text, RSTART, RLENGTH), parts, " ")
      s = parts[1]
      found = add(found, s)
      if (n > 1 && parts[2] != "TARGETS") {
        sub(/\.\.\.$/, "", parts[2])
        kind[s] = parts[2]
      }
      text = substr(text, RSTART + RLENGTH)
    }
    return found
  }
  /^(usage: +| +)talvorctl \[options\] / {
    sub(/^.*talvorctl \[options\] /, "")
    verb = $1
    commands = add(commands, verb)
    if ($0 ~ / TARGETS/) targets[verb] = 1
    n = split(switches($0), list, " ")
    for (i = 1; i <= n; i++) { own[verb] = add(own[verb], list[i]); in_usage[list[i]] = 1 }
    next
  }
  /^TARGETS:/ { target_switches = switches($0); next }
  /^options/ { in_options = 1; next }
  in_options && /^  --/ { global = global " " switches($1 " " $2) }
  END {
    for (s in in_usage) sub(" " s "( |$)", " ", global)
    gsub(/ +/, " ", global); sub(/^ /, "", global); sub(/ $/, "", global)
    print "COMMANDS=" commands
    print "OPTIONS=" global
    for (s in kind) {
      if (kind[s] == "FILE") files = add(files, s)
      else if (kind[s] == "DIR") dirs = add(dirs, s)
      else others = add(others, s)
    }
    print "FILE_VALUES=" files
    print "DIR_VALUES=" dirs
    print "OTHER_VALUES=" others
    n = split(commands, verbs, " ")
    for (i = 1; i <= n; i++) {
      v = verbs[i]
      words = own[v]
      if (v in targets) {
        m = split(target_switches, t, " ")
        for (j = 1; j <= m; j++) words = add(words, t[j])
      }
      table = table (table == "" ? "" : " ") "[" v "]=\"" words "\""
    }
    print "OWN_SWITCHES=" table
  }' <<<"$help")

value() { sed -n "s/^$1=//p" <<<"$fields"; }
for f in COMMANDS OPTIONS FILE_VALUES DIR_VALUES; do
  [ -n "$(value "$f")" ] || { echo "make_bash_completion.sh: no $f in talvorctl --help" >&2; exit 1; }
done
script=$(<"$2")
for f in COMMANDS OPTIONS FILE_VALUES DIR_VALUES OTHER_VALUES OWN_SWITCHES; do
  script=${script//@$f@/$(value "$f")}
done
printf '%s\n' "$script" >"$3.tmp"
mv "$3.tmp" "$3"
