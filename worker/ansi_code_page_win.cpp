#include <windows.h>

#include <climits>

#include "worker/message_text.h"

namespace lumivance {
namespace {

std::wstring OneUnitPerByte(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    for (const char c : text) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace

std::wstring DecodeAnsiCodePage(std::string_view text)
{
    if (text.empty() || text.size() > INT_MAX) {
        return OneUnitPerByte(text);
    }
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        // Not even the code page reads it: keep one unit per byte rather than lose the message.
        return OneUnitPerByte(text);
    }
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), needed);
    return out;
}

}  // namespace lumivance
