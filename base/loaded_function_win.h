#pragma once

#include <windows.h>

namespace lumivance {

// A function exported by a module the process has already loaded, as the pointer type the caller spells
// out; nullptr when the module is not loaded or does not export it. For functions that may be missing (newer
// than the oldest Windows setup runs on, Wine's own, ntdll's), which an import would make a load failure.
template <typename Function>
Function LoadedFunction(const wchar_t* module, const char* name)
{
    const HMODULE loaded = GetModuleHandleW(module);
    if (loaded == nullptr) {
        return nullptr;
    }
    // Through void*, since a FARPROC is not convertible to another function pointer type without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(loaded, name)));
}

}  // namespace lumivance
