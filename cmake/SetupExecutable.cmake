# lumivance_setup_executable(<target> ENTRY <source> LIBS <lib>...): setup built exactly as it ships — a GUI
# program with a wide entry, the resources, PE32+ for Windows 8.1 and later, statically linked by LLD and
# stripped. ENTRY holds wWinMain; LIBS are what it wires together below the shell (the product: the worker
# and one release table; the shell's UI tests: a scripted worker).
if(NOT WIN32)
  return()
endif()

# Linked by LLD, which drops the unwind tables of unused functions (GNU ld left setup at 1.18 MB), through a
# specs file because Debian's g++ fixes GNU ld's path. .idata stays writable for the delay-load helper, and
# there is no time stamp so two clones build the same bytes. docs/performance.md (Size) has the whole story.
find_program(LUMIVANCE_LLD ld.lld)
if(NOT LUMIVANCE_LLD)
  message(FATAL_ERROR "setup is linked with LLD: install Debian's lld package (scripts/install-deps does)")
endif()
set(LUMIVANCE_LLD_SPECS "${CMAKE_BINARY_DIR}/lld-linker.specs")
file(CONFIGURE OUTPUT "${LUMIVANCE_LLD_SPECS}" CONTENT "*linker:\n@LUMIVANCE_LLD@\n\n" @ONLY)

# The oldest Windows setup works on, as the PE header declares it (the loader refuses older ones):
# SetDefaultDllDirectories is bound at load time (Windows 8, or 7 with a loader update), and the download
# opens WinHTTP with the automatic proxy, which exists from Windows 8.1 on. The manifest's supportedOS list
# starts at the same version; tests/windows/check-pe-layout holds the three together.
set(LUMIVANCE_MINIMUM_WINDOWS 6.3)

function(lumivance_setup_executable target)
  cmake_parse_arguments(S "" "ENTRY" "LIBS" ${ARGN})
  add_executable(${target} WIN32 ${S_ENTRY})
  lumivance_warnings_are_errors(${target})
  lumivance_unicode_entry(${target})
  target_link_libraries(${target} PRIVATE lumivance_app lumivance_resources ${S_LIBS})
  string(REPLACE "." ";" version "${LUMIVANCE_MINIMUM_WINDOWS}")
  list(GET version 0 major)
  list(GET version 1 minor)
  target_link_options(${target} PRIVATE -specs=${LUMIVANCE_LLD_SPECS} -Wl,-Xlink=-merge:.idata=.data -s
    -Wl,--no-insert-timestamp
    -Wl,--major-subsystem-version,${major} -Wl,--minor-subsystem-version,${minor}
    -Wl,--major-os-version,${major} -Wl,--minor-os-version,${minor})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${LUMIVANCE_LLD_SPECS}")
endfunction()
