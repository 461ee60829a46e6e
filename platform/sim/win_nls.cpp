#include "win32/win_nls.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "sim.h"
#include "win32/win_user.h"

namespace {

UINT gAcp = 936;

const char* IconvName(UINT cp) {
    if (cp == CP_ACP || cp == CP_OEMCP) cp = gAcp;
    switch (cp) {
        case 936: return "CP936";
        case 950: return "CP950";
        case 65001: return "UTF-8";
        case 1252: return "CP1252";
        case 20127: return "ASCII";
        default: return nullptr;
    }
}

// One descriptor per direction and code page, opened on first use and kept;
// each use starts from the initial shift state.
iconv_t Descriptor(const char* from, const char* to) {
    // Never destroyed: conversions may run while the process exits.
    static auto& open = *new std::map<std::pair<std::string, std::string>, iconv_t>();
    auto key = std::make_pair(std::string(from), std::string(to));
    auto it = open.find(key);
    if (it == open.end()) {
        iconv_t cd = iconv_open(to, from);
        if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
        it = open.emplace(key, cd).first;
    }
    iconv(it->second, nullptr, nullptr, nullptr, nullptr);
    return it->second;
}

// Whether the text is ASCII alone: bytes, or UTF-16LE units, below 0x80.
bool AllAscii(const char* in, size_t len, bool wide) {
    if (wide) {
        if (len % 2) return false;
        for (size_t i = 0; i < len; i += 2)
            if (static_cast<unsigned char>(in[i]) >= 0x80 || in[i + 1] != 0) return false;
        return true;
    }
    for (size_t i = 0; i < len; ++i)
        if (static_cast<unsigned char>(in[i]) >= 0x80) return false;
    return true;
}

// Converts bytes between two iconv encodings. Invalid input is replaced
// with `replacement` (in the target encoding) unless strict.
bool Convert(const char* from, const char* to, const char* in, size_t inLen, std::string& out, bool strict,
             const std::string& replacement, bool* replaced) {
    // Every code page here keeps ASCII as it is: ASCII text needs no
    // converter (nor its loading at start-up).
    const bool fromWide = strcmp(from, "UTF-16LE") == 0;
    if (AllAscii(in, inLen, fromWide)) {
        out.clear();
        out.reserve(fromWide ? inLen / 2 : inLen * 2);
        for (size_t i = 0; i < inLen; i += fromWide ? 2 : 1) {
            out += in[i];
            if (!fromWide) out += '\0';
        }
        return true;
    }
    iconv_t cd = Descriptor(from, to);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.clear();
    char buf[4096];
    char* src = const_cast<char*>(in);
    size_t left = inLen;
    bool ok = true;
    while (left > 0) {
        char* dst = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, dst - buf);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            if (strict) {
                ok = false;
                break;
            }
            // EILSEQ or EINVAL: skip one input unit and put the replacement.
            size_t unit = strcmp(from, "UTF-16LE") == 0 ? 2 : 1;
            unit = std::min(unit, left);
            src += unit;
            left -= unit;
            out += replacement;
            if (replaced) *replaced = true;
        }
    }
    return ok;
}

}  // namespace

namespace sim {
void SetACP(UINT codePage) { gAcp = codePage; }

std::string ConvertCodePage(const std::string& bytes, UINT from, UINT to) {
    if (bytes.empty()) return bytes;
    int n = MultiByteToWideChar(from, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return std::string();
    std::u16string w(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(from, 0, bytes.data(), static_cast<int>(bytes.size()), reinterpret_cast<LPWSTR>(w.data()), n);
    int m = WideCharToMultiByte(to, 0, reinterpret_cast<LPCWSTR>(w.data()), n, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(m), '\0');
    WideCharToMultiByte(to, 0, reinterpret_cast<LPCWSTR>(w.data()), n, out.data(), m, nullptr, nullptr);
    return out;
}
}  // namespace sim

extern "C" {

UINT WINAPI GetACP() { return gAcp; }

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
    const char* name = IconvName(codePage);
    if (!name || !src || dstLen < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t len = srcLen < 0 ? strlen(src) + 1 : static_cast<size_t>(srcLen);
    std::string out;
    std::string repl("\xFD\xFF", 2);  // U+FFFD in UTF-16LE
    if (!Convert(name, "UTF-16LE", src, len, out, (flags & MB_ERR_INVALID_CHARS) != 0, repl, nullptr)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    int units = static_cast<int>(out.size() / 2);
    if (dstLen == 0) return units;
    if (units > dstLen) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(dst, out.data(), out.size());
    return units;
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                               LPCSTR defaultChar, LPBOOL usedDefault) {
    const char* name = IconvName(codePage);
    if (!name || !src || dstLen < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t len = 0;
    if (srcLen < 0) {
        while (src[len]) ++len;
        ++len;
    } else {
        len = static_cast<size_t>(srcLen);
    }
    std::string out;
    bool replaced = false;
    std::string repl = defaultChar ? std::string(defaultChar) : std::string("?");
    Convert("UTF-16LE", name, reinterpret_cast<const char*>(src), len * 2, out, false, repl, &replaced);
    if (usedDefault) *usedDefault = replaced ? TRUE : FALSE;
    int bytes = static_cast<int>(out.size());
    if (dstLen == 0) return bytes;
    if (bytes > dstLen) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(dst, out.data(), out.size());
    return bytes;
}

}  // extern "C"
