#!/usr/bin/env bash
# talvorctl.exe under Wine against the Linux talvor-hubsim on loopback,
# beside the Linux talvorctl: the same tree of the demo fleet byte for
# byte, and a firmware update and a configuration download that reach the
# simulator as the same requests and leave the same file.
#   scripts/windows_e2e.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# Prints its findings on lines starting "e2e: "; non-zero when one differs.
set -euo pipefail
cd "$(dirname "$0")/.."
win_build=$1 linux_build=$2
wine=/usr/lib/wine/wine64
work=$(mktemp -d)
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$linux_build/simulator/talvor-hubsim" demo/fleet.json "$work/sim" >"$work/hubsim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do
  grep -q '^ready' "$work/hubsim.log" && break
  kill -0 "$sim" 2>/dev/null || { cat "$work/hubsim.log"; exit 1; }
  sleep 0.1
done
grep -q '^ready' "$work/hubsim.log" || { echo "talvor-hubsim did not start"; exit 1; }
requests=$(sed -n 's/^request log //p' "$work/hubsim.log")

linux() { "$linux_build/cli/talvorctl" "$@"; }
windows() { "$wine" "$win_build/cli/talvorctl.exe" "$@"; }
common=(--password-file demo/password --accept-insecure)

# What reached the simulator since line $1 of its request log, without what
# differs by nature from one run to the next: times, bodies (nonces,
# multipart boundaries) and the random tag each request carries after "?".
requests_since() {
  tail -n +"$(($1 + 1))" "$requests" | python3 -c '
import json, re, sys
for line in sys.stdin:
    e = json.loads(line)
    target = re.sub(r"\?[0-9a-f]{8}$", "?TAG", e["target"])
    print(e["unit"], e["method"], target, e["status"], e.get("upload_length", ""),
          e.get("upload_sha256", ""), e.get("upload_target", ""))'
}
log_lines() { wc -l <"$requests"; }

failed=0
same() { # NAME FILE1 FILE2
  if cmp -s "$2" "$3"; then
    echo "e2e: $1: the same ($(wc -c <"$2") bytes)"
  else
    echo "e2e: $1: DIFFERENT"
    diff "$2" "$3" | head -20 || true
    failed=1
  fi
}

linux "${common[@]}" show --list demo/fleet.txt >"$work/tree.linux"
windows "${common[@]}" show --list demo/fleet.txt >"$work/tree.windows"
echo "e2e: tree of the demo fleet: $(grep -c . "$work/tree.linux") lines"
same "tree from talvorctl and talvorctl.exe" "$work/tree.linux" "$work/tree.windows"

# A network firmware image of the units' own hardware (622), as the
# format has it: magic, length, hardware code.
python3 -c '
import struct, sys
s = bytearray(b"\x5a" * 300)
s[0:4] = b"gUwF"; s[4:8] = struct.pack("<I", 300); s[12:14] = struct.pack("<H", 622)
open(sys.argv[1], "wb").write(s)' "$work/hub.bin"

for side in linux windows; do
  start=$(log_lines)
  "$side" "${common[@]}" --yes firmware "$work/hub.bin" 127.77.0.1 >"$work/firmware.$side.out" 2>&1
  requests_since "$start" >"$work/firmware.$side"
  start=$(log_lines)
  "$side" "${common[@]}" download-config --out "$work/north.$side.cfg" 127.77.0.1 >"$work/config.$side.out" 2>&1
  requests_since "$start" >"$work/config.$side"
done
echo "e2e: firmware update: $(grep -c . "$work/firmware.linux") requests, $(grep -c ' 300 ' "$work/firmware.linux" || true) upload"
same "firmware update requests" "$work/firmware.linux" "$work/firmware.windows"
same "configuration download requests" "$work/config.linux" "$work/config.windows"
same "downloaded configuration file" "$work/north.linux.cfg" "$work/north.windows.cfg"
exit "$failed"
