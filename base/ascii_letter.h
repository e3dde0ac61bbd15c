#pragma once

namespace lumivance {

// A-Z or a-z: the letters a drive is named by, whatever the machine's language.
constexpr bool IsAsciiLetter(wchar_t unit) noexcept
{
    return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z');
}

}  // namespace lumivance
