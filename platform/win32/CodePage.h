// Conversion between 8-bit strings (the ANSI code page, which is UTF-8 here) and wide strings
// (wchar_t, one code point each).
#pragma once

#include <string>

#include "Win32Types.h"

typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* LPCOLESTR;
typedef WCHAR* LPOLESTR;

#define CP_ACP 0
#define CP_UTF8 65001
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_NO_UNICODE_TRANSLATION 1113

// `length` -1 converts up to and with the terminator. With `capacity` 0 the size the result
// needs is returned and nothing is written; 0 on failure (the last error tells which), among them a
// capacity given without a buffer.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, LPWSTR wide, int capacity);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int length, char* text, int capacity,
                        const char* defaultChar, BOOL* usedDefaultChar);

// A whole 8-bit string as a wide one; empty when it is not valid in the ANSI code page.
std::wstring AnsiToWide(const char* text);
// A whole wide string as an 8-bit one; empty when it cannot be converted.
std::string WideToAnsi(LPCWSTR wide);
