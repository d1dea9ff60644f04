# Run by cpack on the staged files before they are packed. Packages install
# into /usr, where the libraries are on the dynamic linker's own path and
# Debian forbids run paths: they are removed from every program and library.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(NOT IS_SYMLINK "${file}" AND file MATCHES "/bin/[^/]+$|/lib[^/]*\\.so\\.[0-9.]+$")
    file(RPATH_REMOVE FILE "${file}")
  endif()
endforeach()
