#include "textconvert_win32.h"

#include <windows.h>

bool WideFromUtf8(const char* text, wchar_t* out, size_t outCount) {
    if (outCount == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (!text[0]) {
        out[0] = L'\0';
        return true;
    }
    int count = outCount > 0x7fffffff ? 0x7fffffff : (int)outCount;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, count) > 0;
}

bool Utf8FromWide(const wchar_t* text, char* out, size_t outSize) {
    if (outSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (!text[0]) {
        out[0] = '\0';
        return true;
    }
    int size = outSize > 0x7fffffff ? 0x7fffffff : (int)outSize;
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, out, size, nullptr, nullptr) > 0;
}
