# `make package`: a Debian package of what `make install` installs, under /usr.
# Its version is the release number of project(VERSION); its Depends line is
# computed from the binary by dpkg-shlibdeps (package dpkg-dev, plus file).
set(TRACEMILL_PACKAGE_MAINTAINER "tracemill maintainers <maintainers@tracemill.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

# Debian's per-package documents: a changelog whose newest entry is this release.
string(TIMESTAMP TRACEMILL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)  # honours SOURCE_DATE_EPOCH
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian-changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/doc/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog
  COMMENT "Compressing the package changelog")
add_custom_target(tracemill_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tracemill)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tracemill)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TRACEMILL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert MDF4 bus logs into CAN trace files")
set(CPACK_PACKAGE_DESCRIPTION
    "tracemill reads MDF4 bus-log files of CAN, CAN FD and LIN data loggers,\n\
plain, heatshrink-compressed or AES-256-GCM-encrypted, and writes the CAN\n\
traffic as .trc trace files (version 2.1 or 1.1). It walks folders, mirrors\n\
the tree under an output folder and can delete inputs after conversion.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only the installed set; the install manifest it writes is then install_manifest_tracemill.txt,
# not the install_manifest.txt of a `make install` that `make uninstall` reads.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};tracemill;tracemill;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tracemill_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Folders in the package are 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
