#pragma once

#include <string_view>

namespace lumivance {

// Each attempt downloads into a folder of its own in the user's temp folder: this prefix and a new braced
// GUID, holding the one staging file.
inline constexpr std::wstring_view kStagingDirectoryPrefix = L"LumivanceSetup-";
inline constexpr std::wstring_view kStagingFileName = L"LumivanceSetup.exe";

// True for exactly the names setup gives its staging directories: the prefix and a GUID as StringFromGUID2
// writes it, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in capital hexadecimal digits. A name that merely
// looks like one is somebody else's.
bool IsStagingDirectoryName(std::wstring_view name) noexcept;

}  // namespace lumivance
