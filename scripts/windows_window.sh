#!/usr/bin/env bash
# The window under Wine, on an Xvfb display with Qt's windows platform
# plugin, against the Linux talvor-hubsim serving the demo fleet:
# talvor-screenshots.exe saves the main window, the dialogs and a firmware
# update's windows into SHOT_DIR, then presses OK in the settings dialog
# (discovery on, TLS checks None). Those settings must be in the registry as
# REG_DWORD values, and talvorctl.exe must go by them: a unit whose
# certificate nobody trusts connects without a question at the saved level,
# and not at Standard until trust-cert put its certificate into the user's
# "Root" store.
#   scripts/windows_window.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR SHOT_DIR
# Prints its findings on lines starting "window: "; non-zero when one fails.
set -euo pipefail
cd "$(dirname "$0")/.."
win_build=$1 linux_build=$2 shots=$3
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

key='HKCU\Software\Quillon\Talvor Manager\Settings'
"$wine" reg delete "$key" /f >/dev/null 2>&1 || true # from the defaults
rm -rf "$shots" && mkdir -p "$shots"
# Wine's own processes must start on this display, not linger from a run
# without one.
/usr/lib/wine/wineserver64 -w
QT_QPA_PLATFORM=windows timeout 300 xvfb-run -a -s "-screen 0 1600x1200x24" \
  "$wine" "$win_build/ui/talvor-screenshots.exe" --out "$shots" --password-file demo/password \
  --list demo/fleet.txt --accept-settings 0
/usr/lib/wine/wineserver64 -w
echo "window: $(ls "$shots" | grep -c '\.png$') screenshots in $shots: $(cd "$shots" && ls | tr '\n' ' ')"

"$wine" reg query "$key" | tr -d '\r' >"$work/settings"
sed -n 's/^ *\(Discover\|TLSChecks\) /window: registry: \1 /p' "$work/settings"
grep -Eq '^ *Discover +REG_DWORD +0x1$' "$work/settings" && grep -Eq '^ *TLSChecks +REG_DWORD +0x0$' "$work/settings" ||
  { echo "window: the settings are not the registry values expected"; cat "$work/settings"; exit 1; }

ctl() { "$wine" "$win_build/cli/talvorctl.exe" --password-file demo/password "$@" >"$work/ctl.out" 2>&1; }
unit=127.77.0.2 # its certificate is signed by the simulator's own authority
ctl show "$unit" || { echo "window: talvorctl.exe at the saved level None: failed"; cat "$work/ctl.out"; exit 1; }
echo "window: talvorctl.exe show $unit at the saved level (None): connected"
if ctl --tls-checks standard show "$unit"; then
  echo "window: talvorctl.exe at Standard connected before the certificate was trusted"
  exit 1
fi
echo "window: talvorctl.exe at Standard: refused, $(grep -m1 -o 'Certificate is untrusted' "$work/ctl.out" || head -1 "$work/ctl.out")"
ctl --yes trust-cert "$unit" || { echo "window: trust-cert failed"; cat "$work/ctl.out"; exit 1; }
ctl --tls-checks standard show "$unit" || { echo "window: after trust-cert, Standard still refused"; cat "$work/ctl.out"; exit 1; }
echo "window: after trust-cert (the user's Root store), talvorctl.exe at Standard: connected"
