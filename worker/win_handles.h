#pragma once

#include <windows.h>

#include "worker/unique_resource.h"

namespace lumivance {

// Process, thread, mutex and other kernel handles: empty at NULL.
struct KernelHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer handle) noexcept { CloseHandle(handle); }
};

// CreateFileW and CreateToolhelp32Snapshot handles: empty at INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer handle) noexcept { CloseHandle(handle); }
};

using KernelHandle = UniqueResource<KernelHandleTraits>;
using FileHandle = UniqueResource<FileHandleTraits>;

}  // namespace lumivance
