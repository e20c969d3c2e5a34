# The Debian package takes its version from debian/changelog, everything else from project(): the
# latest changelog entry must name the project's version, or the package would carry programs
# that report another. A binary-only rebuild (binNMU) adds +bN to the package's version and
# nothing to the programs', so 0.2.0.0+b1 names 0.2.0.0. Run in script mode, by a test rather
# than at configure time, so that a release tarball without debian/ configures:
# `cmake -DVARDEK_CHANGELOG=... -DVARDEK_VERSION=... -P ChangelogVersion.cmake`.
file(STRINGS ${VARDEK_CHANGELOG} top LIMIT_COUNT 1)
if(NOT top MATCHES "^[a-z0-9.+-]+ \\(([^)]+)\\)")
    message(FATAL_ERROR "${VARDEK_CHANGELOG}: the first line names no version: ${top}")
endif()
set(named "${CMAKE_MATCH_1}")
string(REGEX REPLACE "\\+b[0-9]+$" "" version "${named}")
if(NOT version STREQUAL VARDEK_VERSION)
    message(FATAL_ERROR
        "${VARDEK_CHANGELOG} names version ${named} at the top, the project "
        "${VARDEK_VERSION}: add an entry for ${VARDEK_VERSION} (dch -v ${VARDEK_VERSION}) or "
        "correct project(VERSION).")
endif()
