#!/usr/bin/env bash
# Installs, with apt-get, only the packages this project needs that are missing:
# those of the build and the test suite, and those named as arguments
# (scripts/check.sh and scripts/fuzz.sh ask for clang and the linters so: CI
# and the two commands need none of them). --checks stands for clang and its
# sanitizer runtimes. Safe to run again: with everything present it changes
# nothing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev libboost1.81-dev libssl-dev libjsmn-dev libgtest-dev
  xvfb xauth fonts-dejavu-core iproute2 openssl curl ccache
  dpkg-dev file  # the Debian package: cpack finds its library dependencies with these
  lintian desktop-file-utils appstream  # the package test runs Debian's and freedesktop.org's checks
  ansible-core openssh-server  # the collection's run across sites over SSH
)
extra=()
for a in "$@"; do
  # --checks: clang and libFuzzer with its sanitizers, for fuzz.sh and check.sh
  if [ "$a" = "--checks" ]; then extra+=(clang libclang-rt-14-dev); else extra+=("$a"); fi
done
packages+=("${extra[@]}")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
