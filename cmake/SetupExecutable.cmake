# lumivance_setup_executable(<target> ENTRY <source> LIBS <lib>...): setup built exactly as it ships — a GUI
# program with a wide entry, the resources, PE32+ for Windows 8.1 and later, statically linked by LLD and
# stripped. ENTRY holds wWinMain; LIBS are what it wires together below the shell (the product: the worker
# and one release table; the shell's UI tests: a scripted worker).
if(NOT WIN32)
  return()
endif()

# Setup is linked by LLD rather than GNU ld. GNU ld's PE script keeps every .pdata/.xdata section, and with
# them every function they describe, so --gc-sections drops almost nothing of a static libstdc++: setup
# carried 345 KB of code and unwind tables that nothing calls (1.18 MB; 837 KB with LLD, same objects, same
# libraries), because LLD keeps a function's unwind entries only while it keeps the function. Debian's MinGW
# g++ is built with GNU ld's path fixed, which -fuse-ld=lld cannot override; a specs file naming the linker
# (GCC's "linker" spec) can. The import tables stay writable, as GNU ld lays them out: the delay-load
# helper writes each resolved address into its slot in .idata, which LLD would otherwise merge into the
# read-only .rdata (LLD warns that this overrides its default).
# No time stamp in the PE header: it was the only difference between two release builds of one commit from
# two clones (SetupPe.RebuiltFromAnotherFolderLaterIsByteIdentical). LLD's /Brepro would put a content hash
# there instead, but adds a debug directory and 512 bytes; Windows reads the field only to check bound
# imports, and setup has none.
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
