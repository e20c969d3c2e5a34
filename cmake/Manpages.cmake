# Manual pages, written in roff next to the program they describe. vardek_add_manpage(<page>.<n>)
# fills in the project's version and release date (@PROJECT_VERSION@ and @VARDEK_RELEASE_DATE@
# in the .TH line), gzips the page at build time with gzip -n (no name or time stamp in the
# header, so the package is byte for byte the same from one build to the next) and installs it
# to share/man/man<n>.
find_program(VARDEK_GZIP gzip REQUIRED)

function(vardek_add_manpage page)
    get_filename_component(name ${page} NAME)
    get_filename_component(extension ${page} LAST_EXT)
    string(SUBSTRING "${extension}" 1 -1 section)
    if(NOT section MATCHES "^[1-9]$")
        message(FATAL_ERROR "vardek_add_manpage: ${page} has no manual section as its extension")
    endif()
    set(filled ${CMAKE_CURRENT_BINARY_DIR}/${name}.filled)
    set(copy ${CMAKE_CURRENT_BINARY_DIR}/${name})
    configure_file(${page} ${filled} @ONLY)
    add_custom_command(OUTPUT ${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${filled} ${copy}
        COMMAND ${VARDEK_GZIP} -9 -n -f ${copy}
        DEPENDS ${filled}
        COMMENT "Compressing the manual page ${name}"
        VERBATIM)
    add_custom_target(manpage_${name} ALL DEPENDS ${copy}.gz)
    install(FILES ${copy}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
