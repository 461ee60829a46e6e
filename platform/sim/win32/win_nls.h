// Code-page conversion between UTF-16 and narrow code pages (936 GBK,
// 950 Big5, 65001 UTF-8) for the Linux build, through iconv.
#pragma once

#include <string>

#include "win_types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_INSUFFICIENT_BUFFER 122L

extern "C" {
// Same contract as Win32: with a zero output size the needed size is
// returned; a count of -1 includes the terminating zero.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                               LPCSTR defaultChar, LPBOOL usedDefault);
UINT WINAPI GetACP();
}

namespace sim {
// The ANSI code page (936 unless a test says otherwise).
void SetACP(UINT codePage);
// Converts bytes from one code page to another through UTF-16; what the
// target cannot hold becomes '?'. For hosts, peers and tests.
std::string ConvertCodePage(const std::string& bytes, UINT from, UINT to);
}  // namespace sim
