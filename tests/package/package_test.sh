#!/usr/bin/env bash
# Builds the Debian package from the build folder $1 into a scratch folder
# and checks what dpkg-deb, lintian and the freedesktop.org validators say
# about it.
set -euo pipefail
build=$1
out=$(mktemp -d /tmp/talvor-package.XXXXXX)
trap 'rm -rf "$out"' EXIT

if ! cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  exit 1
fi
debs=("$out"/talvor-manager_*.deb)
[ -f "${debs[0]}" ] || { echo "no talvor-manager_*.deb made"; cat "$out/cpack.log"; exit 1; }
deb=${debs[0]}
info=$(dpkg-deb --info "$deb")
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')

failed=0
expect() { # what, haystack, needle
  if ! grep -qE -- "$3" <<<"$2"; then
    echo "missing $1: $3"
    failed=1
  fi
}
for f in usr/bin/talvor-manager usr/bin/talvorctl usr/bin/talvor-hubsim \
  usr/share/applications/talvor-manager.desktop usr/share/icons/hicolor/64x64/apps/talvor-manager.png \
  usr/share/metainfo/com.quillon.TalvorManager.metainfo.xml usr/share/bash-completion/completions/talvorctl \
  usr/share/man/man1/{talvor-manager,talvorctl,talvor-hubsim}.1.gz \
  usr/share/doc/talvor-manager/{copyright,changelog.gz}; do
  expect "file" "$contents" "^\./$f\$"
done
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
expect "Package line" "$info" "^ Package: talvor-manager\$"
for d in 'libc6 ' 'libstdc\+\+6 ' 'libssl3 ' 'libqt6core6' 'libqt6widgets6' 'qt6-qpa-plugins'; do
  expect "dependency" "$depends" "(^|, )$d"
done

# The menu entry starts the installed program and names the installed icon.
mkdir "$out/root"
dpkg-deb --extract "$deb" "$out/root"
entry=$(cat "$out/root/usr/share/applications/talvor-manager.desktop")
expect "desktop key" "$entry" '^Exec=talvor-manager$'
expect "desktop key" "$entry" '^Icon=talvor-manager$'
version=$(dpkg-deb --field "$deb" Version)
expect "newest release" "$(cat "$out/root/usr/share/metainfo/com.quillon.TalvorManager.metainfo.xml")" \
  "<release version=\"$version\""
expect "talvorctl --version" "$("$out/root/usr/bin/talvorctl" --version)" "^talvorctl $version\$"

# Debian's and freedesktop.org's own checks, where they are installed.
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$out/root/usr/share/applications/talvor-manager.desktop" || failed=1
fi
if command -v appstreamcli >/dev/null; then
  report=$(appstreamcli validate --no-net "$out/root/usr/share/metainfo/com.quillon.TalvorManager.metainfo.xml" 2>&1) ||
    { echo "$report"; failed=1; }
fi
if command -v lintian >/dev/null; then
  findings=$(lintian --info "$deb" 2>&1 || true)
  if grep -qE '^[EW]: ' <<<"$findings"; then
    echo "--- lintian"; echo "$findings"
    failed=1
  fi
fi

if ((failed)); then
  echo "--- dpkg-deb --info"; echo "$info"
  echo "--- dpkg-deb --contents"; echo "$contents"
  exit 1
fi
echo "ok: $(basename "$deb"), Depends: $depends"
