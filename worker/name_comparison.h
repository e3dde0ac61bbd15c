#pragma once

#include <string_view>

namespace lumivance {

// File and process names are compared code unit by code unit, folding only the ASCII capitals A-Z. Nothing
// else is equated: no locale or Unicode case folding, no "\" versus "/", no short names or links, so the
// answer never depends on the machine's language settings.
bool EqualFoldingAsciiCase(std::wstring_view left, std::wstring_view right) noexcept;

// True when the first prefix.size() units of text equal prefix under the same rule; a shorter text never
// matches.
bool StartsWithFoldingAsciiCase(std::wstring_view text, std::wstring_view prefix) noexcept;

}  // namespace lumivance
