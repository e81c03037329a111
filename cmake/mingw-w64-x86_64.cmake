# Cross-building the Windows program on Debian with mingw-w64 (g++-mingw-w64-x86-64-posix: the
# POSIX thread model, which std::thread needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PARLOX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PARLOX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PARLOX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PARLOX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PARLOX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine (scripts/test-windows.sh sets up the prefix); ctest puts this in
# front of every test command.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
