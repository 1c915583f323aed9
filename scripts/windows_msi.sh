#!/usr/bin/env bash
# The Windows installer: talvor-manager.exe with the Qt and MinGW runtime
# DLLs and plugins the build laid beside it, talvorctl.exe, talvor-hubsim.exe
# and the licence texts, under Program Files\Talvor Manager, with a
# Start-menu shortcut and an "Apps & features" entry; a later version
# replaces an earlier one in place. Built with wixl (msitools).
#   scripts/windows_msi.sh WINDOWS_BUILD_DIR MSI_FILE [VERSION]
# VERSION (default: the project's) is for trying an upgrade.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1 msi=$2
deps=$(dirname "$build")/deps
version=${3:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
app=$stage/app
mkdir -p "$app/platforms" "$app/styles" "$app/licences"

strip() { x86_64-w64-mingw32-strip -o "$2" "$1"; }
strip "$build/ui/talvor-manager.exe" "$app/talvor-manager.exe"
for exe in cli/talvorctl.exe simulator/talvor-hubsim.exe; do
  strip "$build/$exe" "$app/$(basename "$exe")"
done
for dll in "$build"/ui/*.dll; do
  strip "$dll" "$app/$(basename "$dll")"
done
strip "$build/ui/platforms/qwindows.dll" "$app/platforms/qwindows.dll"
for dll in "$build"/ui/styles/*.dll; do
  strip "$dll" "$app/styles/$(basename "$dll")"
done

# Every DLL a program or plugin names comes with it or with Windows.
system_dlls='^(kernel32|advapi32|user32|gdi32|gdiplus|comdlg32|ole32|oleaut32|shell32|shlwapi|uxtheme|dwmapi|imm32|winmm|version|netapi32|userenv|ws2_32|mswsock|iphlpapi|crypt32|bcrypt|mpr|authz|setupapi|wtsapi32|msvcrt|d3d11|dxgi|d3d9|d2d1|dwrite|dcomp|shcore|rpcrt4|secur32|ntdll|winspool|wintrust|api-ms-win-.*)\.dll$'
find "$app" -name '*.exe' -o -name '*.dll' | while read -r file; do
  x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p' | while read -r dll; do
    [[ ${dll,,} =~ $system_dlls ]] || [ -f "$app/$dll" ] || {
      echo "${file#"$app"/} needs $dll, which neither the installer nor Windows has"
      exit 1
    }
  done
done

qt_src=$(ls -d "$deps"/qt-src/qt6-base-*/ | head -1)
qt_version=$(ls "$deps"/qt-src/*.dsc | sed -n 's/.*qt6-base_\(.*\)\.dsc$/\1/p' | head -1)
cp "$qt_src/LICENSES/LGPL-3.0-only.txt" "$app/licences/Qt-LGPL-3.0.txt"
cp "$qt_src/LICENSES/GPL-3.0-only.txt" "$app/licences/Qt-GPL-3.0.txt"
cp "$qt_src/debian/copyright" "$app/licences/Qt-copyright.txt"
cat >"$app/licences/Qt-source.txt" <<TEXT
Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll and the plugins in platforms\\ and
styles\\ are Qt 6 (qtbase), used under the GNU Lesser General Public
License version 3 (Qt-LGPL-3.0.txt, which builds on Qt-GPL-3.0.txt). Their
copyright notices, those of the libraries Qt carries within (zlib, PCRE2,
libpng, FreeType, HarfBuzz) among them, are in Qt-copyright.txt.

They were built unchanged from Debian's source package qt6-base, version
$qt_version, which Debian's archive keeps (apt-get source qt6-base=$qt_version),
as "scripts/windows.sh" in Talvor Manager's source does. You may replace
these DLLs with your own build of the same Qt version.
TEXT
cp "$(ls -d "$deps"/src/openssl-*/ | head -1)LICENSE.txt" "$app/licences/OpenSSL.txt"
cp /usr/share/doc/libboost1.81-dev/copyright "$app/licences/Boost.txt"
cp resources/jsmn_licence.txt "$app/licences/jsmn.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$app/licences/GCC-runtime.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$app/licences/MinGW-w64-runtime.txt"
sed -i 's/$/\r/' "$app"/licences/*.txt

# One component per file (wixl-heat), and the product around them.
(cd "$stage" && find app -type f | sort |
  wixl-heat --prefix app/ --directory-ref INSTALLDIR --component-group Payload --var var.SourceDir --win64) \
  >"$stage/payload.wxs"
cp resources/icon.ico "$stage/icon.ico"
cat >"$stage/product.wxs" <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <!-- UpgradeCode stays the same for every version: it ties them together. -->
  <Product Id="*" Name="Talvor Manager" Language="1033" Version="$(var.Version)" Manufacturer="Quillon"
           UpgradeCode="6C1F3A52-8B0E-4D7A-9E61-2F4B7C9D0A13">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="Talvor Manager $(var.Version)" Manufacturer="Quillon"/>
    <Media Id="1" Cabinet="payload.cab" EmbedCab="yes"/>
    <MajorUpgrade DowngradeErrorMessage="A newer version of Talvor Manager is already installed."/>
    <Icon Id="TalvorIcon" SourceFile="icon.ico"/>
    <Property Id="ARPPRODUCTICON" Value="TalvorIcon"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="Talvor Manager"/>
      </Directory>
      <Directory Id="ProgramMenuFolder"/>
    </Directory>
    <DirectoryRef Id="ProgramMenuFolder">
      <Component Id="StartMenuShortcut" Guid="3E8D2C41-7A5B-4F09-B6D3-1C2E4F5A6B70" Win64="yes">
        <Shortcut Id="TalvorManagerShortcut" Name="Talvor Manager" Description="Meter Management Tool"
                  Target="[INSTALLDIR]talvor-manager.exe" WorkingDirectory="INSTALLDIR" Icon="TalvorIcon"/>
        <RegistryValue Root="HKLM" Key="Software\Quillon\Talvor Manager\Installer" Name="StartMenuShortcut"
                       Type="integer" Value="1" KeyPath="yes"/>
      </Component>
    </DirectoryRef>
    <Feature Id="Complete" Level="1">
      <ComponentGroupRef Id="Payload"/>
      <ComponentRef Id="StartMenuShortcut"/>
    </Feature>
  </Product>
</Wix>
WXS
rm -f "$msi"
(cd "$stage" && wixl -a x64 -D SourceDir=app -D Win64=yes -D Version="$version" -o "$msi" product.wxs payload.wxs)
echo "built $msi: $(find "$app" -type f | wc -l) files, version $version"
