# The board's address built into the programs, used when neither the command line nor the
# user's settings file names one. Checked here by the programs' own check (link/board_address.cpp),
# compiled and run once, so a typo or an address that reaches no single board fails the configure
# step with a clear message instead of every send of the running program.
include_guard(GLOBAL)

set(VARDEK_BOARD_ADDRESS "127.0.0.1" CACHE STRING
    "IPv4 address of the VARDEK board, in dotted decimal")

if(CMAKE_CROSSCOMPILING)
    message(STATUS "VARDEK_BOARD_ADDRESS not checked: the check cannot run when cross-compiling")
elseif(NOT VARDEK_BOARD_ADDRESS_CHECKED STREQUAL VARDEK_BOARD_ADDRESS)
    get_filename_component(root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
    set(link ${root}/link)
    try_run(run_result compile_result
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/check_board_address.cpp
            ${link}/board_address.cpp ${link}/udp_socket.cpp ${link}/reply_text.cpp
            ${link}/board_protocol.cpp
        CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${root}"
        CXX_STANDARD 20
        CXX_STANDARD_REQUIRED ON
        COMPILE_OUTPUT_VARIABLE compile_output
        RUN_OUTPUT_VARIABLE problem
        ARGS "${VARDEK_BOARD_ADDRESS}")
    if(NOT compile_result)
        message(FATAL_ERROR "cannot build the check of VARDEK_BOARD_ADDRESS:\n${compile_output}")
    endif()
    if(NOT run_result EQUAL 0)
        string(STRIP "${problem}" problem)
        message(FATAL_ERROR "VARDEK_BOARD_ADDRESS: ${problem}")
    endif()
    # Checked once per value, not at every configure.
    set(VARDEK_BOARD_ADDRESS_CHECKED "${VARDEK_BOARD_ADDRESS}" CACHE INTERNAL "")
endif()
