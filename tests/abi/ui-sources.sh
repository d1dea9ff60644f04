#!/usr/bin/env bash
# ui-sources.sh LIBRARY: every source file compiled into the ui library is in
# src/ui/; none of the core's is compiled in a second time.
set -euo pipefail
units=$(readelf --debug-dump=info --dwarf-depth=1 "$1" |
  awk '/DW_TAG_compile_unit/ { unit = 1 } unit && /DW_AT_name/ { print $NF; unit = 0 }')
[ -n "$units" ] || { echo "FAILED: $1 has no debug information" >&2; exit 1; }
others=$(grep -v 'src/ui/' <<<"$units" || true)
[ -z "$others" ] || { echo "FAILED: compiled into $1, not the ui's own:" >&2; echo "$others" >&2; exit 1; }
echo "$(wc -l <<<"$units") sources, all in src/ui/"
