#include "worker/staging_sweep.h"

namespace lumivance {
namespace {

void SweepOne(SweepSystem& system, const SetupAccount& account, const std::wstring& name)
{
    if (!IsStagingDirectoryName(name)) {
        return;
    }
    const std::unique_ptr<LeftoverDirectory> leftover = system.OpenToLook(name);
    if (!leftover || !leftover->IsPlainDirectory()) {
        return;
    }
    // Whose it is comes first: a directory that another account made, or gave other rights, is never asked
    // for delete access, which would already disturb its owner.
    const std::optional<ObservedSecurity> security = leftover->Security();
    if (!security || !IsSetupsOwnDirectory(*security, account)) {
        return;
    }
    const std::chrono::seconds age = leftover->Age();
    const std::optional<std::vector<ListedEntry>> before = leftover->Entries();
    if (!before || !MayRemoveAbandoned(*before, age) || !leftover->HoldForRemoval()) {
        return;
    }
    // Held now, nothing can be added or swapped; what it holds is judged again.
    const std::optional<std::vector<ListedEntry>> held = leftover->Entries();
    if (held && MayRemoveAbandoned(*held, age)) {
        leftover->RemoveHeld(*held);
    }
}

}  // namespace

void SweepAbandonedStagingDirectories(SweepSystem& system) noexcept
{
    try {
        const std::optional<SetupAccount> account = system.Account();
        if (!account) {
            return;
        }
        const std::uint64_t start = system.TickMs();
        for (const std::wstring& name : system.CandidateNames(kSweepNameLimit)) {
            if (system.TickMs() - start > static_cast<std::uint64_t>(kSweepTimeLimit.count())) {
                return;
            }
            SweepOne(system, *account, name);
        }
    } catch (...) {
        // A leftover that cannot be removed now is looked at again by the next setup; nothing here may keep
        // this one from running.
    }
}

}  // namespace lumivance
