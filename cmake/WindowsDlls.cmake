# Every Windows DLL the code uses is reached through one target, windows::<dll>, so that how the program
# binds to it is decided in one place (for the shipped exe: delay-loaded after the DLL search has been
# restricted to System32, so a DLL planted next to setup is never loaded).
if(NOT WIN32)
  return()
endif()

set(LUMIVANCE_WINDOWS_DLLS winhttp bcrypt wintrust crypt32 ole32 comctl32 user32 version)
foreach(dll IN LISTS LUMIVANCE_WINDOWS_DLLS)
  add_library(windows_dll_${dll} INTERFACE)
  target_link_libraries(windows_dll_${dll} INTERFACE ${dll})
  add_library(windows::${dll} ALIAS windows_dll_${dll})
endforeach()
