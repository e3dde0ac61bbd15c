# Cross-build for 64-bit x64 Windows with Debian's MinGW-w64 (posix thread model, so std::thread works). Not
# what ships (cmake/toolchains/i686-w64-mingw32-posix.cmake is): bench/setup-bench builds setup with it to
# measure what the 32-bit build costs against a 64-bit one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(LUMIVANCE_MINGW_TRIPLE x86_64-w64-mingw32)
set(LUMIVANCE_MANIFEST_ARCHITECTURE amd64)
set(LUMIVANCE_SETUP_ARCHITECTURE x64)
set(LUMIVANCE_WINE_MODULES_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set(CMAKE_C_COMPILER ${LUMIVANCE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMIVANCE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMIVANCE_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${LUMIVANCE_MINGW_TRIPLE}-dlltool)
set(CMAKE_RANLIB ${LUMIVANCE_MINGW_TRIPLE}-ranlib)
set(CMAKE_OBJDUMP ${LUMIVANCE_MINGW_TRIPLE}-objdump)
set(CMAKE_STRIP ${LUMIVANCE_MINGW_TRIPLE}-strip)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMIVANCE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
