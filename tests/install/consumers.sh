# shellcheck shell=bash
# Sourced by the installation tests; the caller defines fail().
#
# check_consumers PREFIX CONSUMER_SOURCE SCRATCH [PRINT_HELPER]
# Builds the consumer against the installation in PREFIX through find_package
# and through pkg-config, and the README's quick start (its first C++ block)
# through pkg-config, and runs them with the installation's library folder on
# LD_LIBRARY_PATH; the quick start again with that folder as its run path and
# no LD_LIBRARY_PATH, as the README says. With PRINT_HELPER, the ui library, loaded by a program
# outside the installation, must find its print helper there.
check_consumers() {
  local prefix=$1 source=$2 scratch=$3 helper=${4:-}
  local pc libdir flags found readme quick
  pc=$(find "$prefix" -name quillmark.pc)
  [ -n "$pc" ] || fail "no quillmark.pc in $prefix"
  libdir=$(dirname "$(dirname "$pc")")

  cmake -S "$source" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$scratch/consumer" >/dev/null
  [[ $(LD_LIBRARY_PATH="$libdir" "$scratch/consumer/consumer") == *"Quillmark Library ${QM_EXPECTED_VERSION:?the project version}"* ]] ||
    fail "the find_package consumer"
  if [ -n "$helper" ]; then
    found=$(LD_LIBRARY_PATH="$libdir" "$scratch/consumer/ui-consumer")
    [ "$found" == "$helper" ] || fail "the ui library found the print helper at '$found', not at '$helper'"
  fi

  flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs quillmark)
  # A consumer gets the library's own include folder only, not those of the
  # libraries underneath (no installed header includes them).
  cflags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags quillmark)
  [[ $cflags != *glib* && $cflags != *libxml2* && $cflags != *libgsf* ]] || fail "pkg-config --cflags gave: $cflags"
  # shellcheck disable=SC2086
  g++ -std=c++20 "$source/main.cpp" -o "$scratch/pc-consumer" $flags
  [[ $(LD_LIBRARY_PATH="$libdir" "$scratch/pc-consumer") == *"Quillmark Library ${QM_EXPECTED_VERSION:?the project version}"* ]] ||
    fail "the pkg-config consumer"

  readme=$(cd "$source/../../.." && pwd)/README.md
  awk '/^```cpp$/ { inside = 1; next } /^```/ { if (inside) exit } inside' "$readme" >"$scratch/quickstart.cpp"
  [ -s "$scratch/quickstart.cpp" ] || fail "the README has no C++ block"
  [ "$(wc -l <"$scratch/quickstart.cpp")" -le 25 ] || fail "the README's quick start is longer than 25 lines"
  # shellcheck disable=SC2086
  g++ -std=c++20 "$scratch/quickstart.cpp" -o "$scratch/quickstart" $flags || fail "the quick start does not build"
  quick=$(LD_LIBRARY_PATH="$libdir" "$scratch/quickstart") || fail "the quick start failed"
  [[ $quick == *"31 points"*"1000 bytes packed"*"tea"*"cake"* ]] || fail "the quick start printed: $quick"

  # The README's way for a prefix outside the system folders: the library's
  # folder as the program's run path, no LD_LIBRARY_PATH when it runs.
  local rpath
  rpath=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --variable=libdir quillmark)
  # shellcheck disable=SC2086
  g++ -std=c++20 "$scratch/quickstart.cpp" -o "$scratch/quickstart-rpath" $flags -Wl,-rpath,"$rpath" ||
    fail "the quick start does not build with the run path"
  quick=$(env -u LD_LIBRARY_PATH "$scratch/quickstart-rpath") || fail "the quick start with the run path failed"
  [[ $quick == *"31 points"*"tea"*"cake"* ]] || fail "the quick start with the run path printed: $quick"
}
