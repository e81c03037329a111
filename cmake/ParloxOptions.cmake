# Warnings, sanitizers and the test helper shared by every target of ours.

if(PARLOX_SANITIZER STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
elseif(PARLOX_SANITIZER STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT PARLOX_SANITIZER STREQUAL "")
    message(FATAL_ERROR "PARLOX_SANITIZER must be empty, 'address' or 'thread'")
endif()

# libFuzzer targets (tests/fuzz): every library is instrumented for coverage and built with
# ASan+UBSan, so that a fault anywhere under a target stops the fuzzer on its input.
option(PARLOX_FUZZ "Build the libFuzzer targets in tests/fuzz (clang only)" OFF)
if(PARLOX_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "PARLOX_FUZZ needs clang (e.g. -DCMAKE_CXX_COMPILER=clang++-14)")
    endif()
    if(NOT PARLOX_SANITIZER STREQUAL "")
        message(FATAL_ERROR "PARLOX_FUZZ brings its own sanitizers; leave PARLOX_SANITIZER empty")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# Our own code builds without a single warning.
function(parlox_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wformat=2 -Werror)
    # GCC 12 reports std::string concatenations as overlapping copies at -O3 (-Wrestrict false
    # positives inside libstdc++), which would break Release builds.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
endfunction()

# One GoogleTest executable per unit group, discovered by ctest.
include(GoogleTest)
find_package(GTest REQUIRED)
function(parlox_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
    parlox_warnings(${name})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 ENVIRONMENT "${ARG_ENV}")
endfunction()
