#!/usr/bin/env bash
# PNG pictures of the main window on the demo fleet, the prompts, the
# settings dialog, the About box's licences, the category choice, a
# configuration download, an upload's confirmation, a firmware update of
# the demo hubs (word confirmation, progress and verification windows
# running and at their end) and the batch history, taken under Xvfb on a
# laptop's 1366x768 screen at scale 1 and on a 1920x1080 screen at scale
# 1.5. Prints the folder they are in (the first argument, or a new
# temporary folder).
set -euo pipefail
cd "$(dirname "$0")/.."
TARGETS="talvor-hubsim talvor-screenshots" bash scripts/build.sh >/dev/null
build=${BUILD_DIR:-build}
out=${1:-$(mktemp -d /tmp/talvor-screenshots.XXXXXX)}
mkdir -p "$out"

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

# A settings store and a batch log of their own, so the user's are neither
# read nor changed; once at the usual scale and once at 1.5.
for run in "1 1366x768" "1.5 1920x1080"; do
  read -r scale screen <<<"$run"
  dir=$out
  [ "$scale" = 1 ] || dir=$out/scale-$scale
  XDG_CONFIG_HOME="$work/config-$scale" XDG_STATE_HOME="$work/state-$scale" QT_QPA_PLATFORM=xcb \
    QT_SCALE_FACTOR=$scale timeout 180 xvfb-run -a -s "-screen 0 ${screen}x24" \
    "$build/ui/talvor-screenshots" --out "$dir" --password-file demo/password --list demo/fleet.txt >"$work/shots.log"
  cat "$work/shots.log" >&2
done
echo "Screenshots in $out"
