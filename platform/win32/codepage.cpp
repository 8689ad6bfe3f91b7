// MultiByteToWideChar and WideCharToMultiByte for Windows-1252, Latin-1 and
// UTF-8. Both convert the whole source first and then apply the platform's
// buffer rules, so the size query and the real conversion cannot disagree.
#include <climits>
#include <cstring>
#include <string>

#include "platform/win32/winbase.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 bytes 0x80-0x9F; the undefined ones stand for themselves.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

enum class Charset { Cp1252, Latin1, Utf8, Unsupported };

Charset charsetOf(UINT codePage) {
    switch (codePage) {
    case CP_ACP:
    case CP_THREAD_ACP:
    case 1252:
        return Charset::Cp1252;
    case 28591:
        return Charset::Latin1;
    case CP_UTF8:
        return Charset::Utf8;
    default:
        return Charset::Unsupported;
    }
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// Decodes one UTF-8 sequence at s[i..n). Returns the code point, or
// kReplacement with `bad` set for a malformed sequence; `i` moves past the
// sequence, or past its longest well-formed prefix when it is malformed.
char32_t decodeUtf8(const unsigned char* s, std::size_t n, std::size_t& i, bool& bad) {
    unsigned char b = s[i++];
    bad = false;
    if (b < 0x80)
        return b;
    int extra;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        extra = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        extra = 2;
        cp = b & 0x0F;
        if (b == 0xE0)
            lo = 0xA0;  // overlong
        if (b == 0xED)
            hi = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        extra = 3;
        cp = b & 0x07;
        if (b == 0xF0)
            lo = 0x90;
        if (b == 0xF4)
            hi = 0x8F;  // above U+10FFFF
    } else {
        bad = true;
        return kReplacement;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= n || s[i] < lo || s[i] > hi) {
            bad = true;
            return kReplacement;
        }
        cp = (cp << 6) | (s[i++] & 0x3F);
        lo = 0x80;
        hi = 0xBF;
    }
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// -1 when the byte cannot stand for the code point in the single-byte set.
int encodeSingleByte(Charset charset, char32_t cp) {
    if (cp < 0x80)
        return static_cast<int>(cp);
    if (charset == Charset::Latin1)
        return cp <= 0xFF ? static_cast<int>(cp) : -1;
    if (cp >= 0xA0 && cp <= 0xFF)
        return static_cast<int>(cp);
    for (int k = 0; k < 32; ++k)
        if (kCp1252High[k] == cp)
            return 0x80 + k;
    return -1;
}

// Copies the converted text under the platform's buffer rules.
template <typename Char>
int deliver(const std::basic_string<Char>& text, Char* destination, int destinationLength) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    int needed = static_cast<int>(text.size());
    if (destinationLength == 0)
        return needed;
    if (needed > destinationLength) {
        std::memcpy(destination, text.data(), static_cast<std::size_t>(destinationLength) * sizeof(Char));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(destination, text.data(), text.size() * sizeof(Char));
    return needed;
}

}  // namespace

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH source, int sourceLength, LPWSTR destination,
                               int destinationLength) {
    Charset charset = charsetOf(codePage);
    if (charset == Charset::Unsupported || source == nullptr || sourceLength == 0 || sourceLength < -1 ||
        destinationLength < 0 || (destination == nullptr && destinationLength > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (charset == Charset::Utf8 && (flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    std::size_t n = sourceLength == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceLength);
    const auto* s = reinterpret_cast<const unsigned char*>(source);

    std::u16string text;
    text.reserve(n);
    if (charset == Charset::Utf8) {
        for (std::size_t i = 0; i < n;) {
            bool bad;
            char32_t cp = decodeUtf8(s, n, i, bad);
            if (bad && (flags & MB_ERR_INVALID_CHARS)) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            appendUtf16(text, cp);
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            unsigned char b = s[i];
            if (charset == Charset::Cp1252 && b >= 0x80 && b < 0xA0)
                text.push_back(kCp1252High[b - 0x80]);
            else
                text.push_back(b);
        }
    }
    return deliver(text, destination, destinationLength);
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH source, int sourceLength, LPSTR destination,
                               int destinationLength, LPCCH defaultChar, LPBOOL usedDefaultChar) {
    Charset charset = charsetOf(codePage);
    if (charset == Charset::Unsupported || source == nullptr || sourceLength == 0 || sourceLength < -1 ||
        destinationLength < 0 || (destination == nullptr && destinationLength > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (charset == Charset::Utf8) {
        if (defaultChar != nullptr || usedDefaultChar != nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if ((flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
    }
    std::size_t n = 0;
    if (sourceLength == -1) {
        while (source[n] != 0)
            ++n;
        ++n;
    } else {
        n = static_cast<std::size_t>(sourceLength);
    }

    const char fallback = defaultChar != nullptr ? *defaultChar : '?';
    bool usedDefault = false;
    std::string text;
    text.reserve(n);
    for (std::size_t i = 0; i < n;) {
        char32_t cp = source[i++];
        bool bad = false;
        if (cp >= 0xD800 && cp <= 0xDBFF && i < n && source[i] >= 0xDC00 && source[i] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (source[i++] - 0xDC00);
        else if (cp >= 0xD800 && cp <= 0xDFFF)
            bad = true;

        if (charset == Charset::Utf8) {
            if (bad && (flags & WC_ERR_INVALID_CHARS)) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            appendUtf8(text, bad ? kReplacement : cp);
        } else {
            int byte = bad ? -1 : encodeSingleByte(charset, cp);
            if (byte < 0) {
                text.push_back(fallback);
                usedDefault = true;
            } else {
                text.push_back(static_cast<char>(byte));
            }
        }
    }
    if (usedDefaultChar != nullptr)
        *usedDefaultChar = usedDefault ? TRUE : FALSE;
    return deliver(text, destination, destinationLength);
}
