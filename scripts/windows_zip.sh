#!/usr/bin/env bash
# Packs the Windows command-line tools: talvorctl.exe and talvor-hubsim.exe
# (linked statically, so no DLLs but the system's own), the licence texts
# of what they carry, and a short README.
#   scripts/windows_zip.sh WINDOWS_BUILD_DIR ZIP_FILE
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1 zip_file=$2
deps=$(dirname "$build")/deps
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir=$stage/talvor-tools
mkdir -p "$dir/licences"

for exe in cli/talvorctl.exe simulator/talvor-hubsim.exe; do
  x86_64-w64-mingw32-strip -o "$dir/$(basename "$exe")" "$build/$exe"
done
# Every DLL the programs name must come with Windows itself.
system_dlls='^(kernel32|advapi32|user32|ws2_32|mswsock|iphlpapi|crypt32|bcrypt|shell32|msvcrt|ucrtbase|api-ms-win-.*)\.dll$'
for exe in "$dir"/*.exe; do
  x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | while read -r dll; do
    [[ $dll =~ $system_dlls ]] || { echo "$(basename "$exe") needs $dll, which Windows does not have"; exit 1; }
  done
done

cp "$(ls -d "$deps"/src/openssl-*/ | head -1)LICENSE.txt" "$dir/licences/OpenSSL.txt"
cp /usr/share/doc/libboost1.81-dev/copyright "$dir/licences/Boost.txt"
cp resources/jsmn_licence.txt "$dir/licences/jsmn.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$dir/licences/GCC-runtime.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$dir/licences/MinGW-w64-runtime.txt"
cat >"$dir/README.txt" <<'TEXT'
Talvor Manager command-line tools for 64-bit Windows

talvorctl.exe      finds hub units by address, address list or discovery,
                   shows their details and runs batch commands over them
                   (firmware, configuration, CT type tables, customization,
                   certificates, restart, SD-card erase): talvorctl --help
talvor-hubsim.exe  a fleet of simulated hub units for trials:
                   talvor-hubsim FLEET.json [WORK_DIR], stopped with Ctrl-C

Both run from a console (cmd or PowerShell) and need nothing installed:
they are linked statically. talvorctl reads the window's settings from
HKEY_CURRENT_USER\Software\Quillon\Talvor Manager\Settings (Discover,
TLSChecks), trusts the certificates in
%LOCALAPPDATA%\Quillon\Talvor Manager\trusted-units and adds each batch to
%LOCALAPPDATA%\Quillon\Talvor Manager\batch-log.

The licences of the libraries they carry (OpenSSL, Boost, jsmn, the GCC
and MinGW-w64 runtimes) are in licences\.
TEXT
sed -i 's/$/\r/' "$dir/README.txt"
rm -f "$zip_file"
(cd "$stage" && zip -q -r -X "$zip_file" talvor-tools)
echo "packed $zip_file"
