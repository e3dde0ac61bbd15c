#include "worker/name_comparison.h"

namespace lumivance {

namespace {

constexpr wchar_t FoldAsciiCapital(wchar_t unit) noexcept
{
    return (unit >= L'A' && unit <= L'Z') ? static_cast<wchar_t>(unit - L'A' + L'a') : unit;
}

}  // namespace

bool EqualFoldingAsciiCase(std::wstring_view left, std::wstring_view right) noexcept
{
    if (left.size() != right.size()) {
        return false;
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (FoldAsciiCapital(left[i]) != FoldAsciiCapital(right[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithFoldingAsciiCase(std::wstring_view text, std::wstring_view prefix) noexcept
{
    return text.size() >= prefix.size() && EqualFoldingAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace lumivance
