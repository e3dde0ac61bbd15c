#include "staging/setup_account_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <array>
#include <cstddef>
#include <string>

#include "base/unique_resource_win.h"

namespace lumivance {
namespace {

std::optional<std::wstring> SidText(PSID sid)
{
    LocalMemory text;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(text.put()))) {
        return std::nullopt;
    }
    return std::wstring(static_cast<const wchar_t*>(text.get()));
}

}  // namespace

std::optional<SetupAccount> CurrentAccount()
{
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return std::nullopt;
    }
    alignas(TOKEN_USER) std::array<std::byte, sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE> user{};
    DWORD length = 0;
    TOKEN_ELEVATION elevation{};
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), static_cast<DWORD>(user.size()), &length) ||
        !GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &length)) {
        return std::nullopt;
    }
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    const std::optional<std::wstring> sidText = SidText(sid);
    if (!sidText) {
        return std::nullopt;
    }
    return SetupAccount{*sidText, elevation.TokenIsElevated != 0 || IsWellKnownSid(sid, WinLocalSystemSid)};
}

std::optional<ObservedSecurity> ReadSecurity(HANDLE directory)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalMemory descriptor;
    if (GetSecurityInfo(directory, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr,
                        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::optional<std::wstring> ownerText = SidText(owner);
    if (!ownerText) {
        return std::nullopt;
    }
    ObservedSecurity security{*ownerText, {}, dacl != nullptr};
    for (DWORD index = 0; dacl != nullptr && index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry) || static_cast<const ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            security.onlyAllowEntries = false;
            continue;
        }
        const std::optional<std::wstring> grantee = SidText(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart);
        security.grantees.push_back(grantee.value_or(L""));
    }
    return security;
}

}  // namespace lumivance
