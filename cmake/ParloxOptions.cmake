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

# Lock checks: functions that must run with a lock held check that they do (CheckedMutex). On in
# every build but Release, the sanitizer builds and the tests' included.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
    add_compile_definitions(PARLOX_CHECK_LOCKS)
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

# Windows: Windows 10 APIs, and programs that start on a bare Windows (libstdc++, libgcc and
# winpthread linked in, no DLL beside the program).
if(WIN32)
    add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00)
    add_link_options(-static)
endif()

# The Windows program's resources (dialogs, icon, manifest) linked into a target.
function(parlox_add_resources target)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/res/parlox.rc)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/res)
    set_source_files_properties(${PROJECT_SOURCE_DIR}/res/parlox.rc PROPERTIES OBJECT_DEPENDS
        "${PROJECT_SOURCE_DIR}/res/parlox.ico;${PROJECT_SOURCE_DIR}/res/parlox.manifest")
endfunction()

# One GoogleTest executable per unit group, discovered by ctest. A cross build has no GoogleTest
# for its target installed, so it builds Debian's googletest source package along.
include(GoogleTest)
if(CMAKE_CROSSCOMPILING)
    set(PARLOX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    # Defines GTest::gtest and GTest::gtest_main as a found package would.
    add_subdirectory(${PARLOX_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
    find_package(GTest REQUIRED)
endif()
function(parlox_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
    parlox_warnings(${name})
    if(CMAKE_CROSSCOMPILING)
        # One ctest entry per program: each start of an emulated program costs about a second, too
        # much to pay for every case.
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES TIMEOUT 300 ENVIRONMENT "${ARG_ENV}")
    else()
        # NO_PRETTY_VALUES: a parameterised case is named by its row's name alone, not followed by
        # a byte dump of the row (which holds pointers and differs from build to build).
        gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60
                             PROPERTIES TIMEOUT 120 ENVIRONMENT "${ARG_ENV}")
    endif()
endfunction()
