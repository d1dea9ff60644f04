# Debian packages of the installation, one per install component
# (scripts/package runs `cpack -G DEB`; docs/packaging.md):
#
#   libquillmark2      runtime   libquillmark.so.2
#   libquillmark-ui2   ui        libquillmark-ui.so.2
#   libquillmark-dev   dev       headers, link names, CMake package, quillmark.pc
#   quillmark          tools     quillmark, quillmark-print, their manual pages and
#                                the tool's command modules (lib/quillmark/)
#
# The packages install into /usr. Only shared builds are packaged.
if(NOT BUILD_SHARED_LIBS)
  return()
endif()

set(QUILLMARK_PACKAGE_MAINTAINER "Quillmark Library maintainers <maintainers@quillmark.example.org>"
  CACHE STRING "Maintainer field of the Debian packages")
set(QUILLMARK_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VENDOR "The Quillmark Library authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each component's description starts with its own synopsis line. CPack puts
# the project-wide summary in front of it unless that summary has its default
# value, so the default is given.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUILLMARK_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUILLMARK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# The installed programs and libraries carry relative run paths, so that an
# installation can be moved; in /usr the libraries are on the dynamic linker's
# own path and Debian forbids run paths. They are removed from the staged files.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageRunPaths.cmake)

# Component name, package name, section, synopsis, long description.
set(QM_PACKAGE_COMPONENTS runtime)
# The library packages are named after the SOVERSION, so that two of them can be installed side by side.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libquillmark${QM_SOVERSION})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The canvas's default face (docs/graphics.md, "Text"): without it, text raises 53.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS fonts-dejavu-core)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "C++ components for Linux desktop applications - runtime library
The Quillmark Library is a C++20 component library for Linux desktop
applications: persistence of object graphs into indented text records,
HTML documents and reports packed into MIME web archives, zlib compression
and zip archives, splines and JPEG output, XML and spreadsheet export,
system utilities, and an error convention that carries each error's trail.

This package holds the runtime library, which links no GUI toolkit.")

if(TARGET quillmark-ui)
  list(APPEND QM_PACKAGE_COMPONENTS ui)
  set(CPACK_DEBIAN_UI_PACKAGE_NAME libquillmark-ui${QM_SOVERSION})
  set(CPACK_DEBIAN_UI_PACKAGE_SECTION libs)
  set(CPACK_COMPONENT_UI_DEPENDS runtime)
  # Printing starts the quillmark-print helper, which comes with the tools.
  set(CPACK_DEBIAN_UI_PACKAGE_RECOMMENDS quillmark)
  set(CPACK_COMPONENT_UI_DESCRIPTION "C++ components for Linux desktop applications - Qt 6 dialogs and preview
The Quillmark Library is a C++20 component library for Linux desktop
applications.

This package holds the user-interface library over Qt 6 Widgets: the
extended message box, value, file and colour dialogs, the error reporter,
the HTML document preview with printing, mail and Word export, and mouse
input.")
endif()

list(APPEND QM_PACKAGE_COMPONENTS dev)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquillmark-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS ${QM_PACKAGE_COMPONENTS})
list(REMOVE_ITEM CPACK_COMPONENT_DEV_DEPENDS dev)
set(CPACK_COMPONENT_DEV_DESCRIPTION "C++ components for Linux desktop applications - development files
The Quillmark Library is a C++20 component library for Linux desktop
applications.

This package holds the C++ headers, the CMake package (find_package
Quillmark, targets quillmark::core and quillmark::ui) and the pkg-config
file quillmark.")

list(APPEND QM_PACKAGE_COMPONENTS tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quillmark)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DEPENDS ${CPACK_COMPONENT_DEV_DEPENDS})
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "C++ components for Linux desktop applications - command-line tools
The Quillmark Library is a C++20 component library for Linux desktop
applications.

This package holds the quillmark command, which runs the library's jobs
from a shell (web archives, compression, zip archives, JPEG output,
resampling, XML, workbooks, file search, dialogs and the preview), and
quillmark-print, the helper that prints a page or writes it as PDF.")
set(CPACK_COMPONENTS_ALL ${QM_PACKAGE_COMPONENTS})

# The library packages let dpkg run ldconfig once after all packages are in.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_UI_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)

# The packages of a component's dependencies are searched for the libraries
# that its programs and libraries need (staged beside it, not yet installed).
foreach(component IN LISTS QM_PACKAGE_COMPONENTS)
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../${component}/${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
endforeach()

# The development package needs the development packages of what the CMake
# package and quillmark.pc ask for: the owner of each .pc file of
# Requires.private, and of the Qt 6 CMake packages.
find_program(QM_DPKG_QUERY dpkg-query)
function(qm_debian_package_of file out)
  set(${out} "" PARENT_SCOPE)
  if(QM_DPKG_QUERY AND EXISTS "${file}")
    file(REAL_PATH "${file}" file)
    execute_process(COMMAND ${QM_DPKG_QUERY} --search "${file}"
      OUTPUT_VARIABLE owner RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT failed AND owner MATCHES "^([^:,]+)")
      set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
    endif()
  endif()
endfunction()

set(QM_DEV_FILES)
string(REPLACE " " ";" QM_PC_MODULES "${QM_PC_REQUIRES}")
foreach(module IN LISTS QM_PC_MODULES)
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --variable=pcfiledir ${module}
    OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  list(APPEND QM_DEV_FILES ${dir}/${module}.pc)
endforeach()
if(TARGET quillmark-ui)
  list(APPEND QM_DEV_FILES ${Qt6Widgets_DIR}/Qt6WidgetsConfig.cmake ${Qt6PrintSupport_DIR}/Qt6PrintSupportConfig.cmake)
endif()
set(QM_DEV_DEPENDS)
foreach(file IN LISTS QM_DEV_FILES)
  qm_debian_package_of(${file} owner)
  if(owner)
    list(APPEND QM_DEV_DEPENDS ${owner})
  elseif(QM_DPKG_QUERY)
    message(WARNING "libquillmark-dev: no Debian package owns ${file}; it is not among the dependencies")
  endif()
endforeach()
list(REMOVE_DUPLICATES QM_DEV_DEPENDS)
list(JOIN QM_DEV_DEPENDS ", " CPACK_DEBIAN_DEV_PACKAGE_DEPENDS)

# Every package carries its copyright file and changelog where Debian looks
# (/usr/share/doc/PACKAGE), and tells lintian that it is no upload to Debian's
# archive, which would close the bug that asked for the package. A plain
# `cmake --install` leaves these out.
set(QM_DEBIAN_VERSION ${PROJECT_VERSION}-${QUILLMARK_PACKAGE_RELEASE})
set(QM_PACKAGE_MAINTAINER ${QUILLMARK_PACKAGE_MAINTAINER})
string(TIMESTAMP QM_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9 --no-name --stdout ${PROJECT_BINARY_DIR}/debian/changelog.Debian
  OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)
foreach(component IN LISTS QM_PACKAGE_COMPONENTS)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  install(FILES cmake/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
  file(WRITE ${PROJECT_BINARY_DIR}/debian/overrides/${package} "${package}: initial-upload-closes-no-bugs\n")
  install(FILES ${PROJECT_BINARY_DIR}/debian/overrides/${package}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
