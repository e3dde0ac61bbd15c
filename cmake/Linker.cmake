# How every Windows program is linked: by LLD, through a specs file because Debian's g++ fixes GNU ld's
# path. GNU ld cannot link the delay imports of 32-bit programs (it left CertOpenStore's slot in a
# program's import table at 0, so the first call jumped to address 0), and it keeps every function that
# has unwind data (docs/performance.md, Size). .idata stays writable for the delay-load helper, which writes
# each resolved address into its slot there (LLD would merge it into the read-only .rdata, and warns that
# this overrides its default).
if(NOT WIN32)
  return()
endif()

find_program(LUMIVANCE_LLD ld.lld)
if(NOT LUMIVANCE_LLD)
  message(FATAL_ERROR "Windows programs are linked with LLD: install Debian's lld package (scripts/install-deps does)")
endif()
set(LUMIVANCE_LLD_SPECS "${CMAKE_BINARY_DIR}/lld-linker.specs")
file(CONFIGURE OUTPUT "${LUMIVANCE_LLD_SPECS}" CONTENT "*linker:\n@LUMIVANCE_LLD@\n\n" @ONLY)
add_link_options(-specs=${LUMIVANCE_LLD_SPECS} -Wl,-Xlink=-merge:.idata=.data)

# 32-bit programs unwind C++ exceptions by DWARF tables, and LLD would drop those of every template
# instantiation in Debian's libstdc++ (tools/restore-eh-frame-comdats says why): they link a copy that
# keeps them, made here from the toolchain's own whenever that changes.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=libstdc++.a
    OUTPUT_VARIABLE libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(LUMIVANCE_LIBSTDCXX_DIR "${CMAKE_BINARY_DIR}/libstdc++-with-unwind-tables")
  set(copy "${LUMIVANCE_LIBSTDCXX_DIR}/libstdc++.a")
  if(NOT EXISTS "${copy}" OR "${libstdcxx}" IS_NEWER_THAN "${copy}"
     OR "${PROJECT_SOURCE_DIR}/tools/restore-eh-frame-comdats" IS_NEWER_THAN "${copy}")
    file(MAKE_DIRECTORY "${LUMIVANCE_LIBSTDCXX_DIR}")
    execute_process(COMMAND /usr/bin/python3 "${PROJECT_SOURCE_DIR}/tools/restore-eh-frame-comdats" "${libstdcxx}"
      "${copy}" "${CMAKE_RANLIB}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "Could not make ${copy} from ${libstdcxx}")
    endif()
  endif()
  # Searched before the toolchain's own folders, so g++'s -lstdc++ finds the copy.
  add_link_options(-L${LUMIVANCE_LIBSTDCXX_DIR})
endif()
