#!/usr/bin/env bash
# The quillon.talvor collection's checks, all offline: ansible-test's sanity
# tests that need no packages of their own, Debian's pylint, pycodestyle and
# yamllint, and ansible-doc rendering each module's documentation. One line
# per check; the exit status is non-zero when any failed.
set -uo pipefail
cd "$(dirname "$0")/.."

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# ansible-test wants the collection under ansible_collections/NAMESPACE/NAME,
# in a tree of its own; its files and ours stay in the temporary folder.
tree=$tmp/ansible_collections/quillon/talvor
mkdir -p "$(dirname "$tree")"
cp -r ansible "$tree"
export HOME=$tmp ANSIBLE_COLLECTIONS_PATH=$tmp ANSIBLE_LOCAL_TEMP=$tmp/local ANSIBLE_NOCOLOR=1
cd "$tree"

failed=0
check() {
  local name=$1
  shift
  if out=$("$@" 2>&1); then
    echo "ansible lint $name: clean"
  else
    echo "ansible lint $name: FAILED"
    printf '%s\n' "$out" | grep -v 'locale "C.UTF-8"' | sed 's/^/  /'
    failed=1
  fi
}

# Sanity tests that install packages into virtual environments of their own
# (fetched from the network) are left out; pylint, pep8 and yamllint run
# below with Debian's tools instead.
needs_network=(ansible-doc import pep8 pylint runtime-metadata validate-modules yamllint)
check "ansible-test sanity" ansible-test sanity --python "$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')" \
  "${needs_network[@]/#/--skip-test=}"

# Ansible's own conventions: the documentation before the imports, py2-era
# boilerplate (__metaclass__, % formatting, dict()), repeated return docs.
check pylint env PYTHONPATH="$tmp" pylint --score=n --max-line-length=120 \
  --good-names=__metaclass__,p,rc,e,k,v,u,d \
  --disable=wrong-import-position,consider-using-f-string,use-dict-literal,duplicate-code,missing-module-docstring,too-few-public-methods,useless-object-inheritance \
  plugins
check pycodestyle pycodestyle --max-line-length=120 --ignore=E402 plugins
check yamllint yamllint --strict -c .yamllint .

modules=$(cd plugins/modules && ls ./*.py | sed 's|^\./\(.*\)\.py$|quillon.talvor.\1|')
# ansible-doc exits 0 even when a module's documentation does not parse; it
# then says so on its standard error.
doc() {
  local m text
  for m in $modules; do
    text=$(ansible-doc -t module "$m" 2>&1) || { echo "$text"; return 1; }
    if grep -q 'ERROR\|WARNING' <<<"$text"; then echo "$text"; return 1; fi
    grep -q "^> ${m^^} " <<<"$text" || { echo "$m: no documentation rendered"; return 1; }
  done
}
check "ansible-doc ($(wc -w <<<"$modules") modules)" doc
exit "$failed"
