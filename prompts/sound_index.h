// The character sound index "hanzi.dat": each entry is a character's two
// GBK bytes, a 0 byte, one unread byte, and the sound name ending in a 0
// byte (or the end of the file). The first entry that matches wins. The
// index is kept in memory between lookups and read again as soon as the
// file's size, write time or identity changes (platform::StampOf, looked at
// for every character), so a new index takes effect at the very next
// character.
#pragma once

#include <string>
#include <vector>

#include "control/core/core.h"
#include "platform/file_stamp.h"

class SoundIndex {
public:
    static constexpr const char* kFileName = "hanzi.dat";
    // The name of a character the index does not hold.
    static constexpr const char* kMissing = "_long";

    explicit SoundIndex(const Core& core) : core_(core) {}

    // The sound name of `character` (its two GBK bytes), or "_long". Logs
    // "begin read", and the name when found. A missing or unreadable index
    // raises AutomationError naming the file.
    std::string GetSoundName(const std::string& character);

private:
    void Refresh();
    bool Load(HANDLE file, const platform::FileStamp& stamp);

    const Core& core_;
    bool loaded_ = false;
    platform::FileStamp stamp_;
    std::string bytes_;
    // Per two-byte key (lead byte * 256 + trail byte): where the first
    // matching entry's name starts in bytes_, or -1.
    std::vector<int> nameAt_;
};
