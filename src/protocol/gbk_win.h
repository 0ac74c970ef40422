#pragma once
// Code page 936 through the Windows API, for Qt builds without ICU. Built on
// Windows only; free of Qt so that it compiles with the Windows headers alone.
// Text is UTF-16 in std::wstring (wchar_t is 16 bits on Windows).

#include <optional>
#include <string>

namespace vorn::cp936 {

// nullopt when a character has no code of its own in code page 936: neither a
// best-fit look-alike nor the default character is accepted in its place.
std::optional<std::string> encode(const std::wstring &text);
// nullopt when the bytes hold a sequence that is not code page 936.
std::optional<std::wstring> decode(const std::string &bytes);

}  // namespace vorn::cp936
