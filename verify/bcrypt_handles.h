#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "worker/unique_resource.h"

namespace lumivance {

// A CNG algorithm provider: closed with flags 0, its status ignored.
struct AlgorithmProviderTraits {
    using pointer = BCRYPT_ALG_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer handle) noexcept { BCryptCloseAlgorithmProvider(handle, 0); }
};

// A CNG hash object: destroyed, its status ignored.
struct HashObjectTraits {
    using pointer = BCRYPT_HASH_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer handle) noexcept { BCryptDestroyHash(handle); }
};

using AlgorithmProvider = UniqueResource<AlgorithmProviderTraits>;
using HashObject = UniqueResource<HashObjectTraits>;

}  // namespace lumivance
