# Compiler and linker settings for the two kinds of build: the MinGW-w64 cross-build of the real program
# and its Windows-side tests, and the native build of the platform-free logic under the sanitizers.

set(LUMIVANCE_SANITIZE "" CACHE STRING "Native builds: sanitizers to enable (address,undefined or thread)")
option(LUMIVANCE_BUILD_TESTS "Build the tests and benchmarks" ON)

add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)

# The product's own code fails to build on any warning, in every preset, so none can pile up unread. Tests,
# tools and GoogleTest keep them as warnings: their code does not ship.
function(lumivance_warnings_are_errors target)
  target_compile_options(${target} PRIVATE -Werror)
endfunction()

if(WIN32)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "The Windows build expects MinGW-w64 g++ (cmake --preset windows)")
  endif()
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0A00 WINVER=0x0A00 NTDDI_VERSION=0x0A000000)
  add_compile_options(-ffunction-sections -fdata-sections)
  # Static, so that the exe needs no libstdc++/libgcc/winpthread DLLs beside it.
  add_link_options(-static -Wl,--gc-sections)
  # Every Windows-side executable runs under Wine in a prefix that lives in this build tree.
  set(LUMIVANCE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
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
