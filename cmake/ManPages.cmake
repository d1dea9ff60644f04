# Manual pages of the installed programs, made by help2man from what each
# program prints for --help, compressed as Debian installs them. Without
# help2man (or in sanitizer and fuzz builds, whose programs need their runtime's
# environment, or when cross-compiling) no page is made.
find_program(QM_HELP2MAN help2man)
find_program(QM_GZIP gzip)
if(NOT QM_HELP2MAN OR NOT QM_GZIP OR QUILLMARK_SANITIZE OR QUILLMARK_TSAN OR QUILLMARK_FUZZ OR CMAKE_CROSSCOMPILING)
  message(STATUS "manual pages: help2man or gzip not found, or a sanitizer, fuzz or cross build: none made")
  return()
endif()

# qm_man_page(TARGET NAME "SUMMARY"): NAME.1.gz from TARGET's --help, installed
# with the tools. The version is given, so a program without --version works;
# the help text may be on stderr.
function(qm_man_page target name summary)
  if(NOT TARGET ${target})
    return()
  endif()
  set(page ${PROJECT_BINARY_DIR}/man/${name}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${QM_HELP2MAN} --no-info --no-discard-stderr --section=1
      --name=${summary} --version-string=${PROJECT_VERSION} --output=${page} $<TARGET_FILE:${target}>
    COMMAND ${QM_GZIP} -9 --no-name --force ${page}
    DEPENDS ${target}
    COMMENT "Manual page ${name}(1)"
    VERBATIM)
  add_custom_target(${name}-man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endfunction()

qm_man_page(quillmark-cli quillmark "the Quillmark Library's jobs from the command line")
qm_man_page(quillmark-print quillmark-print "print an HTML page to the default printer or to a PDF file")
