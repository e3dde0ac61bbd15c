#include "staging/staging_sweep.h"

#include <utility>

#include "staging/staging_names.h"

namespace lumivance {
namespace {

class Sweep {
public:
    Sweep(SweepSystem& system, SetupAccount account)
        : system_(system), account_(std::move(account)), start_(system.TickMs())
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
        const std::unique_ptr<LeftoverDirectory> leftover = system_.OpenToLook(name);
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

    SweepSystem& system_;
    const SetupAccount account_;
    const std::uint64_t start_;
};

}  // namespace

void SweepAbandonedStagingDirectories(SweepSystem& system) noexcept
{
    try {
        const std::optional<SetupAccount> account = system.Account();
        if (account) {
            Sweep(system, *account).Run();
        }
    } catch (...) {
        // A leftover that cannot be removed now is looked at again by the next setup; nothing here may keep
        // this one from running.
    }
}

}  // namespace lumivance
