// Text between a narrow code page (936 GBK, 950 Big5, CP_UTF8, CP_ACP) and
// UTF-16, over MultiByteToWideChar / WideCharToMultiByte: the real ones on
// Windows, the platform layer's on Linux. Every conversion in the control,
// the host and the Windows child control goes through here.
#pragma once

#include <string>

#include "platform/platform.h"

namespace codepage {

static_assert(sizeof(WCHAR) == sizeof(char16_t), "WCHAR is a UTF-16 unit");

// Bytes in `codePage` to UTF-16. Empty when the code page is unknown.
inline std::u16string ToWide(UINT codePage, const std::string& bytes) {
    if (bytes.empty()) return std::u16string();
    int len = static_cast<int>(bytes.size());
    int n = MultiByteToWideChar(codePage, 0, bytes.data(), len, nullptr, 0);
    if (n <= 0) return std::u16string();
    std::u16string out(static_cast<size_t>(n), u'\0');
    n = MultiByteToWideChar(codePage, 0, bytes.data(), len, reinterpret_cast<LPWSTR>(out.data()), n);
    out.resize(static_cast<size_t>(n > 0 ? n : 0));
    return out;
}

// UTF-16 to bytes in `codePage`; what the code page cannot hold becomes
// its default character ('?'). Empty when the code page is unknown.
inline std::string FromWide(UINT codePage, const std::u16string& wide) {
    if (wide.empty()) return std::string();
    auto src = reinterpret_cast<LPCWSTR>(wide.data());
    int len = static_cast<int>(wide.size());
    int n = WideCharToMultiByte(codePage, 0, src, len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    n = WideCharToMultiByte(codePage, 0, src, len, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n > 0 ? n : 0));
    return out;
}

// Bytes from one code page to another, through UTF-16.
inline std::string Convert(const std::string& bytes, UINT from, UINT to) {
    return FromWide(to, ToWide(from, bytes));
}

}  // namespace codepage
