#include "app/dll_search_win.h"

#include <windows.h>
#include <delayimp.h>

#include <cstring>
#include <initializer_list>

// Two ways a DLL is found, and what each needs.
//
// 1. Bare names searched on the process's search path. SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
//    makes that path System32 alone for LoadLibrary and, by its documentation, for the dependent DLLs the
//    system searches for; SetDllDirectoryW(L"") takes the current directory out of the legacy path too.
//
// 2. Bare names that are already loaded. Windows documents (Dynamic-link library search order, the
//    loaded-module list) that a name whose module is already loaded resolves to that module, whatever
//    folder it came from, before any directory is searched.
//
// Wine honours (1) only for LoadLibrary. Its system DLLs bind some of their dependencies lazily: a delay
// import is resolved by LdrResolveDelayLoadedAPI with LdrLoadDll(NULL, ...), and a NULL path means the
// path ntdll computed once when the process started (default_load_path, set in build_main_module: setup's
// own folder first), whatever SetDefaultDllDirectories said later; the static imports of a DLL bound that
// way are searched there too (dlls/ntdll/loader.c, Wine 8.0). So WinHTTP, loaded from System32, binds
// crypt32 and secur32 (and crypt32's bcrypt) from setup's folder during its first TLS handshake. With
// WINEDEBUG=+pid,+loaddll,+module, a fake crypt32.dll beside setup and Wine told to prefer it, a run
// without the binding below shows
//   looking for L"crypt32.dll" in (null)
//   got environment n,b for L"crypt32"
//   Loaded L"Z:\tmp\probe\pb\crypt32.dll" at 0000000320630000: native
// and the fake's export ends the process.
//
// Wine does honour (2): find_dll_file returns the loaded module of that base name (find_basename_module)
// before it searches anything. So each system DLL that setup's use of a DLL binds lazily is bound first,
// explicitly from System32, before that DLL is first called; the later lazy bind by bare name then finds
// it loaded. With the binding, the same run shows
//   looking for L"crypt32.dll" in (null)
//   Found L"C:\windows\system32\crypt32.dll" for L"crypt32.dll" at 00000002964D0000, count=-1
// (count -1: pinned) and installs. PlantedDllClosure.* (tests/e2e) plants every non-KnownDLL a complete run
// loads, beside setup and in its current directory, and fails when the table below misses one: without
// any one of its rows, crypt32.dll, msimg32.dll or dbghelp.dll is loaded from the planted folder.
//
// On Windows the binding changes nothing but the moment: each DLL it binds comes from System32, as the
// process's search path would have it, and is one the same calls load anyway.
namespace lumivance {
namespace {

// A DLL setup delay-loads, and the system DLLs that using it binds lazily under Wine 8 (each measured in a
// +module trace of complete runs: bound through the default path, not yet loaded at that moment).
struct LazyBinds {
    const char* dll;
    std::initializer_list<const char*> binds;
};

const LazyBinds kLazyBinds[] = {
    // WinHTTP's delay imports, resolved on its first TLS handshake; bcrypt comes as crypt32's import.
    {"winhttp.dll", {"crypt32.dll", "secur32.dll"}},
    // The task dialog's theming: uxtheme's delay import, resolved when the progress bar is first painted.
    {"comctl32.dll", {"msimg32.dll"}},
    // WinVerifyTrust's delay import of imagehlp, which imports dbghelp. imagehlp is a KnownDLL on Windows,
    // but Wine has none, and would take both from setup's folder.
    {"wintrust.dll", {"imagehlp.dll"}},
};

// Loads the DLL from System32 only (or, for comctl32, from the side-by-side assembly the manifest names:
// activation-context redirection comes before any directory) and pins it, so that it stays loaded for the
// life of the process and no later bind of the name can search again.
HMODULE BindFromSystem32(const char* dll)
{
    HMODULE module = LoadLibraryExA(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module) {
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(module), &pinned);
    }
    return module;
}

// The delay-load helper's notification before it binds one of setup's DLLs (the first call into it). The
// DLLs its use binds lazily go first: its own DllMain may already bind them.
FARPROC WINAPI BindDelayLoadedDll(unsigned notification, PDelayLoadInfo info)
{
    if (notification != dliNotePreLoadLibrary) {
        return nullptr;
    }
    for (const LazyBinds& entry : kLazyBinds) {
        if (_stricmp(entry.dll, info->szDll) == 0) {
            for (const char* dll : entry.binds) {
                BindFromSystem32(dll);
            }
        }
    }
    // Were this to fail, the helper would try LoadLibraryA, which searches System32 alone by now, and
    // raise its exception when that fails too.
    return reinterpret_cast<FARPROC>(BindFromSystem32(info->szDll));
}

}  // namespace

void RestrictDllLoadingToSystem32()
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

}  // namespace lumivance

// MinGW-w64's delay-load helper (__delayLoadHelper2 in libmingwex) calls this hook; defining it here
// replaces the library's empty one. It is linked in with RestrictDllLoadingToSystem32, which wWinMain calls.
extern "C" PfnDliHook __pfnDliNotifyHook2 = lumivance::BindDelayLoadedDll;
