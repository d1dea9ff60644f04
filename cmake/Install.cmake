include(CMakePackageConfigHelpers)

# Installed files go into four components, one Debian package each
# (cmake/Package.cmake): runtime (libquillmark), ui (libquillmark-ui), dev
# (headers, link names, CMake and pkg-config files) and tools (the programs).
# Folders are world-readable whatever the umask of the one installing.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(QM_CONFIG_HAVE_UI OFF)
if(TARGET quillmark-ui)
  set(QM_CONFIG_HAVE_UI ON)
endif()

# Installed programs and libraries find the libraries through a run path
# relative to their own place, so an installation runs from any prefix; only
# the build tree's files carry CMake's absolute build run path.
file(RELATIVE_PATH QM_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
foreach(program IN ITEMS quillmark-print)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${QM_BIN_TO_LIB}")
  endif()
endforeach()
if(TARGET quillmark-ui)
  set_target_properties(quillmark-ui PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

# Shared libraries are not executable (0644), as Debian wants them.
set(QM_LIBRARY_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(TARGETS quillmark EXPORT QuillmarkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} PERMISSIONS ${QM_LIBRARY_PERMISSIONS}
    COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
if(TARGET quillmark-ui)
  install(TARGETS quillmark-ui EXPORT QuillmarkTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} PERMISSIONS ${QM_LIBRARY_PERMISSIONS}
      COMPONENT ui NAMELINK_COMPONENT dev
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
endif()
install(DIRECTORY include/quillmark DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_BINARY_DIR}/include/quillmark/Version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quillmark
  COMPONENT dev)
install(EXPORT QuillmarkTargets NAMESPACE quillmark:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quillmark
  COMPONENT dev)

configure_package_config_file(cmake/QuillmarkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuillmarkConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quillmark)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuillmarkConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuillmarkConfig.cmake ${PROJECT_BINARY_DIR}/QuillmarkConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quillmark COMPONENT dev)

get_target_property(QM_PC_REQUIRES quillmark QM_PKGCONFIG_REQUIRES)
if(NOT QM_PC_REQUIRES)
  set(QM_PC_REQUIRES "")
endif()
string(REPLACE ";" " " QM_PC_REQUIRES "${QM_PC_REQUIRES}")
# Libraries without a pkg-config file of their own, for static linking.
get_target_property(QM_PC_LIBS_PRIVATE quillmark QM_PKGCONFIG_LIBS_PRIVATE)
if(NOT QM_PC_LIBS_PRIVATE)
  set(QM_PC_LIBS_PRIVATE "")
endif()
string(REPLACE ";" " " QM_PC_LIBS_PRIVATE "${QM_PC_LIBS_PRIVATE}")
# The libraries of the pkg-config modules underneath, for static linking, as
# flags: a Requires.private line would also hand their include folders to
# every consumer's --cflags, though no installed header includes them.
if(QM_PC_REQUIRES)
  string(REPLACE " " ";" qm_pc_modules "${QM_PC_REQUIRES}")
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --static --libs ${qm_pc_modules}
    OUTPUT_VARIABLE qm_pc_module_libs OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE qm_pc_failed)
  if(qm_pc_failed)
    message(FATAL_ERROR "pkg-config cannot list the libraries of: ${QM_PC_REQUIRES}")
  endif()
  string(STRIP "${qm_pc_module_libs} ${QM_PC_LIBS_PRIVATE}" QM_PC_LIBS_PRIVATE)
endif()
# The .pc file finds its prefix from its own place, so an installation can be moved.
file(RELATIVE_PATH QM_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" QM_PC_TO_PREFIX "${QM_PC_TO_PREFIX}")
configure_file(cmake/quillmark.pc.in ${PROJECT_BINARY_DIR}/quillmark.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quillmark.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

include(cmake/ManPages.cmake)
include(cmake/Package.cmake)
