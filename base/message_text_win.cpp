#include "base/message_text.h"

#include <windows.h>

#include <climits>

namespace lumivance {

std::wstring DecodeAnsiCodePage(std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX) {
        return DecodeLatin1(text);
    }
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        // Not even the code page reads it: keep one unit per byte rather than lose the message.
        return DecodeLatin1(text);
    }
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), needed);
    return out;
}

}  // namespace lumivance
