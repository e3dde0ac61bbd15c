#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "staging/staging_policy.h"

namespace lumivance {

// One directory with a staging name in the temp folder, opened by the sweep to be looked at: a handle that
// may read its security descriptor, attributes and listing, asks for no delete access and shares everything,
// so that it cannot disturb a setup that is just taking hold of the directory.
class LeftoverDirectory {
public:
    virtual ~LeftoverDirectory() = default;
    virtual bool IsPlainDirectory() const = 0;
    virtual std::optional<ObservedSecurity> Security() const = 0;
    // Listed through the handle held now: the look-only one, then the one with delete access.
    virtual std::optional<std::vector<ListedEntry>> Entries() const = 0;
    // Delete access to this same directory, without delete sharing; false while a running setup holds it or
    // a program keeps it as its current directory. Held, nobody can delete or rename the directory, but
    // entries can still be made inside it by whoever its DACL lets in.
    virtual bool HoldForRemoval() = 0;
    // The staging file, when the listing shows it, then the directory, each deleted by an open that fails
    // rather than wait for another program's oplock.
    virtual void RemoveHeld(const std::vector<ListedEntry>& entries) = 0;
};

// What the start-up sweep asks of the system. Every open and delete it makes fails at once rather than wait
// for another program's oplock, so what can take long is a temp folder full of look-alikes; the time bound
// below is checked before every call.
class SweepSystem {
public:
    virtual ~SweepSystem() = default;
    virtual std::optional<SetupAccount> Account() = 0;
    // The next name in the temp folder that starts with the staging prefix, one listing call each; nothing
    // at the end of the listing or when the folder cannot be listed.
    virtual std::optional<std::wstring> NextCandidate() = 0;
    // Empty when the entry cannot be opened without following a link or waiting.
    virtual std::unique_ptr<LeftoverDirectory> OpenToLook(const std::wstring& name) = 0;
    // Milliseconds from any fixed start, never going backwards.
    virtual std::uint64_t TickMs() = 0;
};

// It runs before any window, so a hang here would be a silent one: it stops looking after this long, and
// after this many directories of setup's own account, leaving the rest to the next setup. Names that are not
// setup's, or directories that another account made, cost time but never use up the name limit, so nobody
// else can keep a sweep from reaching the leftovers by making look-alikes that are listed first.
inline constexpr auto kSweepTimeLimit = std::chrono::milliseconds(1500);
inline constexpr std::size_t kSweepNameLimit = 64;

// Removes what setups that were killed before their own clean-up left behind: only directories with a
// staging name, plain, owned and permitted as setup's account makes them (checked before any delete access
// is asked for), that no running setup holds and that hold nothing but an unused staging file. Anything else
// is left alone, and every failure is silent.
void SweepAbandonedStagingDirectories(SweepSystem& system) noexcept;

// The same over the real temp folder (Windows).
void RemoveAbandonedStagingDirectories() noexcept;

}  // namespace lumivance
