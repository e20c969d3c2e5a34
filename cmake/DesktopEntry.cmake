# What a desktop needs to offer a program: its desktop entry NAME.desktop and its AppStream
# metadata APPSTREAM_ID.metainfo.xml, both filled in from NAME.desktop.in and
# NAME.metainfo.xml.in (@VARDEK_APPSTREAM_ID@ names the metadata's id), and its icons from
# icons/ as scripts/make-icon draws them: NAME.png (32 x 32), NAME-64.png, NAME-128.png and
# NAME.svg.
#
# vardek_add_desktop_entry(<target> NAME <name> APPSTREAM_ID <id>)
function(vardek_add_desktop_entry target)
    cmake_parse_arguments(ARG "" "NAME;APPSTREAM_ID" "" ${ARGN})
    set(VARDEK_APPSTREAM_ID ${ARG_APPSTREAM_ID})
    configure_file(${ARG_NAME}.desktop.in ${ARG_NAME}.desktop @ONLY)
    configure_file(${ARG_NAME}.metainfo.xml.in ${ARG_APPSTREAM_ID}.metainfo.xml @ONLY)
    target_sources(${target} PRIVATE ${ARG_NAME}.desktop.in ${ARG_NAME}.metainfo.xml.in)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${ARG_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
    install(FILES icons/${ARG_NAME}.png DESTINATION ${icons}/32x32/apps)
    foreach(size 64 128)
        install(FILES icons/${ARG_NAME}-${size}.png DESTINATION ${icons}/${size}x${size}/apps
            RENAME ${ARG_NAME}.png)
    endforeach()
    install(FILES icons/${ARG_NAME}.svg DESTINATION ${icons}/scalable/apps)
endfunction()
