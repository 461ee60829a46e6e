// What tells one version of a file from the next without opening it: its
// size, its last write time and its identity (the file's index on its
// volume; on Windows, where a name lookup cannot give that, its creation
// time). A changed stamp means the file must be read again.
#pragma once

namespace platform {

struct FileStamp {
    unsigned long long size = 0, written = 0, identity = 0;
    bool directory = false;
    bool operator==(const FileStamp&) const = default;
};

// False when there is no such file (or it cannot be examined).
bool StampOf(const char* path, FileStamp& stamp);

}  // namespace platform
