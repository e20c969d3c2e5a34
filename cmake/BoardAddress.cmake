# The board's address, fixed into the window at build time. Checked here, so a typo fails the
# configure step with a clear message instead of failing every send of the running program.
# Usable in script mode too: `cmake -DVARDEK_BOARD_ADDRESS=... -P BoardAddress.cmake`.

# Dotted decimal only, as the endpoint parses it: four octets of 0..255 without leading zeros.
function(vardek_check_board_address address)
    set(octet "(0|[1-9][0-9]?[0-9]?)")
    set(valid FALSE)
    if(address MATCHES "^${octet}\\.${octet}\\.${octet}\\.${octet}$")
        set(valid TRUE)
        foreach(index RANGE 1 4)
            if(CMAKE_MATCH_${index} GREATER 255)
                set(valid FALSE)
            endif()
        endforeach()
    endif()
    if(NOT valid)
        message(FATAL_ERROR
            "VARDEK_BOARD_ADDRESS \"${address}\" is not a dotted-decimal IPv4 address "
            "(four numbers 0..255 separated by dots, such as 192.168.0.10).")
    endif()
endfunction()

set(VARDEK_BOARD_ADDRESS "127.0.0.1" CACHE STRING
    "IPv4 address of the VARDEK board, in dotted decimal")
vardek_check_board_address("${VARDEK_BOARD_ADDRESS}")
