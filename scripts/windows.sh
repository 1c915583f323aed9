#!/usr/bin/env bash
# Windows, as far as a Debian 12 machine can check it: installs the MinGW-w64
# cross compilers, Wine and msitools, builds OpenSSL 3 and Qt's base module
# (from Debian's source packages) and GoogleTest for 64-bit Windows into
# build-win/deps/ (kept between runs), cross-compiles the window, talvorctl.exe,
# talvor-hubsim.exe and the tests into build-win/build/, runs the core's and
# the window's tests under Wine, shows the window under Wine on Xvfb
# (build-win/screenshots/) with its settings in the registry, checks
# talvorctl.exe against the Linux simulator, builds the installer
# build-win/talvor-manager-VERSION-x64.msi and tries it under Wine, and packs
# build-win/talvor-tools-windows-x64.zip.
# One line per stage, logs in build-win/logs/; stops at the first stage that
# fails, with a non-zero exit status.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
win=$root/build-win
deps=$win/deps
logs=$win/logs
bld=$win/build
mkdir -p "$deps" "$logs"

export WINEPREFIX=$win/wineprefix WINEDEBUG=-all
# No Mono or Gecko installer prompts: console programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
triple=x86_64-w64-mingw32
jobs=$(nproc)

# WINDOWS_STAGES="cross-build window-tests ..." runs only those stages (the
# others say "skipped"), to go on after a fix without the slow ones again.
stage() {
  local name=$1
  shift
  if [ -n "${WINDOWS_STAGES:-}" ] && [[ " $WINDOWS_STAGES " != *" $name "* ]]; then
    printf 'windows %-11s skipped\n' "$name"
    return 0
  fi
  local log=$logs/$name.log start=$SECONDS
  if "$@" >"$log" 2>&1; then
    printf 'windows %-11s passed  (%d s)\n' "$name" $((SECONDS - start))
  else
    printf 'windows %-11s FAILED  (%d s), log %s\n' "$name" $((SECONDS - start)) "$log"
    tail -n 25 "$log" | sed 's/^/  | /'
    exit 1
  fi
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

packages() {
  local want=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64 googletest libboost1.81-dev
              libjsmn-dev dpkg-dev zip cmake make perl ninja-build wixl msitools xvfb xauth) missing=()
  for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]} == 0)); then
    echo "all ${#want[@]} packages present"
    return 0
  fi
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# deb-src lines for the archives the machine already uses, from either form
# of apt's configuration.
source_entries() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && uris != "")
          for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++)
            printf "deb-src %s%s %s %s\n", opts, u[i], s[j], comps
        types = uris = comps = opts = ""; nu = ns = 0
      }
      /^[[:space:]]*#/ { next }
      /^[[:space:]]*$/ { flush(); next }
      { key = $1; sub(/:$/, "", key); $1 = ""; sub(/^ /, "") }
      key == "Types" { types = $0 }
      key == "URIs" { uris = $0; nu = split($0, u, " ") }
      key == "Suites" { ns = split($0, s, " ") }
      key == "Components" { comps = $0 }
      key == "Signed-By" { opts = "[signed-by=" $0 "] " }
      END { flush() }' "$f"
  done
}

# The newest source of Debian package $1 that a mirror has, unpacked into
# $2 (emptied first). In a subshell of its own: it cleans up on its exit.
debian_source() (
  local package=$1 dest=$2 tmp
  tmp=$(mktemp -d)
  chmod 755 "$tmp" # apt's download user reads the lists there
  trap 'rm -rf "$tmp"' EXIT
  source_entries >"$tmp/sources.list"
  cat "$tmp/sources.list"
  mkdir -p "$tmp/lists/partial"
  # apt reads these sources for these two calls only: the system's lists and
  # caches stay as they are.
  local apt_opts=(-o Dir::Etc::SourceList="$tmp/sources.list" -o Dir::Etc::SourceParts=/dev/null
                  -o Dir::State::Lists="$tmp/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
  apt-get "${apt_opts[@]}" update || return 1
  rm -rf "$dest" && mkdir -p "$dest"
  # Newest first; a mirror may lack a version's files (security updates),
  # so an older one of the same release will do.
  local v
  for v in $(apt-cache "${apt_opts[@]}" showsrc "$package" | sed -n 's/^Version: //p' | sort -r -V -u); do
    if (cd "$dest" && apt-get "${apt_opts[@]}" source "$package=$v"); then
      echo "$package source $v"
      return 0
    fi
    rm -rf "${dest:?}"/*
  done
  return 1
)

# In a subshell of its own: it changes folder.
openssl() (
  local prefix=$deps/openssl
  if [ -f "$prefix/lib/libssl.a" ]; then
    echo "already built in $prefix"
    return 0
  fi
  local src=$deps/src
  debian_source openssl "$src" || return 1
  local dir
  dir=$(find "$src" -maxdepth 1 -mindepth 1 -type d -name 'openssl-*' | head -1)
  [ -n "$dir" ] || return 1
  cd "$dir"
  nice -n 10 ./Configure mingw64 --cross-compile-prefix=$triple- --prefix="$prefix" --libdir=lib \
    no-shared no-tests no-module || return 1
  nice -n 10 make -j"$jobs" build_libs && make install_dev
)

# Fetches Qt's source and configures it into folder $1.
qt_configure() {
  local build=$1
  local src=$deps/qt-src
  debian_source qt6-base "$src" || return 1
  local dir
  dir=$(find "$src" -maxdepth 1 -mindepth 1 -type d -name 'qt6-base-*' | head -1)
  [ -n "$dir" ] || return 1
  rm -rf "$build" && mkdir -p "$build" && cd "$build" || return 1
  # Debian's tarball leaves out Qt's copy of wintab.h, which MinGW-w64 does
  # not have: no tablet events. Without Direct2D, Qt 6.4 leaves its
  # DirectWrite font database out of Qt6Gui while the windows plugin still
  # uses it, so DirectWrite goes too (GDI fonts, which Wine draws well).
  nice -n 10 "$dir/configure" -prefix "$prefix" -release -shared -xplatform win32-g++ -qt-host-path /usr \
    -nomake tests -nomake examples -no-opengl -no-feature-vulkan -no-dbus -no-icu \
    -qt-zlib -qt-pcre -qt-libpng -qt-freetype -qt-harfbuzz -no-libjpeg \
    -no-feature-tabletevent -no-feature-direct2d -no-feature-directwrite -no-feature-directwrite3 \
    -no-feature-sql -no-feature-network -no-feature-printsupport -no-feature-xml -no-feature-concurrent \
    -- -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake || return 1
}

# Qt's base module from Debian's source package, the version of the host's
# Qt tools (moc, rcc, uic run on the host), as DLLs. Only what the window
# uses: Core, Gui, Widgets, Test and the windows and offscreen platforms.
# In a subshell of its own: it changes folder.
qt() (
  local prefix=$deps/qt
  if [ -f "$prefix/bin/Qt6Widgets.dll" ] && [ -f "$prefix/plugins/platforms/qwindows.dll" ]; then
    echo "already built in $prefix"
    # The installer carries the licence texts of this source.
    compgen -G "$deps/qt-src/qt6-base-*/LICENSES" >/dev/null || debian_source qt6-base "$deps/qt-src"
    return
  fi
  local build=$deps/qt-build
  # A build cut short goes on where it stopped.
  if [ -f "$build/build.ninja" ]; then
    echo "going on with the build in $build"
    cd "$build" || return 1
  else
    qt_configure "$build" || return 1
  fi
  nice -n 10 cmake --build . -j"$jobs" && cmake --install . && rm -rf "$build"
)

googletest() {
  local prefix=$deps/googletest
  if [ -f "$prefix/lib/libgtest.a" ]; then
    echo "already built in $prefix"
    return 0
  fi
  cmake -S /usr/src/googletest -B "$deps/googletest-build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF &&
    nice -n 19 cmake --build "$deps/googletest-build" -j"$jobs" &&
    cmake --install "$deps/googletest-build"
}

# Boost (headers only: Asio and Beast) and jsmn.h from the host, by
# themselves: the rest of /usr/include is glibc's.
headers() {
  mkdir -p "$deps/include"
  ln -sfn /usr/include/boost "$deps/include/boost"
  ln -sfn /usr/include/jsmn.h "$deps/include/jsmn.h"
  ls -l "$deps/include"
}

cross_build() {
  cmake -S "$root" -B "$bld" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DTALVOR_WIN_DEPS="$deps" \
    -DCMAKE_BUILD_TYPE=Release -DTALVOR_WERROR=ON -DTALVOR_BUILD_GUI=ON &&
    nice -n 5 cmake --build "$bld" -j"$jobs"
}

wine_prefix() {
  "$wine" wineboot -i &&
    # A test program that crashes ends there, instead of waiting in Wine's
    # debugger until the test's time is up.
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f &&
    /usr/lib/wine/wineserver64 -w
}

# The tests' units and the end-to-end fleet sit on fixed loopback addresses:
# in a network namespace of their own they meet no other run on the
# machine. Wine's sockets are opened by the wineserver, so it starts in
# there too, once the one of an earlier stage has gone.
in_own_network() {
  /usr/lib/wine/wineserver64 -w
  local how=(-n)
  [ "$(id -u)" -eq 0 ] || how=(-r -n)
  if unshare "${how[@]}" true 2>/dev/null; then
    unshare "${how[@]}" sh -c 'ip link set lo up && exec "$@"' sh "$@"
  else
    echo "no network namespace of its own; this run may collide with others on the machine"
    "$@"
  fi
}

# One at a time: under Wine, units of tests run side by side were seen
# refused their port 80 now and then. The window's tests (ui_*) run on Qt's
# offscreen platform, as on Linux.
wine_tests() {
  in_own_network ctest --test-dir "$bld" --output-on-failure --timeout 300 -E '^ui_'
}
window_tests() {
  in_own_network ctest --test-dir "$bld" --output-on-failure --timeout 300 -R '^ui_'
}

# The Linux programs to compare with, with what the Linux build needs.
linux_build() {
  bash scripts/setup.sh && BUILD_DIR=build TARGETS="talvorctl talvor-hubsim" nice -n 5 bash scripts/build.sh
}

stage packages packages
stage openssl openssl
stage qt qt
stage googletest googletest
stage headers headers
stage wine wine_prefix
stage cross-build cross_build
stage wine-tests wine_tests
sed -n 's/^\(.*tests passed.*\)$/  \1/p' "$logs/wine-tests.log"
stage window-tests window_tests
sed -n 's/^\(.*tests passed.*\)$/  \1/p' "$logs/window-tests.log"
stage linux-build linux_build
stage window in_own_network bash scripts/windows_window.sh "$bld" "$root/build" "$win/screenshots"
sed -n 's/^window: /  /p' "$logs/window.log"
stage end-to-end in_own_network bash scripts/windows_e2e.sh "$bld" "$root/build"
sed -n 's/^e2e: /  /p' "$logs/end-to-end.log"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$bld/CMakeCache.txt")
msi=$win/talvor-manager-$version-x64.msi
stage msi bash scripts/windows_msi.sh "$bld" "$msi"
sed -n 's/^built /  /p' "$logs/msi.log"
stage installer bash scripts/windows_install.sh "$bld" "$msi" "$win/screenshots"
sed -n 's/^install: /  /p' "$logs/installer.log"
stage zip bash scripts/windows_zip.sh "$bld" "$win/talvor-tools-windows-x64.zip"
unzip -l "$win/talvor-tools-windows-x64.zip" | sed 's/^/  /'
