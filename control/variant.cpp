#include "control/variant.h"

#include <vector>

std::string ToAnsi(const std::u16string& wide) {
    if (wide.empty()) return std::string();
    auto src = reinterpret_cast<LPCWSTR>(wide.data());
    int n = WideCharToMultiByte(CP_ACP, 0, src, static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, src, static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::u16string FromAnsi(const std::string& ansi) {
    if (ansi.empty()) return std::u16string();
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (n <= 0) return std::u16string();
    std::u16string out(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), reinterpret_cast<LPWSTR>(out.data()),
                        n);
    return out;
}
