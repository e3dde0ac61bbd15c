#include "staging/staging_policy.h"

#include <algorithm>

#include "catalogue.h"
#include "staging/staging_names.h"

namespace lumivance {
namespace {

constexpr std::wstring_view kSystemSid = L"S-1-5-18";
constexpr std::wstring_view kAdministratorsSid = L"S-1-5-32-544";
constexpr std::wstring_view kEveryoneSid = L"S-1-1-0";

// Full control for the account, inherited by the staging file ("OICI").
std::wstring FullControlFor(std::wstring_view sid)
{
    return L"(A;OICI;FA;;;" + std::wstring(sid) + L")";
}

std::wstring_view ExpectedOwner(const SetupAccount& account) noexcept
{
    return account.elevated ? kAdministratorsSid : std::wstring_view(account.userSid);
}

}  // namespace

std::wstring StagingDirectorySecurity(const SetupAccount& account)
{
    const std::wstring_view owner = ExpectedOwner(account);
    return L"O:" + std::wstring(owner) + L"D:P" + FullControlFor(kSystemSid) + FullControlFor(owner);
}

bool IsSetupsOwnDirectory(const ObservedSecurity& security, const SetupAccount& account)
{
    if (account.userSid.empty() || !security.onlyAllowEntries ||
        (security.ownerSid != ExpectedOwner(account) && security.ownerSid != account.userSid)) {
        return false;
    }
    for (const std::wstring& grantee : security.grantees) {
        const bool known =
            grantee == kSystemSid || grantee == account.userSid || (account.elevated && grantee == kAdministratorsSid);
        if (!known) {
            return false;
        }
    }
    return true;
}

const char* StagingRefusal(const ObservedSecurity& observed, const SetupAccount& account,
                           std::optional<bool> volumeKeepsPermissions)
{
    if (volumeKeepsPermissions != false && IsSetupsOwnDirectory(observed, account)) {
        return nullptr;
    }
    const bool openToEveryone =
        observed.onlyAllowEntries &&
        std::find(observed.grantees.begin(), observed.grantees.end(), kEveryoneSid) != observed.grantees.end();
    if (volumeKeepsPermissions == false || openToEveryone) {
        return account.elevated ? kTempWithoutPermissions : nullptr;
    }
    return kCouldNotPrepareInstallation;
}

bool MayRemoveAbandoned(const std::vector<ListedEntry>& entries) noexcept
{
    if (entries.empty()) {
        return true;
    }
    const ListedEntry& only = entries.front();
    // The exact name, as setup writes it: a listing shows names as they were created.
    return entries.size() == 1 && only.name == kStagingFileName && !only.isDirectory && !only.isReparsePoint;
}

}  // namespace lumivance
