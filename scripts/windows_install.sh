#!/usr/bin/env bash
# The installer under Wine: an earlier version installs, the current one
# replaces it in place, the installed talvor-manager.exe starts (a picture
# of the screen in SHOT_DIR/installed.png), and uninstalling removes every
# file, the shortcut and the "Apps & features" entry.
#   scripts/windows_install.sh WINDOWS_BUILD_DIR MSI_FILE SHOT_DIR
# Prints its findings on lines starting "install: "; non-zero when one fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1 msi=$2 shots=$3
wine=/usr/lib/wine/wine64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir="$WINEPREFIX/drive_c/Program Files/Talvor Manager"
# The all-users Start menu on Windows; Wine's msiexec puts a per-machine
# package's shortcut into the user's Start menu: either one counts.
start_menus=("$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
             "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs")
shortcut_found() {
  local m
  for m in "${start_menus[@]}"; do
    [ -f "$m/Talvor Manager.lnk" ] && { echo "$m/Talvor Manager.lnk"; return 0; }
  done
  return 1
}
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

fail() {
  echo "install: $*"
  exit 1
}
# The "Apps & features" entries named Talvor Manager: "VERSION PUBLISHER" each.
entries() {
  "$wine" reg query "$uninstall" /s | tr -d '\r' | awk '
    /^HKEY/ { if (name == "Talvor Manager") print version, publisher; name = version = publisher = "" }
    $1 == "DisplayName" { $1 = $2 = ""; sub(/^ +/, ""); name = $0 }
    $1 == "DisplayVersion" { version = $3 }
    $1 == "Publisher" { $1 = $2 = ""; sub(/^ +/, ""); publisher = $0 }
    END { if (name == "Talvor Manager") print version, publisher }'
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

# What a run cut short left installed goes first (each build has a product
# code of its own, so the one to remove is read from its entry).
for code in $("$wine" reg query "$uninstall" | tr -d '\r' | grep -o '{[0-9A-F-]*}'); do
  if "$wine" reg query "$uninstall\\$code" /v DisplayName 2>/dev/null | grep -q "Talvor Manager"; then
    "$wine" msiexec /x "$code" /qn || fail "msiexec /x $code (left from an earlier run) failed"
  fi
done
bash scripts/windows_msi.sh "$build" "$work/earlier.msi" 0.0.1 >/dev/null
"$wine" msiexec /i "$work/earlier.msi" /qn || fail "msiexec /i of version 0.0.1 failed"
[ "$(entries)" = "0.0.1 Quillon" ] || fail "after installing 0.0.1 the entries are: $(entries)"
"$wine" msiexec /i "$msi" /qn || fail "msiexec /i $(basename "$msi") failed"
echo "install: msiexec /i $(basename "$msi") /qn over 0.0.1: $(find "$dir" -type f | wc -l) files in C:\\Program Files\\Talvor Manager"
[ "$(entries)" = "$version Quillon" ] || fail "after the upgrade the entries are: $(entries | tr '\n' ';')"
echo "install: Apps & features: one entry, Talvor Manager $(entries)"
shortcut=$(shortcut_found) || fail "no Start-menu shortcut"
echo "install: Start menu: ${shortcut#"$WINEPREFIX/drive_c/"}"
(cd "$dir" && find . -type f | sort) >"$work/installed"

# The installed window, started as the shortcut would, on a screen of its own.
/usr/lib/wine/wineserver64 -w
mkdir -p "$work/fb" "$shots"
Xvfb -displayfd 3 -screen 0 1280x800x24 -fbdir "$work/fb" -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
(cd "$dir" && DISPLAY=:$(head -1 "$work/display") exec "$wine" ./talvor-manager.exe) >"$work/window.log" 2>&1 &
window=$!
started=0
python3 scripts/xvfb_png.py "$work/fb/Xvfb_screen0" "$shots/installed.png" 90 >/dev/null && kill -0 "$window" 2>/dev/null &&
  started=1
/usr/lib/wine/wineserver64 -k || true
wait "$window" 2>/dev/null || true
kill "$xvfb" && wait "$xvfb" 2>/dev/null || true
[ "$started" = 1 ] || fail "the installed talvor-manager.exe did not show a window: $(tail -3 "$work/window.log")"
echo "install: the installed talvor-manager.exe started: $shots/installed.png"

"$wine" msiexec /x "$msi" /qn || fail "msiexec /x failed"
left=$(cd "$dir" 2>/dev/null && find . -type f | sort | comm -12 - "$work/installed" | wc -l || echo 0)
[ "$left" = 0 ] || fail "$left installed files left after uninstalling"
[ ! -e "$dir" ] || fail "C:\\Program Files\\Talvor Manager is still there"
! shortcut_found >/dev/null || fail "the Start-menu shortcut is still there"
[ -z "$(entries)" ] || fail "the Apps & features entry is still there"
echo "install: msiexec /x /qn: all $(wc -l <"$work/installed") files, the folder, the shortcut and the entry removed"
