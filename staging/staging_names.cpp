#include "staging/staging_names.h"

#include <cstddef>

namespace lumivance {
namespace {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": where the dashes go, everything else a capital hex digit.
constexpr std::wstring_view kGuidShape = L"{........-....-....-....-............}";

bool IsCapitalHexDigit(wchar_t unit) noexcept
{
    return (unit >= L'0' && unit <= L'9') || (unit >= L'A' && unit <= L'F');
}

bool MatchesGuidShape(std::wstring_view text) noexcept
{
    if (text.size() != kGuidShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool matches = kGuidShape[i] == L'.' ? IsCapitalHexDigit(text[i]) : text[i] == kGuidShape[i];
        if (!matches) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsStagingDirectoryName(std::wstring_view name) noexcept
{
    return name.starts_with(kStagingDirectoryPrefix) && MatchesGuidShape(name.substr(kStagingDirectoryPrefix.size()));
}

}  // namespace lumivance
