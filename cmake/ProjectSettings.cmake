# One interface target carries the language level, the warnings and the
# sanitizer flags, so every library, program and test is built alike.

set(OSTREL_SANITIZE "none" CACHE STRING "Sanitizers to build with: none, address (ASan+UBSan) or thread")
set_property(CACHE OSTREL_SANITIZE PROPERTY STRINGS none address thread)

add_library(ostrel_build_options INTERFACE)
# Warnings are errors in the builds of CMakePresets.json (CMAKE_COMPILE_WARNING_AS_ERROR), not
# in a plain build, where a newer compiler's new warning must not stop a packager.
target_compile_features(ostrel_build_options INTERFACE cxx_std_20)
target_compile_options(ostrel_build_options INTERFACE
    -Wall -Wextra -pedantic
    -Wold-style-cast -Wnon-virtual-dtor -Wshadow)
target_compile_definitions(ostrel_build_options INTERFACE
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_KEYWORDS)
target_include_directories(ostrel_build_options INTERFACE ${PROJECT_SOURCE_DIR}
    ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/Version.h.in
    ${PROJECT_BINARY_DIR}/generated/common/Version.h @ONLY)

if(OSTREL_SANITIZE STREQUAL "address")
    set(sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(OSTREL_SANITIZE STREQUAL "thread")
    set(sanitizer_flags -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT OSTREL_SANITIZE STREQUAL "none")
    message(FATAL_ERROR "OSTREL_SANITIZE must be none, address or thread, not ${OSTREL_SANITIZE}")
endif()
if(sanitizer_flags)
    target_compile_options(ostrel_build_options INTERFACE ${sanitizer_flags})
    target_link_options(ostrel_build_options INTERFACE ${sanitizer_flags})
endif()

# libFuzzer targets: the core is instrumented for coverage, the targets link the fuzzer's main.
option(OSTREL_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(OSTREL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "OSTREL_FUZZ needs clang")
    endif()
    target_compile_options(ostrel_build_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    target_link_options(ostrel_build_options INTERFACE -fsanitize=address,undefined)
endif()
