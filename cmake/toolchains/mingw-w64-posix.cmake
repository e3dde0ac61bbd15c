# What both Windows toolchains share, for the LUMIVANCE_MINGW_TRIPLE the including file sets: Debian's
# MinGW-w64 tools of that triple (posix thread model, so std::thread works), and its sysroot alone for
# headers, libraries and packages.
set(CMAKE_SYSTEM_NAME Windows)

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
