#pragma once

// Every owner of a Windows handle: one line per kind on one policy template. Closing keeps the caller's last
// error: an owner that goes out of scope while a failure unwinds must not replace the error of the call that
// failed with the result of its own clean-up.
#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

#include "base/unique_resource.h"

namespace lumivance {

// Which value a kind of handle is empty at.
enum class EmptyAt { Null, InvalidHandleValue };

// A kind of handle for UniqueResource: its type, its empty value, and its release call, whose result nobody
// examines.
template <typename Pointer, EmptyAt empty, void (*release)(Pointer) noexcept>
struct HandleTraits {
    using pointer = Pointer;
    static pointer invalid() noexcept
    {
        if constexpr (empty == EmptyAt::Null) {
            return nullptr;
        } else {
            return INVALID_HANDLE_VALUE;
        }
    }
    static void close(pointer handle) noexcept
    {
        const DWORD lastError = GetLastError();
        release(handle);
        SetLastError(lastError);
    }
};

// The release calls, as functions of one argument whose address is a constant (the imported functions'
// addresses are not).
inline void CloseKernelObject(HANDLE handle) noexcept
{
    CloseHandle(handle);
}
inline void EndFileSearch(HANDLE handle) noexcept
{
    FindClose(handle);
}
inline void CloseInternetHandle(HINTERNET handle) noexcept
{
    WinHttpCloseHandle(handle);
}
inline void CloseAlgorithmProvider(BCRYPT_ALG_HANDLE handle) noexcept
{
    BCryptCloseAlgorithmProvider(handle, 0);
}
inline void DestroyHashObject(BCRYPT_HASH_HANDLE handle) noexcept
{
    BCryptDestroyHash(handle);
}
inline void FreeLocalMemory(HLOCAL memory) noexcept
{
    LocalFree(memory);
}

// Processes, threads, mutexes and other kernel objects.
using KernelHandle = UniqueResource<HandleTraits<HANDLE, EmptyAt::Null, CloseKernelObject>>;
// CreateFileW and CreateToolhelp32Snapshot.
using FileHandle = UniqueResource<HandleTraits<HANDLE, EmptyAt::InvalidHandleValue, CloseKernelObject>>;
// FindFirstFileExW searches.
using FindHandle = UniqueResource<HandleTraits<HANDLE, EmptyAt::InvalidHandleValue, EndFileSearch>>;
// WinHTTP sessions, connections and requests.
using WinHttpHandle = UniqueResource<HandleTraits<HINTERNET, EmptyAt::Null, CloseInternetHandle>>;
// CNG algorithm providers and hash objects.
using AlgorithmProvider = UniqueResource<HandleTraits<BCRYPT_ALG_HANDLE, EmptyAt::Null, CloseAlgorithmProvider>>;
using HashObject = UniqueResource<HandleTraits<BCRYPT_HASH_HANDLE, EmptyAt::Null, DestroyHashObject>>;
// What the security calls allocate for their caller: SID strings, security descriptors.
using LocalMemory = UniqueResource<HandleTraits<HLOCAL, EmptyAt::Null, FreeLocalMemory>>;

}  // namespace lumivance
