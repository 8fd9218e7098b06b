#!/usr/bin/env bash
# Builds the Debian package build/package/velmora_<version>_amd64.deb (Release,
# no tests, Debian's hardening flags) with CPack, and checks it: lintian with
# no errors, desktop-file-validate and appstreamcli validate on the files as
# packaged.
set -euo pipefail
cd "$(dirname "$0")/.."
# g++, cmake, Qt and the packaging tools.
tools/setup.sh package

out=build/package
build=$out/build
rm -rf "$out/_CPack_Packages" "$out"/velmora_*.deb

# Debian's own flags (stack protector, fortify, relro, bind now); the project's
# -ffp-contract=off and the Release optimisation come on top.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
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
