#pragma once

#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "staging/staging_names.h"
#include "staging/staging_policy.h"

namespace lumivance {

// One directory with a staging name in the temp folder, opened by the sweep to be looked at: a handle that
// may read its security descriptor, attributes and listing, asks for no delete access and shares everything,
// so that it cannot disturb a setup that is just taking hold of the directory.
template <typename Look>
concept LeftoverDirectory = requires(Look& look, const Look& seen, const std::vector<ListedEntry>& entries)
{
    requires std::same_as<decltype(seen.IsPlainDirectory()), bool>;
    requires std::same_as<decltype(seen.Security()), std::optional<ObservedSecurity>>;
    // Listed through the handle held now: the look-only one, then the one with delete access.
    requires std::same_as<decltype(seen.Entries()), std::optional<std::vector<ListedEntry>>>;
    // Delete access to this same directory, without delete sharing; false while a running setup holds it or
    // a program keeps it as its current directory. Held, nobody can delete or rename the directory, but
    // entries can still be made inside it by whoever its DACL lets in.
    requires std::same_as<decltype(look.HoldForRemoval()), bool>;
    // The staging file, when the listing shows it, then the directory, each deleted by an open that fails
    // rather than wait for another program's oplock.
    look.RemoveHeld(entries);
};

// What the start-up sweep asks of the system. Every open and delete it makes fails at once rather than wait
// for another program's oplock, so what can take long is a temp folder full of look-alikes; the time bound
// below is checked before every call.
template <typename System>
concept SweepSystem = LeftoverDirectory<typename System::Look> && requires(System& system, const std::wstring& name)
{
    requires std::same_as<decltype(system.Account()), std::optional<SetupAccount>>;
    // The next name in the temp folder that starts with the staging prefix, one listing call each; nothing
    // at the end of the listing or when the folder cannot be listed.
    requires std::same_as<decltype(system.NextCandidate()), std::optional<std::wstring>>;
    // Nothing when the entry cannot be opened without following a link or waiting.
    requires std::same_as<decltype(system.OpenToLook(name)), std::optional<typename System::Look>>;
    // Milliseconds from any fixed start, never going backwards.
    requires std::same_as<decltype(system.TickMs()), std::uint64_t>;
};

// It runs before any window, so a hang here would be a silent one: it stops looking after this long, and
// after this many directories of setup's own account, leaving the rest to the next setup. Names that are not
// setup's, or directories that another account made, cost time but never use up the name limit, so nobody
// else can keep a sweep from reaching the leftovers by making look-alikes that are listed first.
inline constexpr auto kSweepTimeLimit = std::chrono::milliseconds(1500);
inline constexpr std::size_t kSweepNameLimit = 64;

namespace sweep {

template <SweepSystem System>
class Sweep {
public:
    Sweep(System& system, SetupAccount account) : system_(system), account_(std::move(account)), start_(system.TickMs())
    {
    }

    void Run()
    {
        std::size_t own = 0;
        while (own < kSweepNameLimit && InTime()) {
            const std::optional<std::wstring> name = system_.NextCandidate();
            if (!name) {
                return;
            }
            if (IsStagingDirectoryName(*name) && SweepOne(*name)) {
                ++own;
            }
        }
    }

private:
    bool InTime() { return system_.TickMs() - start_ <= static_cast<std::uint64_t>(kSweepTimeLimit.count()); }

    // Whether the name was a directory of setup's own account, which counts against the name limit.
    bool SweepOne(const std::wstring& name)
    {
        if (!InTime()) {
            return false;
        }
        std::optional<typename System::Look> leftover = system_.OpenToLook(name);
        if (!leftover || !InTime() || !leftover->IsPlainDirectory() || !InTime()) {
            return false;
        }
        // Whose it is comes first: a directory that another account made, or gave other rights, is never asked
        // for delete access, which would already disturb its owner.
        const std::optional<ObservedSecurity> security = leftover->Security();
        if (!security || !IsSetupsOwnDirectory(*security, account_)) {
            return false;
        }
        if (!InTime()) {
            return true;
        }
        const std::optional<std::vector<ListedEntry>> before = leftover->Entries();
        if (!before || !MayRemoveAbandoned(*before) || !InTime() || !leftover->HoldForRemoval() || !InTime()) {
            return true;
        }
        // Held now, no setup can be using it and nobody can delete or rename it, but whoever its DACL lets in
        // (setup's own account, as checked above) can still add entries: what it holds is judged again.
        const std::optional<std::vector<ListedEntry>> held = leftover->Entries();
        if (held && MayRemoveAbandoned(*held) && InTime()) {
            leftover->RemoveHeld(*held);
        }
        return true;
    }

    System& system_;
    const SetupAccount account_;
    const std::uint64_t start_;
};

}  // namespace sweep

// Removes what setups that were killed before their own clean-up left behind: only directories with a
// staging name, plain, owned and permitted as setup's account makes them (checked before any delete access
// is asked for), that no running setup holds and that hold nothing but an unused staging file. Anything else
// is left alone, and every failure is silent.
template <SweepSystem System>
void SweepAbandonedStagingDirectories(System& system) noexcept
{
    try {
        const std::optional<SetupAccount> account = system.Account();
        if (account) {
            sweep::Sweep<System>(system, *account).Run();
        }
    } catch (...) {
        // A leftover that cannot be removed now is looked at again by the next setup; nothing here may keep
        // this one from running.
    }
}

// The same over the real temp folder (Windows).
void RemoveAbandonedStagingDirectories() noexcept;

}  // namespace lumivance
