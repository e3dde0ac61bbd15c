#pragma once

// Every owner of a Windows handle, one traits struct per kind on the one template. Closing keeps the
// caller's last error: an owner that goes out of scope while a failure unwinds must not replace the error
// of the call that failed with the result of its own clean-up.
#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

#include "base/unique_resource.h"

namespace lumivance {

// Runs one release call without disturbing GetLastError.
template <typename Release>
void CloseKeepingLastError(Release release) noexcept
{
    const DWORD lastError = GetLastError();
    release();
    SetLastError(lastError);
}

// Process, thread, mutex and other kernel handles: empty at NULL.
struct KernelHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer handle) noexcept
    {
        CloseKeepingLastError([handle] { CloseHandle(handle); });
    }
};

// CreateFileW and CreateToolhelp32Snapshot handles: empty at INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer handle) noexcept
    {
        CloseKeepingLastError([handle] { CloseHandle(handle); });
    }
};

// FindFirstFileExW searches: empty at INVALID_HANDLE_VALUE, ended with FindClose.
struct FindHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer handle) noexcept
    {
        CloseKeepingLastError([handle] { FindClose(handle); });
    }
};

// WinHTTP session, connection and request handles: empty at NULL.
struct WinHttpHandleTraits {
    using pointer = HINTERNET;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer handle) noexcept
    {
        CloseKeepingLastError([handle] { WinHttpCloseHandle(handle); });
    }
};

// A CNG algorithm provider: closed with flags 0, its status ignored.
struct AlgorithmProviderTraits {
    using pointer = BCRYPT_ALG_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer handle) noexcept
    {
        CloseKeepingLastError([handle] { BCryptCloseAlgorithmProvider(handle, 0); });
    }
};

// A CNG hash object: destroyed, its status ignored.
struct HashObjectTraits {
    using pointer = BCRYPT_HASH_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer handle) noexcept
    {
        CloseKeepingLastError([handle] { BCryptDestroyHash(handle); });
    }
};

using KernelHandle = UniqueResource<KernelHandleTraits>;
using FileHandle = UniqueResource<FileHandleTraits>;
using FindHandle = UniqueResource<FindHandleTraits>;
using WinHttpHandle = UniqueResource<WinHttpHandleTraits>;
using AlgorithmProvider = UniqueResource<AlgorithmProviderTraits>;
using HashObject = UniqueResource<HashObjectTraits>;

}  // namespace lumivance
