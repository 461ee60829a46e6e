#include "platform/file_stamp.h"

#include <windows.h>

namespace platform {

namespace {
unsigned long long Join(DWORD high, DWORD low) { return (static_cast<unsigned long long>(high) << 32) | low; }
}  // namespace

bool StampOf(const char* path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!path || !GetFileAttributesExA(path, GetFileExInfoStandard, &info)) return false;
    stamp.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    stamp.written = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    stamp.identity = Join(info.ftCreationTime.dwHighDateTime, info.ftCreationTime.dwLowDateTime);
    stamp.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

}  // namespace platform
