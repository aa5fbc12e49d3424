# What `make install` puts on a system: the converter, its man page and its bash
# completion, under GNU install folders of CMAKE_INSTALL_PREFIX (DESTDIR honoured).
# Every rule is in the component "tracemill", so a test can install the whole set
# with --component and keep the build's own install_manifest.txt untouched.
include(GNUInstallDirs)

# The man page carries the release number; Debian wants it compressed without a timestamp.
string(TIMESTAMP TRACEMILL_MAN_DATE "%Y-%m-%d" UTC)  # SOURCE_DATE_EPOCH fixes it when set
configure_file(${CMAKE_SOURCE_DIR}/doc/tracemill.1.in ${CMAKE_BINARY_DIR}/doc/tracemill.1 @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/doc/tracemill.1.gz
  COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/doc/tracemill.1 > ${CMAKE_BINARY_DIR}/doc/tracemill.1.gz
  DEPENDS ${CMAKE_BINARY_DIR}/doc/tracemill.1
  COMMENT "Compressing the man page")
add_custom_target(tracemill_man ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/tracemill.1.gz)

# `make install` and `make package` build what they install themselves (only the
# converter and its documents), so installing does not wait for every test to build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS tracemill RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tracemill)
# A stripped install (the package) also drops the compiler's notes, as Debian's own tools do.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tracemill\"
                  COMMAND_ERROR_IS_FATAL ANY)
endif()" COMPONENT tracemill)
install(FILES ${CMAKE_BINARY_DIR}/doc/tracemill.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tracemill)
install(FILES ${CMAKE_SOURCE_DIR}/doc/tracemill.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME tracemill COMPONENT tracemill)

# Removes what the last `cmake --install` wrote, as its manifest lists it (give the same DESTDIR).
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
          -P ${CMAKE_SOURCE_DIR}/cmake/uninstall.cmake
  VERBATIM)
