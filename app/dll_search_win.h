#pragma once

// Where setup's process loads DLLs from. Setup runs from the Downloads folder, where anybody can leave a
// winhttp.dll or crypt32.dll; no DLL may ever come from there.

namespace lumivance {

// Restricts every DLL this process loads from now on to System32: the process's default search path, and
// each DLL setup delay-loads, bound explicitly from System32 together with the system DLLs that its use
// binds lazily (see dll_search_win.cpp for why both are needed). Call it first in wWinMain, before anything
// can load a DLL; only KERNEL32 and msvcrt are bound before it (cmake/WindowsDlls.cmake).
void RestrictDllLoadingToSystem32();

}  // namespace lumivance
