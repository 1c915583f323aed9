#!/usr/bin/env bash
# Builds and starts the demo fleet with talvor-hubsim. With a display, opens
# talvor-manager on the fleet's address list and stops the fleet when the
# window closes. Without one, takes a screenshot of the window on the fleet
# under Xvfb, says where it is, and refreshes every demo unit with talvorctl.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
gui=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${CI:-}" ]; then gui=1; fi

if ((gui)); then
  TARGETS="talvor-hubsim talvor-manager" bash scripts/build.sh
else
  TARGETS="talvor-hubsim talvorctl talvor-screenshots" bash scripts/build.sh
fi

work=$(mktemp -d)
"$build/simulator/talvor-hubsim" demo/fleet.json "$work/sim" >"$work/hubsim.log" 2>&1 &
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

if ((gui)); then
  echo "Opening talvor-manager; the demo password is $(cat demo/password)."
  echo "The HTTP units are unencrypted: answer the security prompt with \"Do not ask again\" and Yes."
  "$build/ui/talvor-manager" --list demo/fleet.txt
  exit 0
fi

# No display: the window under Xvfb, with its own settings store.
shots=$(mktemp -d /tmp/talvor-demo.XXXXXX)
if XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb timeout 120 \
  xvfb-run -a -s "-screen 0 1600x1200x24" \
  "$build/ui/talvor-screenshots" --out "$shots" --password-file demo/password --list demo/fleet.txt \
  >"$work/shots.log" 2>"$work/shots.err"; then
  echo "Screenshot of the main window on the demo fleet: $shots/main_window.png"
else
  echo "No screenshot: the window did not run under Xvfb"; cat "$work/shots.err"
fi
echo

# The demo's HTTP units are unencrypted and its certificates come from the
# simulator's own authority, so the run accepts insecure connections.
"$build/cli/talvorctl" --password-file demo/password --accept-insecure show --list demo/fleet.txt
