#!/usr/bin/env bash
# debs.sh BUILD_DIR SOURCE_DIR
#
# Packs the built tree into Debian packages with scripts/package (which fails
# when lintian reports an error), checks what each package holds and declares,
# unpacks them all into a scratch root, builds consumers against that root and
# runs the installed tool from it.
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }
# shellcheck source-path=SCRIPTDIR source=../install/consumers.sh
source "$source/tests/install/consumers.sh"
command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps installs it)"

"$source/scripts/package" --built "$build" --out "$scratch/debs" >"$scratch/package.log" 2>&1 ||
  { cat "$scratch/package.log" >&2; fail "scripts/package"; }
grep -q "^E: " "$scratch/package.log" && { cat "$scratch/package.log" >&2; fail "lintian reported errors"; }

version=${QM_EXPECTED_VERSION:?the project version}
so=${QM_EXPECTED_SOVERSION:?the SOVERSION}
core=libquillmark$so ui=libquillmark-ui$so
field() { dpkg-deb --field "$2" "$1"; }
deb() {
  local found=("$scratch/debs/$1"_*.deb)
  [ -f "${found[0]}" ] || fail "no package $1"
  echo "${found[0]}"
}

declare -A section=([$core]=libs [$ui]=libs [libquillmark-dev]=libdevel [quillmark]=utils)
root=$scratch/root
for name in "${!section[@]}"; do
  file=$(deb "$name")
  [ "$(field Section "$file")" == "${section[$name]}" ] || fail "$name: section $(field Section "$file")"
  [ "$(field Version "$file")" == "$version-1" ] || fail "$name: version $(field Version "$file")"
  [[ $(field Maintainer "$file") == *"<"*"@"*">" ]] || fail "$name: maintainer $(field Maintainer "$file")"
  contents=$(dpkg-deb --contents "$file")
  for doc in copyright changelog.Debian.gz; do
    grep -q " \./usr/share/doc/$name/$doc$" <<<"$contents" || fail "$name has no /usr/share/doc/$name/$doc"
  done
  # Shared libraries are installed 0644, never executable.
  if grep -E '^-[^ ]*x.* \./usr/lib/.*\.so\.[0-9.]+$' <<<"$contents"; then fail "$name: an executable library"; fi
  dpkg-deb --extract "$file" "$root"
done

# Every file that `cmake --install` puts into /usr is in a package: an install
# rule without a component would be left out of all of them.
DESTDIR=$scratch/plain cmake --install "$build" --prefix /usr >/dev/null
while IFS= read -r -d '' file; do
  [ -e "$root/${file#"$scratch/plain/"}" ] || fail "${file#"$scratch/plain"} is installed but in no package"
done < <(find "$scratch/plain" ! -type d -print0)

# The packages hold disjoint files: dpkg refuses to install two that share one.
shared=$(for file in "$scratch"/debs/*.deb; do dpkg-deb --contents "$file"; done |
  awk '$1 !~ /^d/ {print $6}' | sort | uniq -d)
[ -z "$shared" ] || fail "files in more than one package: $shared"

# Dependencies: found by dpkg-shlibdeps (libc, zlib, Qt) and between the packages, of this very version.
[[ $(field Depends "$(deb "$core")") == *"libc6"* ]] || fail "$core does not depend on libc6"
[[ $(field Depends "$(deb "$core")") == *"zlib1g"* ]] || fail "$core does not depend on zlib1g"
[[ $(field Depends "$(deb "$ui")") == *"$core (= $version-1)"* ]] ||
  fail "$ui does not depend on $core (= $version-1)"
[[ $(field Depends "$(deb "$ui")") == *"libqt6widgets6"* ]] || fail "$ui does not depend on Qt"
[[ $(field Depends "$(deb libquillmark-dev)") == *"zlib1g-dev"*"qt6-base-dev"* ]] ||
  fail "libquillmark-dev does not depend on the development packages it needs"
[[ $(field Depends "$(deb quillmark)") == *"$ui (= $version-1)"* ]] || fail "quillmark does not depend on $ui"
# Outputs are read whole before they are searched: a reader that stops early
# would make the writer fail under pipefail.
shlibs=$(dpkg-deb --ctrl-tarfile "$(deb "$core")" | tar -xO ./shlibs)
grep -q "^libquillmark $so $core" <<<"$shlibs" || fail "$core has no shlibs entry"

# Nothing unpacked carries a run path, and only the development package has link names.
while IFS= read -r -d '' file; do
  if grep -Eq "\((RPATH|RUNPATH)\)" <<<"$(readelf --dynamic "$file")"; then fail "${file#"$root"} has a run path"; fi
done < <(find "$root/usr" -type f \( -path "*/bin/*" -o -name "*.so.*" \) -print0)
if grep '\.so -> ' <<<"$(dpkg-deb --contents "$(deb "$core")")"; then fail "$core holds a link name"; fi
grep -q "libquillmark\\.so -> libquillmark\\.so\\.$so" <<<"$(dpkg-deb --contents "$(deb libquillmark-dev)")" ||
  fail "libquillmark-dev has no link libquillmark.so"
for page in quillmark quillmark-print; do
  grep -q "^\.TH \"\?${page^^}" <<<"$(zcat "$root/usr/share/man/man1/$page.1.gz")" || fail "no manual page $page(1)"
done

# The installed tool runs from the root and does a job with the installed libraries.
libdir=$(dirname "$(find "$root" -name "libquillmark.so.$so")")
run() { LD_LIBRARY_PATH="$libdir" QT_QPA_PLATFORM=offscreen HOME="$scratch" "$@"; }
[[ $(run "$root/usr/bin/quillmark" version) == *"Quillmark Library $version"* ]] || fail "quillmark version"
head -c 100000 /dev/urandom >"$scratch/data"
run "$root/usr/bin/quillmark" compress "$scratch/data" "$scratch/data.z" >/dev/null || fail "quillmark compress"
run "$root/usr/bin/quillmark" decompress "$scratch/data.z" "$scratch/back" >/dev/null || fail "quillmark decompress"
cmp -s "$scratch/data" "$scratch/back" || fail "the round trip through the installed tool changed the data"

check_consumers "$root/usr" "$source/tests/install/consumer" "$scratch" "$(cd "$root" && pwd -P)/usr/bin/quillmark-print"
echo "the packages passed lintian, unpacked, built their consumers and ran their tool"
