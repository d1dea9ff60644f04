#!/usr/bin/env bash
# installed.sh BUILD_DIR CONSUMER_SOURCE_DIR PROGRAM...
#
# Installs the build for a prefix that never exists (DESTDIR), moves the result
# to another folder and checks that it works there: no installed file names the
# build tree or the prefix, the installed tools run with a bare environment and
# find the installed libraries and print helper, and consumers build against
# the moved tree through find_package and through pkg-config, and so does the
# README's quick start. Printing is checked when quillmark-print is among the
# installed PROGRAMs.
set -euo pipefail
build=$1
source=$2
shift 2
programs=("$@")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
nominal=/opt/quillmark-nominal-prefix
version=${QM_EXPECTED_VERSION:?the project version}
prefix=$scratch/moved

fail() { echo "FAILED: $*" >&2; exit 1; }
# shellcheck source-path=SCRIPTDIR source=consumers.sh
source "$(dirname "$0")/consumers.sh"

DESTDIR=$scratch/staged cmake --install "$build" --prefix "$nominal" >/dev/null
mv "$scratch/staged$nominal" "$prefix"
[ ! -e "$nominal" ] || fail "$nominal exists on this machine"

# No absolute path of the build tree or of the nominal prefix in any installed file.
for path in "$build" "$(cd "$build" && pwd -P)" "$nominal"; do
  if grep -rl -- "$path" "$prefix"; then fail "the installed files above contain $path"; fi
done

# The tools run with nothing from the build's environment: no library path, a
# PATH without the build tree, offscreen Qt.
work=$scratch/work
mkdir -p "$work/home"
# Runs a command with nothing from the build's environment.
bare() {
  env -i HOME="$work/home" PATH=/usr/bin:/bin TMPDIR="$work" QT_QPA_PLATFORM=offscreen "$@"
}
installed() {
  local program=$1
  shift
  bare "$prefix/bin/$program" "$@"
}

for program in "${programs[@]}"; do
  libraries=$(env -i "$(command -v ldd)" "$prefix/bin/$program")
  if grep -q "not found" <<<"$libraries"; then fail "$program: $(grep "not found" <<<"$libraries")"; fi
  # Every library of ours comes from the moved tree, not from the build or the system.
  elsewhere=$(grep "libquillmark" <<<"$libraries" | grep -v -- "=> $prefix/" || true)
  [ -z "$elsewhere" ] || fail "$program: $elsewhere"
done

# The launcher links no library of ours (--version loads nothing); the command
# modules find the libraries they link in the moved tree.
if grep -q "libquillmark" <<<"$(env -i "$(command -v ldd)" "$prefix/bin/quillmark")"; then
  fail "bin/quillmark links a library of ours"
fi
modules=$(find "$prefix" -path "*/quillmark/*.so" -type f)
[ -n "$modules" ] || fail "no command modules installed"
for module in $modules; do
  libraries=$(env -i "$(command -v ldd)" "$module")
  if grep -q "not found" <<<"$libraries"; then fail "$module: $(grep "not found" <<<"$libraries")"; fi
  elsewhere=$(grep "libquillmark" <<<"$libraries" | grep -v -- "=> $prefix/" || true)
  [ -z "$elsewhere" ] || fail "$module: $elsewhere"
done
[[ $(installed quillmark --version) == "quillmark $version"* ]] || fail "quillmark --version"

# Outputs are read whole before they are searched: a reader that stops early
# would make the writer fail under pipefail.
[[ $(installed quillmark version) == *"Quillmark Library $version"* ]] || fail "quillmark version"

# A page with a picture: a 16x16 BMP, turned into JPEG by the installed tool.
{
  printf 'BM\x36\x03\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00'
  printf '\x28\x00\x00\x00\x10\x00\x00\x00\x10\x00\x00\x00\x01\x00\x18\x00'
  printf '\x00\x00\x00\x00\x00\x03\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  head -c 768 /dev/zero | tr '\0' '\200'
} >"$work/picture.bmp"
installed quillmark jpeg "$work/picture.bmp" "$work/picture.jpg" >/dev/null || fail "quillmark jpeg"
cat >"$work/page.html" <<'EOF'
<html><head><title>Installed</title></head>
<body><h1>Installed tree</h1><p><img src="picture.jpg" width="64" height="64"></p></body></html>
EOF

installed quillmark mht "$work/page.html" "$work/page.mht" >/dev/null || fail "quillmark mht"
grep -q "picture.jpg" "$work/page.mht" || fail "the archive does not hold the picture"
grep -q "^/9j/" "$work/page.mht" || fail "the archive holds no JPEG data"

if [[ " ${programs[*]} " == *" quillmark-print "* ]]; then
  installed quillmark print "$work/page.html" --pdf "$work/page.pdf" >/dev/null || fail "quillmark print --pdf"
  grep -q "^Pages: *1$" <<<"$(pdfinfo "$work/page.pdf")" || fail "the PDF does not have one page"
  [ "$(pdfimages -list "$work/page.pdf" | tail -n +3 | wc -l)" -ge 1 ] || fail "the PDF holds no picture"
fi

# Consumers of the moved tree, through find_package and through pkg-config, and the quick start.
helper=""
if [[ " ${programs[*]} " == *" quillmark-print "* ]]; then
  helper="$(cd "$prefix" && pwd -P)/bin/quillmark-print"
fi
check_consumers "$prefix" "$source" "$scratch" "$helper"
echo "the moved installation ran its tools and built its consumers and the quick start"
