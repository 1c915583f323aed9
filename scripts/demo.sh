#!/usr/bin/env bash
# Builds, starts the demo fleet with talvor-hubsim, refreshes every demo unit
# with talvorctl (as the window would) and stops the fleet again.
set -euo pipefail
cd "$(dirname "$0")/.."
TARGETS="talvor-hubsim talvorctl" bash scripts/build.sh
build=${BUILD_DIR:-build}

work=$(mktemp -d)
"$build/simulator/talvor-hubsim" demo/fleet.json "$work" >"$work/hubsim.log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -rf "$work"' EXIT

for _ in $(seq 100); do
  grep -q '^ready' "$work/hubsim.log" && break
  kill -0 "$sim" 2>/dev/null || { cat "$work/hubsim.log"; exit 1; }
  sleep 0.1
done
grep -q '^ready' "$work/hubsim.log" || { echo "talvor-hubsim did not start"; cat "$work/hubsim.log"; exit 1; }
echo "Demo fleet:"
sed -n 's/^serving /  /p' "$work/hubsim.log"
echo

# The demo's HTTP units are unencrypted and its certificates come from the
# simulator's own authority, so the run accepts insecure connections.
"$build/cli/talvorctl" --password-file demo/password --accept-insecure show --list demo/fleet.txt
