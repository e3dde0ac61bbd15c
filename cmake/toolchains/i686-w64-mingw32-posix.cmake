# Cross-build for 32-bit x86 Windows with Debian's MinGW-w64 (posix thread model, so std::thread works): the
# setup that ships. One 32-bit exe runs on x64 Windows under WOW64 and on ARM64 Windows through Windows' own
# x86 emulation (Windows 10 on ARM emulates no x64 program), and on 32-bit Windows it can say in its own
# words that Lumivance needs 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR X86)

set(LUMIVANCE_MINGW_TRIPLE i686-w64-mingw32)
# The machine as the manifest's assemblyIdentity names it, and as release.json records it.
set(LUMIVANCE_MANIFEST_ARCHITECTURE x86)
set(LUMIVANCE_SETUP_ARCHITECTURE x86)
# Wine's own PE modules for this machine, whose exports the planted-DLL fakes copy (Debian: wine32:i386).
set(LUMIVANCE_WINE_MODULES_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)

include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-posix.cmake)
