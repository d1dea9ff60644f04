#!/bin/bash
# The typed layer's one include brings in typed headers only: every library
# header quillmark/quillmark.h reaches, directly or through another, must be
# in the list below. A header of a published class (Variant.h, Dispatch.h,
# QMStream.h, XML.h, Zipper.h, ...) reached from it fails the test, naming the
# header and the chain that brought it in.
#   typed-closure.sh CXX INCLUDE_DIR [GENERATED_INCLUDE_DIR]
set -euo pipefail
cxx=$1
include=$2
generated=${3:-$2}

typed=(
  quillmark/Export.h quillmark/Version.h quillmark/quillmark.h
  quillmark/errors/Error.h quillmark/errors/ErrorCode.h quillmark/errors/ErrorNumbers.h
  quillmark/frame/Error.h quillmark/frame/ErrorNumbers.h quillmark/frame/Trail.h
  quillmark/runtime/Progress.h quillmark/runtime/FormatValues.h quillmark/runtime/SettingsSection.h
  quillmark/automation/Workbook.h quillmark/automation/XmlQuery.h
  quillmark/compression/Deflate.h quillmark/compression/ZipFiles.h
  quillmark/graphics/Canvas.h quillmark/graphics/Rgb.h quillmark/graphics/Jpeg.h quillmark/graphics/Resample.h
  quillmark/persistence/Records.h
  quillmark/html/HtmlPage.h quillmark/html/MhtArchive.h
  quillmark/utility/FindFiles.h quillmark/utility/AtomicFileWriter.h quillmark/runtime/ResolvePath.h
)

# -H prints each header opened, dotted by depth, so a stray one can be traced.
trace=$(echo '#include <quillmark/quillmark.h>' |
        "$cxx" -std=c++20 -fsyntax-only -H -I"$include" -I"$generated" -x c++ - 2>&1 >/dev/null)
reached=$(grep -o 'quillmark/[A-Za-z0-9_/]*\.h' <<<"$trace" | sort -u)
[[ -n $reached ]] || { echo "no library header was reached: the trace is" >&2; echo "$trace" >&2; exit 1; }

status=0
for header in $reached; do
  allowed=no
  for t in "${typed[@]}"; do [[ $header == "$t" ]] && allowed=yes; done
  if [[ $allowed == no ]]; then
    echo "quillmark.h reaches $header, which is no typed-layer header; included along:" >&2
    grep -B20 -F "$header" <<<"$trace" | grep -F quillmark/ | tail -6 >&2
    status=1
  fi
done
[[ $status == 0 ]] && echo "quillmark.h reaches $(wc -w <<<"$reached") library headers, all typed"
exit $status
