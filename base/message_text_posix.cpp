#include "base/message_text.h"

namespace lumivance {

// The native build has no ANSI code page; ISO-8859-1 keeps every byte as one character.
std::wstring DecodeAnsiCodePage(std::string_view text)
{
    return DecodeLatin1(text);
}

}  // namespace lumivance
