# A program's texts in other languages, the Qt Linguist way: a .ts file per language in the tree,
# compiled by lrelease and embedded in the target under :/i18n, where the program's QTranslator
# finds it. `cmake --build <build> --target update_translations` brings every .ts file up to date
# with the sources (lupdate); the check that tests/ registers for each target fails while one is
# behind them or holds an entry not yet translated.
find_package(Qt6 6.4 REQUIRED COMPONENTS LinguistTools)

# vardek_add_translations(<target> SOURCE_LANGUAGE <language> TS_FILES <file>... SOURCES <file>...)
# SOURCES are the files whose texts lupdate gathers: those through tr() and the .ui files, and
# the Qt-free ones marked with windowText() (panel_view.h).
function(vardek_add_translations target)
    cmake_parse_arguments(ARG "" "SOURCE_LANGUAGE" "TS_FILES;SOURCES" ${ARGN})
    # No line numbers, so that only a change of a text makes a .ts file out of date; no entries
    # for texts that are gone.
    set(options -silent -locations none -no-obsolete -source-language ${ARG_SOURCE_LANGUAGE}
        -tr-function-alias QT_TRANSLATE_NOOP+=windowText)
    qt_add_translations(${target} TS_FILES ${ARG_TS_FILES} SOURCES ${ARG_SOURCES}
        LUPDATE_OPTIONS ${options})

    list(TRANSFORM ARG_TS_FILES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    # The check runs lupdate on the files alone, so it is given the tree's include root, through
    # which lupdate finds the classes the sources name; update_translations has the target's.
    set(check ${CMAKE_CURRENT_BINARY_DIR}/${target}_check_translations.cmake)
    file(GENERATE OUTPUT ${check} CONTENT "set(lupdate \"$<TARGET_FILE:Qt6::lupdate>\")
set(options \"${options};-I;${PROJECT_SOURCE_DIR}\")
set(ts_files \"${ARG_TS_FILES}\")
set(sources \"${ARG_SOURCES}\")
set(work \"${CMAKE_CURRENT_BINARY_DIR}/${target}_check_translations\")
include(\"${PROJECT_SOURCE_DIR}/cmake/CheckTranslations.cmake\")
")
    set_property(GLOBAL APPEND PROPERTY VARDEK_TRANSLATION_CHECKS ${target} ${check})
endfunction()
