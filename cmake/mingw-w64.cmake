# Shared part of the MinGW-w64 toolchain files: Debian's posix-thread cross compilers, libraries
# and headers only from the target's sysroot and from the prefix that tools/build-windows-deps.sh
# fills (KESTRUN_WINDOWS_DEPS), never from the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)
set(CMAKE_C_COMPILER ${KESTRUN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRUN_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KESTRUN_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${KESTRUN_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

# try_compile projects see the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTRUN_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUN_MINGW_TRIPLE})
if(KESTRUN_WINDOWS_DEPS)
    list(PREPEND CMAKE_FIND_ROOT_PATH ${KESTRUN_WINDOWS_DEPS})
    set(ENV{PKG_CONFIG_LIBDIR} ${KESTRUN_WINDOWS_DEPS}/lib/pkgconfig)
else()
    set(ENV{PKG_CONFIG_LIBDIR} /usr/${KESTRUN_MINGW_TRIPLE}/lib/pkgconfig)
endif()
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
