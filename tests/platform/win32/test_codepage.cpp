#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/win32/winbase.h"

namespace {

std::u16string toWide(UINT codePage, const std::string& bytes, DWORD flags = 0) {
    int n = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    if (n > 0) {
        EXPECT_EQ(MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n),
                  n);
    }
    return out;
}

std::string toNarrow(UINT codePage, const std::u16string& wide, BOOL* usedDefault = nullptr,
                     const char* defaultChar = nullptr) {
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, defaultChar,
                                usedDefault);
    std::string out(static_cast<std::size_t>(n), '\0');
    if (n > 0) {
        EXPECT_EQ(WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                                      defaultChar, usedDefault),
                  n);
    }
    return out;
}

TEST(CodePage, AnsiIsWindows1252AndEveryByteRoundTrips) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    std::u16string wide = toWide(CP_ACP, all);
    ASSERT_EQ(wide.size(), 255u);
    EXPECT_EQ(wide[0x41 - 1], u'A');
    EXPECT_EQ(wide[0x80 - 1], u'\u20AC');  // euro sign
    EXPECT_EQ(wide[0x93 - 1], u'\u201C');  // left double quote
    EXPECT_EQ(wide[0x9F - 1], u'\u0178');
    EXPECT_EQ(wide[0x81 - 1], u'\u0081');  // undefined in 1252: stands for itself
    EXPECT_EQ(wide[0xE9 - 1], u'\u00E9');

    BOOL usedDefault = TRUE;
    EXPECT_EQ(toNarrow(CP_ACP, wide, &usedDefault), all);
    EXPECT_FALSE(usedDefault);

    // Latin-1 keeps 0x80-0x9F as controls.
    EXPECT_EQ(toWide(28591, "\x80")[0], u'\u0080');
    EXPECT_EQ(toWide(1252, "\x80"), toWide(CP_ACP, "\x80"));
}

TEST(CodePage, AnsiUsesTheDefaultCharacterForWhatItCannotHold) {
    BOOL usedDefault = FALSE;
    EXPECT_EQ(toNarrow(CP_ACP, u"a\u0100b\U0001F600c", &usedDefault), "a?b?c");  // a pair is one character
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(toNarrow(CP_ACP, u"x\u20AC", nullptr, "#"), "x\x80");
    EXPECT_EQ(toNarrow(CP_ACP, u"x\u2603", nullptr, "#"), "x#");
    EXPECT_EQ(toNarrow(28591, u"\u20AC", &usedDefault), "?");
    char16_t lone[] = {u'a', 0xD800, u'b'};
    EXPECT_EQ(toNarrow(CP_ACP, std::u16string(lone, 3)), "a?b");
}

TEST(CodePage, Utf8DecodesAndReplacesMalformedSequences) {
    EXPECT_EQ(toWide(CP_UTF8, "\x41\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), u"A\u00E9\u20AC\U0001F600");
    EXPECT_EQ(toWide(CP_UTF8, "a\xC0\x80z"), u"a\uFFFD\uFFFDz");     // overlong
    EXPECT_EQ(toWide(CP_UTF8, "a\xED\xA0\x80z"), u"a\uFFFD\uFFFD\uFFFDz");  // encoded surrogate
    EXPECT_EQ(toWide(CP_UTF8, "a\xE2\x82"), u"a\uFFFD");                // cut short
    EXPECT_EQ(toWide(CP_UTF8, "\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF

    char16_t out[8];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, out, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

    EXPECT_EQ(toNarrow(CP_UTF8, u"A\u00E9\U0001F600"), "A\xC3\xA9\xF0\x9F\x98\x80");
    char16_t lone[] = {0xDC00, u'x'};
    EXPECT_EQ(toNarrow(CP_UTF8, std::u16string(lone, 2)), "\xEF\xBF\xBDx");
    char buffer[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 2, buffer, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePage, BufferRulesFollowThePlatform) {
    char16_t wide[16];
    // -1: zero-terminated source, the terminator counted and converted.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    std::memset(wide, 0x55, sizeof wide);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 16), 4);
    EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"abc\0", 4));
    EXPECT_EQ(wide[4], 0x5555);  // nothing written past the result

    // Too small: what fits is written, the result is 0.
    std::memset(wide, 0x55, sizeof wide);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcdef", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(wide, 3), u"abc");
    EXPECT_EQ(wide[3], 0x5555);

    char narrow[4];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"wxyz", -1, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"wxyz", -1, nullptr, 0, nullptr, nullptr), 5);
}

TEST(CodePage, BadArgumentsFailCleanly) {
    char16_t wide[4];
    char narrow[4];
    BOOL used = FALSE;
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", -2, wide, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 1, nullptr, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 1, wide, -1), 0);
    EXPECT_EQ(MultiByteToWideChar(437, 0, "a", 1, wide, 4), 0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 4, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0x1, u"a", 1, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", 1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

TEST(Wsprintf, FormatsAndStopsAt1024Characters) {
    char buffer[2048];
    EXPECT_EQ(wsprintfA(buffer, "%s", "Loading... Please wait"), 22);
    EXPECT_STREQ(buffer, "Loading... Please wait");
    EXPECT_EQ(wsprintfA(buffer, "%d/%u %c %x", -3, 7u, 'z', 255), 9);
    EXPECT_STREQ(buffer, "-3/7 z ff");

    std::string longText(1500, 'q');
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(wsprintfA(buffer, "%s", longText.c_str()), 1024);
    EXPECT_EQ(std::strlen(buffer), 1024u);
    EXPECT_EQ(buffer[1025], 'X');
}

TEST(Clocks, CounterIsNanosecondsAndAgreesWithTheMillisecondClock) {
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 1000000000LL);
    EXPECT_FALSE(QueryPerformanceFrequency(nullptr));
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));

    LARGE_INTEGER previous{};
    ASSERT_TRUE(QueryPerformanceCounter(&previous));
    for (int i = 0; i < 10000; ++i) {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        ASSERT_GE(now.QuadPart, previous.QuadPart);
        previous = now;
    }

    // Both read one clock: a millisecond reading lies between counter readings.
    LARGE_INTEGER before{}, after{};
    QueryPerformanceCounter(&before);
    DWORD ms = timeGetTime();
    QueryPerformanceCounter(&after);
    auto low = static_cast<DWORD>(static_cast<std::uint64_t>(before.QuadPart / 1000000));
    auto high = static_cast<DWORD>(static_cast<std::uint64_t>(after.QuadPart / 1000000));
    EXPECT_LE(static_cast<DWORD>(ms - low), static_cast<DWORD>(high - low));
}

TEST(Directory, CurrentDirectoryReportsTheSizeItNeeds) {
    char expected[4096];
    ASSERT_NE(getcwd(expected, sizeof expected), nullptr);
    DWORD length = static_cast<DWORD>(std::strlen(expected));
    char small[2];
    EXPECT_EQ(GetCurrentDirectoryA(sizeof small, small), length + 1);
    char buffer[4096];
    EXPECT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), length);
    EXPECT_STREQ(buffer, expected);
}

}  // namespace
