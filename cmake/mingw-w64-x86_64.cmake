# Cross compiling for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64-posix); the
# programs built run under wine64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KESTRUN_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
find_program(KESTRUN_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KESTRUN_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRUN_WINE64})
endif()
