# Settings for the project's own targets: strict warnings, and the sanitizers when the asan preset
# asks for them. Kept on targets so Qt and third-party code keep their own flags.
option(VARDEK_SANITIZE "Build the project's targets with AddressSanitizer and UBSan" OFF)

function(vardek_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    if(VARDEK_SANITIZE)
        set(san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
        target_compile_options(${target} PRIVATE ${san})
        target_link_options(${target} PRIVATE ${san})
    endif()
endfunction()
