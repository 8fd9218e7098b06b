#!/usr/bin/env bash
# install_test.sh CMAKE BUILD_DIR SOURCE_DIR VERSION WITH_WINDOW(ON|OFF) [PYTHON_DIR PYTHON]
# Installs the build into a temporary root (DESTDIR, prefix /usr) and checks
# what a user gets; with PYTHON_DIR (the module's folder below the prefix),
# also the Python module velmora as PYTHON imports it.
set -euo pipefail
cmake=$1 build=$2 source=$3 version=$4 window=$5 python_dir=${6:-} python=${7:-}

root=$(cd "$(mktemp -d)" && pwd -P)
trap 'rm -rf "$root"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

DESTDIR="$root/dest" "$cmake" --install "$build" --prefix /usr >/dev/null
usr=$root/dest/usr

# Every file in its place, and nothing else.
expected=(
  bin/velmora-batch
  share/doc/velmora/changelog.gz
  share/doc/velmora/copyright
  share/man/ja/man1/velmora-batch.1.gz
  share/man/man1/velmora-batch.1.gz
  share/velmora/EGapDis.txt
)
if [ "$window" = ON ]; then
  expected+=(
    bin/velmora
    share/applications/org.velmora.Velmora.desktop
    share/icons/hicolor/16x16/apps/velmora.png
    share/icons/hicolor/32x32/apps/velmora.png
    share/icons/hicolor/48x48/apps/velmora.png
    share/icons/hicolor/scalable/apps/velmora.svg
    share/man/ja/man1/velmora.1.gz
    share/man/man1/velmora.1.gz
    share/metainfo/org.velmora.Velmora.metainfo.xml
  )
fi
if [ -n "$python_dir" ]; then
  suffix=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
  expected+=("$python_dir/velmora/__init__.py" "$python_dir/velmora/_engine$suffix")
fi
want=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
have=$(cd "$usr" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$want" = "$have" ] || fail "installed files differ:
$(diff <(echo "$want") <(echo "$have") || true)"
[ -z "$(find "$root/dest" -mindepth 1 -maxdepth 1 ! -name usr)" ] || fail "files outside the prefix"

cmp -s "$usr/share/velmora/EGapDis.txt" "$source/data/EGapDis.txt" || fail "shared table is not data/EGapDis.txt"
grep -q "<release version=\"$version\"" "$usr/share/metainfo/org.velmora.Velmora.metainfo.xml" 2>/dev/null ||
  [ "$window" = OFF ] || fail "metainfo has no release $version"

# The versions.
out=$("$usr/bin/velmora-batch" --version) || fail "velmora-batch --version failed"
[ "$out" = "velmora-batch $version" ] || fail "velmora-batch --version printed '$out'"
if [ "$window" = ON ]; then
  # No display at all: the answer must come before the window system.
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/velmora" --version) ||
    fail "velmora --version failed"
  [ "$out" = "velmora $version" ] || fail "velmora --version printed '$out'"
fi

# The manual pages: compressed as Debian wants (no name, no time stamp), with
# the version, and velmora-batch's pages name exactly the options of --help.
help_options=$("$usr/bin/velmora-batch" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
for page in "$usr"/share/man/man1/*.1.gz "$usr"/share/man/ja/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  gzip -t "$page" || fail "$page is not gzip"
  [ "$(od -An -tu1 -j3 -N5 "$page" | tr -s ' ')" = " 0 0 0 0 0" ] || fail "$page keeps a name or time stamp"
  text=$(gzip -dc "$page")
  grep -q "^\.TH ${name^^} 1 .*\"Velmora $version\"" <<<"$text" || fail "$page lacks the version"
  options=$(sed 's/\\-/-/g' <<<"$text" | grep -o -- '--[a-z][a-z-]*' | sort -u)
  if [ "$name" = velmora-batch ]; then
    [ "$options" = "$help_options" ] || fail "$page options differ from --help:
$(diff <(echo "$help_options") <(echo "$options") || true)"
  else
    [ "$options" = "--version" ] || fail "$page options: $options"
  fi
done

# The desktop entry starts the installed program with an installed icon.
if [ "$window" = ON ]; then
  desktop=$usr/share/applications/org.velmora.Velmora.desktop
  grep -qx 'Exec=velmora' "$desktop" || fail "desktop entry does not run velmora"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -f "$usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "no icon named '$icon'"
  for tool in desktop-file-validate appstreamcli; do
    command -v $tool >/dev/null || echo "note: $tool not installed, not run"
  done
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
  fi
  if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$usr/share/metainfo/org.velmora.Velmora.metainfo.xml" >/dev/null ||
      fail "appstreamcli validate"
  fi
fi

# The installed velmora-batch, with no table beside it and none of the user's,
# run from another folder, uses ../share/velmora.
mkdir -p "$root/home" "$root/work"
cd "$root/work"
run() { env -u XDG_CONFIG_HOME HOME="$root/home" "$usr/bin/velmora-batch" "$@"; }
completed=$'一括計算の結果を出力ファイルに書き込みました'
err=$(run "$source/tests/cli/data/households.csv" result.csv 2>&1) || fail "run with the shared table: $err"
[ "$err" = "$completed" ] || fail "run with the shared table said: $err"
cmp -s result.csv "$source/tests/cli/data/expected_with_risk_premium.csv" || fail "result differs from the expected file"

# The installed module, imported from its folder, finds the shared table as
# the installed tool does and computes the window's default household.
if [ -n "$python_dir" ]; then
  env -u XDG_CONFIG_HOME HOME="$root/home" PYTHONPATH="$usr/$python_dir" PYTHONDONTWRITEBYTECODE=1 "$python" -c '
import sys, numpy, velmora
assert velmora.__file__.startswith(sys.argv[1] + "/"), velmora.__file__
assert velmora.__version__ == sys.argv[2], velmora.__version__
values = [9.725, 7.38, 4.81, 3.57, 7.416, 14.759, 22.616, 3.321]
answer = velmora.compute(dict(zip(velmora.INPUT_COLUMNS, numpy.float32([[v] for v in values]))))
assert answer[velmora.RESULT_COLUMNS[3]].view(numpy.uint32)[0] == 964354079, answer
' "$usr" "$version" || fail "the installed Python module"
fi

# The user's own table comes before the shared one; a bad one is the table's
# failure, with the message users know, and no other table is tried.
mkdir -p "$root/home/.config/Velmora"
printf 'gap,value\r\nnot a line\r\n' >"$root/home/.config/Velmora/EGapDis.txt"
if err=$(run "$source/tests/cli/data/households.csv" result.csv 2>&1); then fail "bad user table accepted"; fi
[ "$err" = 'EGapDis.txtを正しく読み取れません' ] || fail "bad user table said: $err"

# No table anywhere: the message names the three places, in order.
rm "$root/home/.config/Velmora/EGapDis.txt" "$usr/share/velmora/EGapDis.txt"
if err=$(run "$source/tests/cli/data/households.csv" result.csv 2>&1); then fail "ran without a table"; fi
want="EGapDis.txtを正しく読み取れません
探した場所:
  $usr/bin/EGapDis.txt
  $root/home/.config/Velmora/EGapDis.txt
  $usr/share/velmora/EGapDis.txt"
[ "$err" = "$want" ] || fail "no table said:
$err"
cmp -s result.csv "$source/tests/cli/data/expected_with_risk_premium.csv" || fail "a failed run changed the result"

[ "$failures" -eq 0 ] || exit 1
echo "installed tree checked"
