#!/usr/bin/env bash
# scripts/check-layers on scratch trees: a tree in order passes; each fault
# fails and is named with its file and line.
set -euo pipefail
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

# tree: a small tree in layer order.
tree() {
  rm -rf "$work/t"
  mkdir -p "$work/t"/{include/quillmark/errors,include/quillmark/values,include/quillmark/runtime}
  mkdir -p "$work/t"/{src/errors,src/values,src/runtime,src/compression,src/io,tools/x,examples/y}
  printf '#pragma once\n#include "quillmark/Export.h"\n' >"$work/t/include/quillmark/errors/Error.h"
  printf '#pragma once\n' >"$work/t/include/quillmark/Export.h"
  printf '#pragma once\n#include "quillmark/errors/Error.h"\n' >"$work/t/include/quillmark/values/Variant.h"
  printf '#pragma once\n#include "quillmark/values/Variant.h"\n' >"$work/t/include/quillmark/runtime/Variant.h"
  printf '#pragma once\n#include <vector>\n' >"$work/t/src/io/Block.h"
  printf '#include "quillmark/values/Variant.h"\n#include "io/Block.h"\n#include <utility>\n' \
    >"$work/t/src/runtime/Settings.cpp"
  printf '#include "Local.h"\n#include "quillmark/Version.h"\n#include <zlib.h>\n' >"$work/t/src/compression/Zip.cpp"
  printf '#pragma once\n' >"$work/t/src/compression/Local.h"
  printf '#include "quillmark/values/Variant.h"\n' >"$work/t/tools/x/main.cpp"
  printf '#include "quillmark/values/Variant.h"\n' >"$work/t/examples/y/main.cpp"
}
expect_pass() { "$check" "$work/t" >"$work/out" 2>&1 || { cat "$work/out"; fail "$1: a tree in order was refused"; }; }
expect_fault() {  # expect_fault WHAT TEXT: fails, and prints TEXT
  local rc=0
  "$check" "$work/t" >"$work/out" 2>&1 || rc=$?
  [ $rc -ne 0 ] || fail "$1: passed"
  grep -qF -- "$2" "$work/out" || { cat "$work/out"; fail "$1: no line with '$2'"; }
}

tree
expect_pass "in order"

tree  # a header by the earlier name it stays installed under
printf '#include "quillmark/runtime/Variant.h"\n' >"$work/t/tools/x/main.cpp"
expect_fault "earlier name" "tools/x/main.cpp:1: #include \"quillmark/runtime/Variant.h\": an earlier name"

tree  # a header of a low layer that reaches up, on its third line
printf '#pragma once\n// the switch\n#include "quillmark/runtime/Variant.h"\n' >"$work/t/include/quillmark/errors/Error.h"
expect_fault "public header upward" "include/quillmark/errors/Error.h:3:"
expect_fault "public header upward" "errors includes runtime, a layer above it"

tree  # a source reaching a subsystem's internals through src/
printf '#include "compression/Local.h"\n' >>"$work/t/src/io/Block.h"
expect_fault "internal header upward" "src/io/Block.h:3:"

tree  # a subsystem above another among the subsystems
mkdir -p "$work/t/src/utility" "$work/t/src/html"
printf '#pragma once\n' >"$work/t/src/utility/Paths.h"
printf '#include "utility/Paths.h"\n' >"$work/t/src/html/Doc.cpp"
expect_fault "html over utility" "src/html/Doc.cpp:1:"

tree  # a project header that does not exist
printf '#include "quillmark/values/Gone.h"\n' >>"$work/t/src/runtime/Settings.cpp"
expect_fault "unknown header" "src/runtime/Settings.cpp:4:"
expect_fault "unknown header" "unknown header"

tree  # a folder the order does not know
mkdir -p "$work/t/src/extras"
printf '#include "quillmark/values/Variant.h"\n' >"$work/t/src/extras/More.cpp"
expect_fault "unknown folder" "src/extras/More.cpp:1:"

tree  # a tool that reaches inside the library
printf '#include "io/Block.h"\n' >>"$work/t/tools/x/main.cpp"
expect_fault "tool uses internals" "tools/x/main.cpp:2:"
expect_fault "tool uses internals" "installed headers only"

tree  # an example that reaches inside the library, with angle brackets
printf '#include <runtime/Settings.cpp>\n' >>"$work/t/examples/y/main.cpp"
expect_fault "example uses internals" "examples/y/main.cpp:2:"

echo "check-layers verdicts: all as expected"
