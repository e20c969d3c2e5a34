# The Debian package vardek-control: the window, its desktop entry, icons and metadata, the board
# simulator and the probe, their manual pages, and the copyright file and changelog Debian asks of
# every package. The dependencies on shared libraries come from dpkg-shlibdeps, so they follow
# what the binaries really link; the Qt platform plugins and the Japanese font are loaded at run
# time and named explicitly.
set(VARDEK_PACKAGE_MAINTAINER "vardek-control maintainers <maintainers@vardek-control.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

# The copyright file in Debian's machine-readable format, made from LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" _ "${license}")
set(copyright_holders "${CMAKE_MATCH_1}")
string(FIND "${license}" "Permission is hereby granted" start)
string(SUBSTRING "${license}" ${start} -1 license_text)
string(STRIP "${license_text}" license_text)
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REGEX REPLACE "\n" "\n " license_text "${license_text}")
set(package_docs ${PROJECT_BINARY_DIR}/package-docs)
file(WRITE ${package_docs}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}

Files: *
Copyright: ${copyright_holders}
License: Expat
 ${license_text}
")

# The changelog, gzipped without a name or time stamp in the header so builds are reproducible.
execute_process(COMMAND date -u -R -d ${VARDEK_RELEASE_DATE}
    OUTPUT_VARIABLE release_date OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(WRITE ${package_docs}/changelog
"${PROJECT_NAME} (${PROJECT_VERSION}) unstable; urgency=medium

  * First release: the control window VARDEK_Control with its desktop
    entry, icons and AppStream metadata, the board simulator
    vardek-board-sim and the command-line probe vardek-probe.

 -- ${VARDEK_PACKAGE_MAINTAINER}  ${release_date}
")
execute_process(COMMAND ${VARDEK_GZIP} -9 -n -c ${package_docs}/changelog
    OUTPUT_FILE ${package_docs}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${package_docs}/copyright ${package_docs}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vardek-control)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARDEK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "VARDEK_Control switches the output pins of a network-attached VARDEK
board, shows its inputs, reads its analogue channels and shows the raw
bytes of every reply, over the board's UDP protocol on port 10001.
vardek-board-sim answers that protocol on the local machine, for trying
the panel out without a board. vardek-probe sends the board's requests
from a terminal or a script and prints the replies, as text or JSON.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
