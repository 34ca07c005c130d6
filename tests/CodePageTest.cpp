// Conversion between UTF-8 (the ANSI code page) and wide strings: round trips, the sizes asked
// for with no buffer, buffers too small, and text that is not UTF-8.
#include <gtest/gtest.h>

#include "platform/win32/CodePage.h"
#include "platform/win32/Handle.h"

namespace {

const char utf8[] = "Grüße, 日本, \xF0\x9F\x8E\xB5";  // two-, three- and four-byte sequences
const wchar_t wide[] = L"Grüße, 日本, \U0001F3B5";

}  // namespace

TEST(CodePage, Utf8AndWideRoundTripWithTheTerminator)
{
    for (UINT codePage : {UINT(CP_ACP), UINT(CP_UTF8)}) {
        wchar_t converted[64];
        ASSERT_EQ(MultiByteToWideChar(codePage, 0, utf8, -1, converted, 64), int(std::size(wide)));
        EXPECT_STREQ(converted, wide);
        char back[64];
        ASSERT_EQ(WideCharToMultiByte(codePage, 0, converted, -1, back, 64, nullptr, nullptr), int(sizeof utf8));
        EXPECT_STREQ(back, utf8);
    }
}

TEST(CodePage, CapacityZeroGivesTheSizeAndWritesNothing)
{
    // With an explicit length the terminator is not part of the text.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, utf8, -1, nullptr, 0), int(std::size(wide)));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, utf8, int(sizeof utf8 - 1), nullptr, 0), int(std::size(wide) - 1));
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr), int(sizeof utf8));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "", -1, nullptr, 0), 1);
    wchar_t untouched[2] = {L'x', L'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", 2, untouched, 0), 2);
    EXPECT_EQ(untouched[0], L'x');
}

TEST(CodePage, TooSmallOrMissingBufferFails)
{
    wchar_t small[4];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, utf8, -1, small, 4), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    char narrow[6];
    SetLastError(0);
    // "Grüße" needs 7 bytes; the six given would split a character.
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 5, narrow, 6, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    // A capacity with no buffer behind it is refused, not written through.
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, utf8, -1, nullptr, 64), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 64, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(CodePage, MalformedTextIsRefused)
{
    const char* const malformed[] = {
        "\xC3",              // cut short at the end
        "\xE6\x97",          // cut short at the end
        "a\xC3(",            // a continuation byte missing
        "\x80",              // a continuation byte alone
        "\xC0\xAF",          // overlong '/'
        "\xE0\x80\xAF",      // overlong '/'
        "\xED\xA0\x80",      // a surrogate
        "\xF4\x90\x80\x80",  // past U+10FFFF
        "\xFF",
    };
    for (const char* text : malformed) {
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 0) << testing::PrintToString(text);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION)) << testing::PrintToString(text);
    }
    for (wchar_t code : {wchar_t(0xD800), wchar_t(0xDFFF), wchar_t(0x110000)}) {
        const wchar_t text[] = {L'a', code, 0};
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 0) << unsigned(code);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION)) << unsigned(code);
    }
}
