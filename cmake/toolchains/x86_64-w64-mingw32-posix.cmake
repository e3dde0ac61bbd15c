# Cross-build for 64-bit x64 Windows with Debian's MinGW-w64 (posix thread model, so std::thread works). Not
# what ships (cmake/toolchains/i686-w64-mingw32-posix.cmake is): bench/setup-bench builds setup with it to
# measure what the 32-bit build costs against a 64-bit one.
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(LUMIVANCE_MINGW_TRIPLE x86_64-w64-mingw32)
set(LUMIVANCE_MANIFEST_ARCHITECTURE amd64)
set(LUMIVANCE_SETUP_ARCHITECTURE x64)
set(LUMIVANCE_WINE_MODULES_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-posix.cmake)
