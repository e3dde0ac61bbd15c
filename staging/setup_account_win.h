#pragma once

// What setup reads from its own token and from a held directory's security descriptor.
#include <windows.h>

#include <optional>

#include "staging/staging_policy.h"

namespace lumivance {

// The account the process token names, or nothing when the token cannot be read.
std::optional<SetupAccount> CurrentAccount();

// Owner and DACL as the system reports them for the open directory (opened with READ_CONTROL); nothing when
// they cannot be read.
std::optional<ObservedSecurity> ReadSecurity(HANDLE directory);

}  // namespace lumivance
