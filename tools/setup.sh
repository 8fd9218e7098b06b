#!/usr/bin/env bash
# Installs the Debian packages that one use of Velmora needs, only those that
# are missing, so a second run costs nothing.
#
#   tools/setup.sh [PROFILE ...]          (default: test)
#
#   window  build and start the window                (tools/run.sh)
#   test    window, windows, python, and what the tests use (tools/test.sh, tools/screenshot.sh)
#   fuzz    clang and its libFuzzer runtime           (tools/fuzz.sh)
#   bench   the benchmark library and GNU time        (README, tools/bench_batch.sh)
#   windows the Windows cross build and Wine          (tools/windows.sh)
#   package window, windows, python, and the Debian packaging tools (tools/package.sh)
#   all     every one of them
#
# As root it installs; as a user with sudo it asks sudo; otherwise it names the
# command an administrator must run and exits 1. The package manager's output
# goes to build/setup.log; the terminal shows one line per step.
set -euo pipefail
cd "$(dirname "$0")/.."

# One list per use: add a package to the list of the use that needs it. Name
# no release's version: each name must hold on every Debian release.
# The engine's JSON (header-only) and SHA-256 (OpenSSL's libcrypto).
base_packages=(g++ cmake make nlohmann-json3-dev libssl-dev)
# velmora-batch --map writes GeoPackage and FlatGeobuf through GDAL.
base_packages+=(libgdal-dev)
window_packages=(
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # The table and histogram views; Qt Charts' CMake files need Qt OpenGL's,
  # which its package does not pull in.
  qt6-charts-dev libqt6opengl6-dev
  qt6-translations-l10n  # Qt's own texts (file dialogs, context menus) in Japanese
  fonts-noto-cjk
)
# GCC's AddressSanitizer and UndefinedBehaviorSanitizer runtimes come with g++.
test_packages=(
  libgtest-dev libgmock-dev
  xvfb xdotool imagemagick x11-utils  # the window under a virtual X server
  time                                # peak memory (GNU time)
  gdal-bin                            # ogrinfo on the map files
)
# libclang-rt-dev follows the release's default clang, whatever its version.
fuzz_packages=(clang libclang-rt-dev)
bench_packages=(libbenchmark-dev time)
# MinGW-w64 with the posix thread model (std::thread), Wine to run what it
# builds (wine gives the `wine` command, wine64 the 64-bit loader),
# GoogleTest's sources to build for Windows, the header-only JSON library the
# tool uses, and zip for the Windows package; a virtual X server and a
# Japanese face for velmora.exe's window under Wine.
windows_packages=(
  g++-mingw-w64-x86-64-posix wine wine64 libgtest-dev nlohmann-json3-dev zip
  xvfb x11-utils fonts-noto-cjk
)
# The Python module (pybind11, for Debian's python3) and its tests; numpy and
# pandas are what the module works with.
python_packages=(pybind11-dev python3-dev python3-pytest python3-numpy python3-pandas)
# dpkg-shlibdeps and dpkg-buildflags, CPack's shlibdeps, and the package checks.
package_packages=(dpkg-dev file lintian desktop-file-utils appstream)

# The lists each profile installs.
profile_lists() {
  case $1 in
    window) echo base window ;;
    test) echo base window test windows python ;;
    fuzz) echo base fuzz ;;
    bench) echo base bench ;;
    windows) echo base windows ;;
    package) echo base window package windows python ;;
    all) echo base window test fuzz bench package windows python ;;
    *) return 1 ;;
  esac
}

profiles=("$@")
[ "${#profiles[@]}" -gt 0 ] || profiles=(test)
wanted=()
for profile in "${profiles[@]}"; do
  lists=$(profile_lists "$profile") || {
    echo "setup: unknown profile '$profile' (window, test, fuzz, bench, windows, package or all)" >&2
    exit 2
  }
  for list in $lists; do
    declare -n packages="${list}_packages"
    wanted+=("${packages[@]}")
    unset -n packages
  done
done

missing=()
for p in "${wanted[@]}"; do
  [[ " ${missing[*]} " == *" $p "* ]] && continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "setup: the packages for ${profiles[*]} are installed"
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  why=""
  if ! command -v sudo >/dev/null 2>&1; then
    why="this user is not root and there is no sudo"
  elif sudo -n true 2>/dev/null; then
    as_root=(sudo -n)
  elif [ ! -t 0 ]; then
    why="this user is not root and sudo asks for a password, which cannot be typed here"
  elif sudo -v; then  # asks for the password once, on the terminal
    as_root=(sudo -n)
  else
    why="sudo refused this user"
  fi
  if [ -n "$why" ]; then
    {
      echo "setup: installing the missing Debian packages needs root, but $why. An administrator must run:"
      echo "    apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
    } >&2
    exit 1
  fi
fi

log=$PWD/build/setup.log
if ! { mkdir -p build && : >"$log"; } 2>/dev/null; then
  log=$(mktemp "${TMPDIR:-/tmp}/velmora-setup.XXXXXX.log")
fi

# Runs one step as root, its output into the log; one line on the terminal.
step() {
  local what=$1
  shift
  printf 'setup: %s ... ' "$what"
  echo "\$ $*" >>"$log"
  if "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive "$@" >>"$log" 2>&1; then
    echo done
  else
    echo failed
    echo "setup: the package manager's output is in $log; its last lines:" >&2
    tail -n 5 "$log" | sed 's/^/    /' >&2
    exit 1
  fi
}

# Another package manager at work (an automatic update) is waited for.
wait_for_lock=(-o DPkg::Lock::Timeout=300)
step "updating the package lists" apt-get "${wait_for_lock[@]}" update
step "installing ${missing[*]}" \
  apt-get "${wait_for_lock[@]}" install -y --no-install-recommends "${missing[@]}"
