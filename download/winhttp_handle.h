#pragma once

#include <windows.h>
#include <winhttp.h>

#include "worker/unique_resource.h"

namespace lumivance {

// Session, connection and request handles: empty at NULL, released with WinHttpCloseHandle.
struct WinHttpHandleTraits {
    using pointer = HINTERNET;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer handle) noexcept { WinHttpCloseHandle(handle); }
};

using WinHttpHandle = UniqueResource<WinHttpHandleTraits>;

}  // namespace lumivance
