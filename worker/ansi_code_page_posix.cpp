#include "worker/message_text.h"

namespace lumivance {

// The native build has no ANSI code page; ISO-8859-1 keeps every byte as one character.
std::wstring DecodeAnsiCodePage(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    for (const char c : text) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace lumivance
