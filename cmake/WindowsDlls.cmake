# Every Windows DLL the code uses is reached through one target, windows::<dll>, so that how the program
# binds to it is decided in one place (for the shipped exe: delay-loaded after the DLL search has been
# restricted to System32, so a DLL planted next to setup is never loaded).
if(NOT WIN32)
  return()
endif()

set(LUMIVANCE_WINDOWS_DLLS advapi32 winhttp bcrypt wintrust crypt32 ole32 comctl32 user32 version)
foreach(dll IN LISTS LUMIVANCE_WINDOWS_DLLS)
  add_library(windows_dll_${dll} INTERFACE)
  target_link_libraries(windows_dll_${dll} INTERFACE ${dll})
  add_library(windows::${dll} ALIAS windows_dll_${dll})
endforeach()

# Delay-loading. A DLL bound at load time is searched for in the exe's own folder before wWinMain can run,
# and setup runs from Downloads, where anybody can leave a winhttp.dll or version.dll. Bound on first use
# instead, every DLL of the list loads after wWinMain has restricted the search to System32. The delay
# import libraries are made at configure time from the toolchain's own import libraries (every function
# they name; data exports cannot be delay-loaded and none is used), so any function of these DLLs works.
set(LUMIVANCE_DELAYLOAD_DIR "${CMAKE_BINARY_DIR}/delayload")
file(MAKE_DIRECTORY "${LUMIVANCE_DELAYLOAD_DIR}")
# comctl32 version 6 exports TaskDialogIndirect under ordinal 345; setup binds it by that ordinal.
set(LUMIVANCE_DELAYLOAD_BY_ORDINAL_comctl32 "TaskDialogIndirect=345")

function(lumivance_make_delay_library dll out_var)
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=lib${dll}.a
    OUTPUT_VARIABLE import_library OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${import_library}")
    message(FATAL_ERROR "No import library lib${dll}.a in the MinGW-w64 toolchain")
  endif()
  execute_process(COMMAND "${CMAKE_NM}" "${import_library}" OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${CMAKE_NM} could not read ${import_library}")
  endif()
  # A function has both an import slot (I __imp_Name) and a thunk (T Name); data has the slot only.
  string(REGEX MATCHALL "[0-9a-f]+ I __imp_[A-Za-z0-9_@?$]+" slots "${symbols}")
  string(REGEX MATCHALL "[0-9a-f]+ T [A-Za-z0-9_@?$]+" thunks "${symbols}")
  list(TRANSFORM slots REPLACE "^[0-9a-f]+ I __imp_" "")
  list(TRANSFORM thunks REPLACE "^[0-9a-f]+ T " "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # 32-bit symbols carry C's leading underscore, and stdcall ones their argument bytes (_Name@8), which
    # the .def file keeps and dlltool's --kill-at drops from the name the DLL is asked for.
    list(TRANSFORM slots REPLACE "^_" "")
    list(TRANSFORM thunks REPLACE "^_" "")
    set(kill_at --kill-at)
  else()
    set(kill_at)
  endif()
  set(names "")
  foreach(name IN LISTS slots)
    if(name IN_LIST thunks)
      list(APPEND names "${name}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  foreach(binding IN LISTS LUMIVANCE_DELAYLOAD_BY_ORDINAL_${dll})
    string(REPLACE "=" ";" binding "${binding}")
    list(GET binding 0 name)
    list(GET binding 1 ordinal)
    list(TRANSFORM names REPLACE "^(${name}(@[0-9]+)?)$" "\\1 @${ordinal} NONAME")
  endforeach()
  list(JOIN names "\n" exports)

  set(def "${LUMIVANCE_DELAYLOAD_DIR}/${dll}.def")
  set(library "${LUMIVANCE_DELAYLOAD_DIR}/lib${dll}_delay.a")
  set(text "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
  set(old "")
  if(EXISTS "${def}")
    file(READ "${def}" old)
  endif()
  if(NOT old STREQUAL text OR NOT EXISTS "${library}")
    file(WRITE "${def}" "${text}")
    execute_process(COMMAND "${CMAKE_DLLTOOL}" --input-def "${def}" --dllname ${dll}.dll
      ${kill_at} --output-delaylib "${library}" RESULT_VARIABLE failed)
    if(failed)
      file(REMOVE "${def}" "${library}")
      message(FATAL_ERROR "${CMAKE_DLLTOOL} could not make the delay-load library for ${dll}.dll")
    endif()
  endif()
  set(${out_var} "${library}" PARENT_SCOPE)
endfunction()

foreach(dll IN LISTS LUMIVANCE_WINDOWS_DLLS)
  lumivance_make_delay_library(${dll} delay_library)
  set_property(TARGET windows_dll_${dll} PROPERTY INTERFACE_LINK_LIBRARIES "${delay_library}")
endforeach()

# CMake links -luser32 -lgdi32 -lole32 ... into every Windows program by default, which would bind at load
# time whatever a target forgot to take from windows::<dll>. Only KERNEL32 (and msvcrt, the C runtime's own
# import) may be bound at load time, so a forgotten target is a link error instead.
set(CMAKE_CXX_STANDARD_LIBRARIES "-lkernel32")
