#include <gtest/gtest.h>

#include "base/message_text.h"

namespace lumivance {
namespace {

TEST(MessageText, AsciiSentencesComeThroughUnchanged)
{
    EXPECT_EQ(WidenMessage("Could not prepare installation."), L"Could not prepare installation.");
    EXPECT_EQ(WidenMessage(""), L"");
}

TEST(MessageText, Utf8IsDecodedWholeIncludingCharactersBeyondTheBasicPlane)
{
    EXPECT_EQ(WidenMessage("C:\\Users\\J\xC3\xBCrgen"), L"C:\\Users\\J\u00FCrgen");
    EXPECT_EQ(WidenMessage("\xE2\x98\x83 \xE6\x97\xA5\xE6\x9C\xAC"), L"\u2603 \u65E5\u672C");
    const std::wstring emoji = WidenMessage("\xF0\x9F\x93\xA6");
    if constexpr (sizeof(wchar_t) == 2) {
        EXPECT_EQ(emoji, std::wstring({static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDCE6)}));
    } else {
        EXPECT_EQ(emoji, std::wstring(1, static_cast<wchar_t>(0x1F4E6)));
    }
}

TEST(MessageText, MalformedUtf8IsNotGuessedAtButReadAsTheAnsiCodePage)
{
    const char* const malformed[] = {
        "J\xFCrgen",         // a Latin-1 byte on its own
        "\xC0\xAF",          // overlong "/"
        "\xE0\x80\xAF",      // overlong, three bytes
        "\xED\xA0\x80",      // a UTF-16 surrogate
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xE2\x98",          // cut short
        "\x80",              // a lone continuation byte
    };
    for (const char* text : malformed) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(DecodeUtf8(text).has_value());
        EXPECT_EQ(WidenMessage(text), DecodeAnsiCodePage(text));
    }
    EXPECT_EQ(WidenMessage("J\xFCrgen").size(), 6u) << "each byte stays one character, none is dropped";
}

}  // namespace
}  // namespace lumivance
