# lumivance_setup_executable(<target> ENTRY <source> LIBS <lib>...): setup built exactly as it ships — a GUI
# program with a wide entry, the resources, for Windows 8.1 and later, statically linked by LLD and
# stripped, with the image hardening of its machine (PE32 for the x86 setup that ships, PE32+ for the x64
# one bench/setup-bench compares it with). ENTRY holds wWinMain; LIBS are what it wires together below the
# shell (the product: the worker and one release table; the shell's UI tests: a scripted worker).
if(NOT WIN32)
  return()
endif()

# Linked by LLD like every Windows program here (cmake/Linker.cmake), which drops the unwind tables
# of unused functions (GNU ld left setup at 1.18 MB), and with no time stamp, so two clones build the same
# bytes. docs/performance.md (Size) has the whole story.

function(lumivance_setup_executable target)
  cmake_parse_arguments(S "" "ENTRY" "LIBS" ${ARGN})
  add_executable(${target} WIN32 ${S_ENTRY})
  lumivance_product_code(${target})
  lumivance_unicode_entry(${target})
  target_link_libraries(${target} PRIVATE lumivance_app lumivance_resources ${S_LIBS})
  string(REPLACE "." ";" version "${LUMIVANCE_MINIMUM_WINDOWS}")
  list(GET version 0 major)
  list(GET version 1 minor)
  target_link_options(${target} PRIVATE -s -Wl,--no-insert-timestamp
    -Wl,--major-subsystem-version,${major} -Wl,--minor-subsystem-version,${minor}
    -Wl,--major-os-version,${major} -Wl,--minor-os-version,${minor})
  # ASLR and DEP in either machine's image. The 32-bit image also gets the 4 GB address space that WOW64
  # gives a large-address-aware program, and NO_SEH: nothing in it registers an SEH handler (its C++
  # exceptions unwind by DWARF tables, and check-pe-layout finds no code touching the chain's head, %fs:0), so
  # no handler in it may ever be dispatched to, and a SafeSEH table would have nothing to list.
  target_link_options(${target} PRIVATE -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--large-address-aware -Wl,--no-seh)
  else()
    target_link_options(${target} PRIVATE -Wl,--high-entropy-va)
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${LUMIVANCE_LLD_SPECS}")
endfunction()
