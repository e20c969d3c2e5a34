# The Debian package takes its version from debian/changelog, everything else from project(): the
# latest changelog entry must name the project's version, or the package would carry programs
# that report another. Usable in script mode too:
# `cmake -DVARDEK_CHANGELOG=... -DVARDEK_VERSION=... -P ChangelogVersion.cmake`.
function(vardek_check_changelog_version changelog version)
    file(STRINGS ${changelog} top LIMIT_COUNT 1)
    if(NOT top MATCHES "^[a-z0-9.+-]+ \\(([^)]+)\\)")
        message(FATAL_ERROR "${changelog}: the first line names no version: ${top}")
    endif()
    if(NOT CMAKE_MATCH_1 STREQUAL version)
        message(FATAL_ERROR
            "${changelog} names version ${CMAKE_MATCH_1} at the top, the project ${version}: "
            "add an entry for ${version} (dch -v ${version}) or correct project(VERSION).")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    vardek_check_changelog_version(${VARDEK_CHANGELOG} ${VARDEK_VERSION})
endif()
