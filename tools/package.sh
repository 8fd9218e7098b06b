#!/usr/bin/env bash
# Builds the Debian package build/package/velmora_<version>_amd64.deb (Release,
# no tests, Debian's hardening flags) with CPack, and checks it: lintian with
# no errors, desktop-file-validate and appstreamcli validate on the files as
# packaged. Then the Windows package
# build/package/velmora-batch-<version>-windows-x64.zip: the window velmora.exe
# and velmora-batch.exe (MinGW-w64, static), the example table and the
# readmes, with CR LF.
set -euo pipefail
cd "$(dirname "$0")/.."
# g++, cmake, Qt, the packaging tools, MinGW-w64 and zip.
tools/setup.sh package

out=build/package
build=$out/build
rm -rf "$out/_CPack_Packages" "$out"/velmora_*.deb "$out"/velmora-batch-*-windows-x64.zip

# Debian's own flags (stack protector, fortify, relro, bind now); the project's
# -ffp-contract=off and the Release optimisation come on top.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB -B "$PWD/../")

deb=$(ls "$out"/velmora_*_amd64.deb)
echo "== $deb"
dpkg-deb --field "$deb"

echo "== lintian"
lintian --fail-on error --display-info "$deb"

echo "== desktop-file-validate, appstreamcli validate"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml
echo "package: $deb checked"

echo "== Windows"
win_build=$out/windows
cmake -S . -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DVELMORA_BUILD_UI=OFF -DVELMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$win_build" -j"$(nproc)" --target velmora-batch velmora
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win_build/CMakeCache.txt")
name=velmora-batch-$version-windows-x64
# Only Windows' own DLLs: anything else (the C++ or thread runtime) means the
# static link failed, and the .exe would not start on a user's machine.
for exe in velmora-batch.exe velmora.exe; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$win_build/bin/$exe" | sed -n 's/.*DLL Name: //p' | sort | tr '\n' ' ')
  for dll in $dlls; do
    case ${dll,,} in
      kernel32.dll | msvcrt.dll | ole32.dll | shell32.dll | bcrypt.dll | advapi32.dll) ;;
      user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | imm32.dll) ;;
      *) echo "package: $exe needs $dll, which Windows does not bring" >&2; exit 1 ;;
    esac
  done
  echo "$exe needs: $dlls"
done
stage=$(mktemp -d)
trap 'rm -rf "$unpacked" "$stage"' EXIT
mkdir "$stage/$name"
x86_64-w64-mingw32-strip -o "$stage/$name/velmora-batch.exe" "$win_build/bin/velmora-batch.exe"
x86_64-w64-mingw32-strip -o "$stage/$name/velmora.exe" "$win_build/bin/velmora.exe"
# Text files as Windows users' editors expect them: CR LF; the readmes in
# UTF-8 with a byte order mark, which Notepad reads whatever the code page.
crlf() { sed 's/\r*$/\r/' "$1"; }
crlf data/EGapDis.txt >"$stage/$name/EGapDis.txt"
crlf LICENSE >"$stage/$name/LICENSE.txt"
for readme in README-ja.txt README-en.txt; do
  { printf '\xef\xbb\xbf'; crlf "packaging/windows/$readme" | sed "s/@VERSION@/$version/"; } >"$stage/$name/$readme"
done
# The files dated by the last commit: the same checkout gives the same zip.
stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)
find "$stage/$name" -exec touch -d "@$stamp" {} +
zip=$PWD/$out/$name.zip
(cd "$stage" && TZ=UTC zip -X -q -r "$zip" "$name")
unzip -l "$zip"
echo "package: $zip"
