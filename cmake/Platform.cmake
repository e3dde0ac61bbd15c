# Compiler and linker settings for the two kinds of build: the MinGW-w64 cross-build of the real program
# and its Windows-side tests, and the native build of the platform-free logic under the sanitizers.

set(LUMIVANCE_SANITIZE "" CACHE STRING "Native builds: sanitizers to enable (address,undefined or thread)")
option(LUMIVANCE_BUILD_TESTS "Build the tests and benchmarks" ON)

add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)

# The oldest Windows setup works on, as the PE header declares it (the loader refuses older ones):
# SetDefaultDllDirectories is bound at load time (Windows 8, or 7 with a loader update), and the download
# opens WinHTTP with the automatic proxy, which exists from Windows 8.1 on. The manifest's supportedOS list
# starts at the same version; tests/windows/check-pe-layout holds the three together.
set(LUMIVANCE_MINIMUM_WINDOWS 6.3)

# lumivance_product_code(<target>): the target is the product's own code. It fails to build on any warning,
# in every preset, so none can pile up unread, and in the Windows build it sees the Windows headers as of
# LUMIVANCE_MINIMUM_WINDOWS, so a call that a newer Windows brought does not compile. Tests, tools and
# GoogleTest keep warnings as warnings and see Windows 10's headers: their code does not ship.
function(lumivance_product_code target)
  target_compile_options(${target} PRIVATE -Werror)
  set_target_properties(${target} PROPERTIES LUMIVANCE_PRODUCT ON)
endfunction()

if(WIN32)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "The Windows build expects MinGW-w64 g++ (cmake --preset windows)")
  endif()
  string(REPLACE "." ";" version "${LUMIVANCE_MINIMUM_WINDOWS}")
  list(GET version 0 major)
  list(GET version 1 minor)
  math(EXPR product_winnt "(${major} << 8) | ${minor}" OUTPUT_FORMAT HEXADECIMAL)
  set(product "$<BOOL:$<TARGET_PROPERTY:LUMIVANCE_PRODUCT>>")
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    "_WIN32_WINNT=$<IF:${product},${product_winnt},0x0A00>" "WINVER=$<IF:${product},${product_winnt},0x0A00>"
    "NTDDI_VERSION=$<IF:${product},${product_winnt}0000,0x0A000000>")
  add_compile_options(-ffunction-sections -fdata-sections)
  # Static, so that the exe needs no libstdc++/libgcc/winpthread DLLs beside it.
  add_link_options(-static -Wl,--gc-sections)
  # Every Windows-side executable runs under Wine in a 64-bit prefix that lives in this build tree, the
  # 32-bit ones under WOW64.
  set(LUMIVANCE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  # And a 32-bit Windows, for the one suite that shows what setup does there.
  set(LUMIVANCE_WINEPREFIX32 "${CMAKE_BINARY_DIR}/wineprefix32")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/tools/wine-run;--prefix=${LUMIVANCE_WINEPREFIX}")
else()
  if(NOT LUMIVANCE_SANITIZE STREQUAL "")
    add_compile_options(-fsanitize=${LUMIVANCE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${LUMIVANCE_SANITIZE})
  endif()
endif()

# Windows programs with a wide entry point (wmain / wWinMain).
function(lumivance_unicode_entry target)
  target_link_options(${target} PRIVATE -municode)
endfunction()
