#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumivance {

// The wide text of a narrow exception message. The program's own sentences are ASCII; a message from the
// standard library can carry a non-ASCII path (UTF-8 from std::filesystem) or system text in the ANSI code
// page, so valid UTF-8 is decoded as UTF-8 and anything else through the ANSI code page.
std::wstring WidenMessage(std::string_view message);

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) to wide text: UTF-16 where
// wchar_t is 16 bits wide, code points where it is 32. Nothing when the input is not valid UTF-8.
std::optional<std::wstring> DecodeUtf8(std::string_view text);

// Text in the process's ANSI code page (Windows); the native build reads it as ISO-8859-1.
std::wstring DecodeAnsiCodePage(std::string_view text);

// Each byte as the one character of the same value (ISO-8859-1): nothing is lost, nothing is guessed.
std::wstring DecodeLatin1(std::string_view text);

}  // namespace lumivance
