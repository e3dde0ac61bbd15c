#include "app/dll_search_win.h"

#include <windows.h>
#include <delayimp.h>

#include <cstring>
#include <initializer_list>

// SetDefaultDllDirectories keeps bare-name searches in System32, but Wine resolves its system DLLs'
// lazy imports on the path it fixed at start-up, setup's own folder first. A name already loaded is never
// searched for, so before each delay-loaded DLL is first called, the system DLLs its use binds lazily are
// loaded from System32 and pinned. docs/hardening.md (DLL binding) has the loader traces and the proof.
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
// DLLs its use binds lazily go first: its own DllMain may already bind them. Called from the helper, C
// code that no exception can unwind through: noexcept.
FARPROC WINAPI BindDelayLoadedDll(unsigned notification, PDelayLoadInfo info) noexcept
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

static_assert(noexcept(BindDelayLoadedDll(0, nullptr)), "the delay-load helper calls it: no exception may leave it");

}  // namespace

void RestrictDllLoadingToSystem32()
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

}  // namespace lumivance

// MinGW-w64's delay-load helper (__delayLoadHelper2 in libmingwex) calls this hook; defining it here
// replaces the library's empty one. It is linked in with RestrictDllLoadingToSystem32, which wWinMain calls.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = lumivance::BindDelayLoadedDll;
}
