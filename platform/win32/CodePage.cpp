#include "CodePage.h"

#include <string>

#include "Handle.h"

namespace {

// Decodes UTF-8; false on a malformed or overlong sequence.
bool Decode(const unsigned char* text, size_t length, std::wstring* out)
{
    for (size_t i = 0; i < length;) {
        const unsigned char lead = text[i];
        const int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + extra >= length + (extra == 0))
            return false;
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if ((text[i + k] & 0xC0) != 0x80)
                return false;
            code = code << 6 | (text[i + k] & 0x3F);
        }
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
            return false;
        out->push_back(wchar_t(code));
        i += extra + 1;
    }
    return true;
}

bool Encode(const wchar_t* wide, size_t length, std::string* out)
{
    for (size_t i = 0; i < length; ++i) {
        const uint32_t code = uint32_t(wide[i]);
        if (code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
            return false;
        if (code < 0x80) {
            out->push_back(char(code));
            continue;
        }
        const int extra = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
        static const unsigned lead[] = {0, 0xC0, 0xE0, 0xF0};
        out->push_back(char(lead[extra] | (code >> (6 * extra))));
        for (int k = extra - 1; k >= 0; --k)
            out->push_back(char(0x80 | ((code >> (6 * k)) & 0x3F)));
    }
    return true;
}

template <class Char, class String>
int Deliver(const String& result, Char* out, int capacity)
{
    if (capacity == 0)
        return int(result.size());
    if (int(result.size()) > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(result.begin(), result.end(), out);
    return int(result.size());
}

bool Arguments(UINT codePage, const void* text, int length, const void* out, int capacity)
{
    if ((codePage != CP_ACP && codePage != CP_UTF8) || !text || length == 0 || length < -1 || capacity < 0 ||
        (!out && capacity > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD, const char* text, int length, LPWSTR wide, int capacity)
{
    if (!Arguments(codePage, text, length, wide, capacity))
        return 0;
    const size_t count = length < 0 ? std::char_traits<char>::length(text) + 1 : size_t(length);
    std::wstring result;
    if (!Decode(reinterpret_cast<const unsigned char*>(text), count, &result)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return Deliver(result, wide, capacity);
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int length, char* text, int capacity, const char*,
                        BOOL* usedDefaultChar)
{
    if (!Arguments(codePage, wide, length, text, capacity))
        return 0;
    if (usedDefaultChar)
        *usedDefaultChar = FALSE;
    const size_t count = length < 0 ? std::char_traits<wchar_t>::length(wide) + 1 : size_t(length);
    std::string result;
    if (!Encode(wide, count, &result)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return Deliver(result, text, capacity);
}

std::wstring AnsiToWide(const char* text)
{
    const int length = text ? MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0) : 0;
    if (length <= 0)
        return std::wstring();
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.pop_back();  // the terminator, which the string keeps by itself
    return wide;
}

std::string WideToAnsi(LPCWSTR wide)
{
    const int length = wide ? WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr) : 0;
    if (length <= 0)
        return std::string();
    std::string text(size_t(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), length, nullptr, nullptr);
    text.pop_back();
    return text;
}
