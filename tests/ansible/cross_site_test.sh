#!/usr/bin/env bash
# The firmware rollout playbook over real SSH to three sites (sites.sh):
# a check-mode run sends nothing that changes a unit; the first run flashes
# every unit once, the canary site before the others; the second reports
# changed=0 and flashes nothing; with one site's sshd stopped that site is
# unreachable and the other two finish. The golden configuration is only
# ever compared (check mode): no configuration reaches a unit.
#
#   cross_site_test.sh TALVORCTL HUBSIM COLLECTION OUT_DIR
#
# OUT_DIR receives each run's output and recaps.txt with the recaps.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
LIMIT=${TALVOR_ANSIBLE_LIMIT:-480}

if [ "${1:-}" != --inner ]; then
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: network namespaces and sshd need root"; exit 77; }
  work=$(mktemp -d /tmp/talvor-ansible-XXXXXX)
  # Whatever happens inside (a failure, the time limit), the sites go.
  trap 'bash "$here/sites.sh" down "$work"; rm -rf "$work"' EXIT
  timeout -k 10 "$LIMIT" bash "$0" --inner "$work" "$@"
  rc=$?
  [ $rc -eq 124 ] && echo "FAIL: not done within $LIMIT s"
  exit $rc
fi
work=$2 talvorctl=$3 hubsim=$4 collection=$5 out=$6
mkdir -p "$out"
rm -f "$out"/*.txt
bash "$here/sites.sh" up "$work" "$talvorctl" "$hubsim" "$collection" 3 || exit 1

failures=0
check() {
  if [ "$2" = "$3" ]; then echo "ok: $1: $2"; else echo "FAIL: $1: got '$2', expected '$3'"; failures=$((failures + 1)); fi
}

# Runs the playbook; its output goes to OUT/NAME.txt.
playbook() {
  local name=$1
  shift
  timeout 240 bash "$here/sites.sh" playbook "$work" "$@" >"$out/$name.txt" 2>&1
  local rc=$?
  { echo "== $name (exit status $rc)"; sed -n '/^PLAY RECAP/,$p' "$out/$name.txt"; } >>"$out/recaps.txt"
  return $rc
}

# A recap field of a host in a run's output: recap RUN HOST FIELD.
recap() {
  sed -n "/^PLAY RECAP/,\$s/^$2 *:.* $3=\([0-9]*\).*/\1/p" "$out/$1.txt"
}

# Requests of every site's units from line FROM of each log on (0: all):
# requests SITE FROM [WHAT] prints the count; WHAT is "changing" (those that
# change a unit) or "firmware" (unit firmware uploads), all when not given.
requests() {
  python3 - "$work/s$1/sim/requests.jsonl" "$2" "${3:-}" <<'EOF'
import json, sys
path, start, what = sys.argv[1], int(sys.argv[2]), sys.argv[3]
changing = ('fw_net_file', 'fw_sys_file', 'config_set', 'auth_set', 'reboot', 'sdcard_clear', 'modbus_set',
            'customise_file', 'cert_upload', 'priv_upload', 'cert_clear', 'cert_default_regen')
lines = open(path).read().splitlines()[start:]
names = [json.loads(line)['target'].lstrip('/').split('?')[0].split('.')[0] for line in lines]
if what == 'changing':
    names = [n for n in names if n in changing]
elif what == 'firmware':
    names = [n for n in names if n == 'fw_net_file']
print(len(names))
EOF
}
lines_of() { wc -l <"$work/s$1/sim/requests.jsonl"; }

# 1. Check mode: every site read and compared, nothing changed.
playbook check --check --diff
check "check-mode run exit status" $? 0
for s in 1 2 3; do
  n=$(requests $s 0)
  check "site $s: requests in check mode ($n of them)" "$((n > 0))" 1
  check "site $s: requests that change a unit in check mode" "$(requests $s 0 changing)" 0
done
check "units that would be flashed" "$(grep -c 'would flash: runs v0.64.2, target v0.65.0' "$out/check.txt")" 9
check "the drifting unit's keys shown as a diff" "$(grep -c '^-.*192\.168\.77\.53' "$out/check.txt")" 1

# 2. The rollout: every unit flashed once, the canary site first.
declare -A before
for s in 1 2 3; do before[$s]=$(lines_of $s); done
playbook run1
check "first run exit status" $? 0
for s in 1 2 3; do
  check "site $s: firmware uploads in the first run" "$(requests $s "${before[$s]}" firmware)" 3
  check "site $s: failed in the first run" "$(recap run1 site$s failed)" 0
done
canary_last=$(python3 -c '
import json, sys
times = lambda p: [json.loads(l)["time"] for l in open(p) if "fw_net_file" in json.loads(l)["target"]]
print(int(max(times(sys.argv[1])) < min(times(sys.argv[2]) + times(sys.argv[3]))))' \
  "$work"/s{1,2,3}/sim/requests.jsonl)
check "the canary site flashed before the others" "$canary_last" 1

# 3. Again: nothing changed, nothing flashed, nothing sent that changes a unit.
for s in 1 2 3; do before[$s]=$(lines_of $s); done
playbook run2
check "second run exit status" $? 0
for s in 1 2 3; do
  check "site $s: changed in the second run" "$(recap run2 site$s changed)" 0
  check "site $s: requests that change a unit in the second run" "$(requests $s "${before[$s]}" changing)" 0
done

# 4. Site 3's sshd stopped: site 3 unreachable, the others finish.
bash "$here/sites.sh" stop-ssh "$work" 3
playbook unreachable
check "run with a site unreachable: exit status" $? 4
check "site 3 unreachable" "$(recap unreachable site3 unreachable)" 1
for s in 1 2; do
  check "site $s: failed with site 3 unreachable" "$(recap unreachable site$s failed)/$(recap unreachable site$s unreachable)" 0/0
  check "site $s: every task done with site 3 unreachable" "$(recap unreachable site$s ok)" "$(recap run2 site$s ok)"
done

# No configuration ever reached a unit: the golden configuration is only compared.
for s in 1 2 3; do check "site $s: configuration uploads" "$(python3 -c '
import sys; print(sum("config_set" in l for l in open(sys.argv[1])))' "$work/s$s/sim/requests.jsonl")" 0; done

cat "$out/recaps.txt"
if ((failures)); then
  echo "$failures checks failed; the runs' output is in $out"
  exit 1
fi
echo "all checks passed; the runs' output is in $out"
