# Settings for the project's own targets: strict warnings, and the sanitizers when the asan preset
# asks for them. Kept on targets so Qt and third-party code keep their own flags. Warnings become
# errors only in the presets that ask for it (CMAKE_COMPILE_WARNING_AS_ERROR), never in a user's or
# packager's own build, where a newer compiler's new warning must not stop the build.
option(VARDEK_SANITIZE "Build the project's targets with AddressSanitizer and UBSan" OFF)
# The fuzz preset: the libraries get libFuzzer's coverage hooks and the sanitizers, so the fuzz
# targets' coverage reaches into them; only the fuzz targets link libFuzzer's own main().
option(VARDEK_FUZZ "Build the fuzz targets in fuzz/, with libFuzzer (Clang only)" OFF)

# Control-flow protection (Intel CET) where the compiler and the architecture take it, as Debian
# 13's dpkg-buildflags asks by default: x86 only.
include(CheckCXXCompilerFlag)
check_cxx_compiler_flag(-fcf-protection VARDEK_CF_PROTECTION)

function(vardek_target_defaults target)
    # One include root for the whole tree, so that every include names the folder, and so the
    # layer, it comes from ("link/board_protocol.h"); the build tree's root for the headers that
    # configuring writes ("window/application_info.h").
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(VARDEK_CF_PROTECTION)
        target_compile_options(${target} PRIVATE -fcf-protection)
    endif()
    if(VARDEK_SANITIZE)
        set(san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
        target_compile_options(${target} PRIVATE ${san})
        target_link_options(${target} PRIVATE ${san})
    endif()
    if(VARDEK_FUZZ)
        # Without UBSan's check of indirect calls' function types: Clang 14 cannot assemble
        # it together with libFuzzer's coverage in the probe's coroutines ("Cannot represent a
        # difference across sections").
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
            -fno-sanitize=function -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    endif()
endfunction()
