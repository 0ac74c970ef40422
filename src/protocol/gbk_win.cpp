#include "protocol/gbk_win.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <climits>

namespace vorn::cp936 {

namespace {
constexpr UINT kCodePage = 936;
}

std::optional<std::string> encode(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    if (text.size() > size_t(INT_MAX))
        return std::nullopt;
    const int length = int(text.size());
    // Without WC_NO_BEST_FIT_CHARS a character outside the code page may come
    // out as a look-alike; with it, it comes out as the default character and
    // the flag below tells.
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, text.data(), length,
                                         nullptr, 0, nullptr, &usedDefault);
    if (size <= 0 || usedDefault)
        return std::nullopt;
    std::string out(size_t(size), '\0');
    usedDefault = FALSE;
    const int written = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, text.data(), length,
                                            out.data(), size, nullptr, &usedDefault);
    if (written != size || usedDefault)
        return std::nullopt;
    return out;
}

std::optional<std::wstring> decode(const std::string &bytes)
{
    if (bytes.empty())
        return std::wstring();
    if (bytes.size() > size_t(INT_MAX))
        return std::nullopt;
    const int length = int(bytes.size());
    // MB_ERR_INVALID_CHARS: fail instead of putting U+FFFD or '?' in place of
    // a byte sequence the code page does not define.
    const int size = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes.data(), length,
                                         nullptr, 0);
    if (size <= 0)
        return std::nullopt;
    std::wstring out(size_t(size), L'\0');
    const int written = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes.data(), length,
                                            out.data(), size);
    if (written != size)
        return std::nullopt;
    return out;
}

}  // namespace vorn::cp936
