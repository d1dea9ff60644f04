#!/usr/bin/env bash
# scripts/abi-baseline on a scratch build folder whose libquillmark.so is a
# small library in several versions: each verdict, and what recording allows.
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/build/lib" "$work/abi" "$work/include" "$work/src"
printf 'CMAKE_BUILD_TYPE:STRING=RelWithDebInfo\nQUILLMARK_UI:BOOL=OFF\n' >"$work/build/CMakeCache.txt"
export QM_ABI_DIR=$work/abi QM_ABI_HEADERS=$work/include QM_ABI_SOURCES=$work/src
abi() { "$source_dir/scripts/abi-baseline" "$@" "$work/build"; }

# library SOVERSION FUNCTION...: exported functions of qm, each returning its
# number, and Measure, which takes the public struct Box (box.h; BOX_FIELDS
# names its members). With LEAK, it also exports a function of qm::io, a
# namespace no public header opens.
library() {
  local version=$1 n=0; shift
  printf 'namespace qm { struct Box { %s }; }\n' "${BOX_FIELDS:-int Width;}" >"$work/include/box.h"
  printf '#include "box.h"\n' >"$work/src/lib.cpp"
  echo 'namespace qm { __attribute__((visibility("default"))) int Measure(const Box* b) { return sizeof *b; } }' >>"$work/src/lib.cpp"
  for f in "$@"; do
    echo "namespace qm { __attribute__((visibility(\"default\"))) int $f(int x) { return x + $((n++)); } }" >>"$work/src/lib.cpp"
  done
  echo "namespace qm { int Hidden(int x) { return x; } }" >>"$work/src/lib.cpp"
  [ -z "${LEAK:-}" ] || echo 'namespace qm::io { __attribute__((visibility("default"))) int Leak() { return 1; } }' >>"$work/src/lib.cpp"
  g++ -g -O1 -shared -fPIC -fvisibility=hidden -I"$work/include" -Wl,-soname,libquillmark.so.$version \
    -o "$work/build/lib/libquillmark.so" "$work/src/lib.cpp"
}
fail() { echo "FAILED: $*" >&2; exit 1; }
expect() {  # expect STATUS TEXT command...: the exit status and a line of its output
  local status=$1 text=$2 out rc=0; shift 2
  out=$("$@" 2>&1) || rc=$?
  [ "$rc" = "$status" ] || fail "$* exited $rc, not $status: $out"
  grep -qF -- "$text" <<<"$out" || fail "$* did not say '$text': $out"
}

library 1 Area Width
expect 1 "no baseline" abi --check
expect 0 "recorded" abi
grep -q "Area" "$work/abi/libquillmark.abi" || fail "the baseline lacks Area"
! grep -q "Hidden" "$work/abi/libquillmark.abi" || fail "the baseline holds a hidden function"
expect 0 "matches" abi --check

# An added function is compatible.
library 1 Area Width Height
expect 0 "adds to" abi --check

# A removed one is not: the check fails and says how to go on, and recording
# refuses while the SONAME stays.
library 1 Area Height
expect 1 "bump SOVERSION" abi --check
expect 1 "keeps its SONAME" abi
expect 1 "bump SOVERSION" abi --check

# So is a public struct that grows.
BOX_FIELDS="int Width; int Height;" library 1 Area Width
expect 1 "bump SOVERSION" abi --check

# With a new SOVERSION the break is recorded, and the check passes again.
library 2 Area Height
expect 0 "recorded" abi
expect 0 "matches" abi --check

# On purpose, without a new SOVERSION.
library 2 Area
expect 0 "recorded" abi --incompatible
expect 0 "matches" abi --check

# A symbol of an internal namespace fails the check and is never recorded.
LEAK=1 library 2 Area
expect 1 "internal namespace" abi --check
expect 1 "qm::io::Leak()" abi --incompatible

# Only an optimised build with debug information will do.
sed -i 's/RelWithDebInfo/Debug/' "$work/build/CMakeCache.txt"
expect 1 "must be a RelWithDebInfo build" abi --check
echo "abi verdicts: all as expected"
