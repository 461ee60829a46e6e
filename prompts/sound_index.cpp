#include "prompts/sound_index.h"

#include "control/core/automation_error.h"

void SoundIndex::Refresh() {
    platform::FileStamp now;
    if (!platform::StampOf(kFileName, now) || now.directory) {
        loaded_ = false;
        throw AutomationError(kFileNotFoundError, std::string(kFileName) + ": the character sound index was not found");
    }
    if (loaded_ && now == stamp_) return;
    // Read only, not shared: an index another program holds open fails.
    HANDLE file = CreateFileA(kFileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool ok = file != INVALID_HANDLE_VALUE && Load(file, now);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!ok) {
        loaded_ = false;
        throw AutomationError(kPermissionDeniedError, std::string(kFileName) + ": the character sound index cannot be read");
    }
}

bool SoundIndex::Load(HANDLE file, const platform::FileStamp& stamp) {
    loaded_ = false;
    std::string bytes;
    char buf[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buf, sizeof buf, &got, nullptr) != FALSE) && got > 0) bytes.append(buf, got);
    if (!ok) return false;

    // Every offset whose zero-terminated string is exactly two bytes is a
    // key; its name starts four bytes on. The first offset wins.
    nameAt_.assign(65536, -1);
    const size_t n = bytes.size();
    for (size_t i = 0; i + 1 < n; ++i) {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        if (a == 0 || b == 0 || (i + 2 < n && bytes[i + 2] != 0)) continue;
        int& at = nameAt_[a * 256 + b];
        if (at < 0) at = static_cast<int>(i + 4);
    }
    bytes_ = std::move(bytes);
    stamp_ = stamp;
    loaded_ = true;
    return true;
}

std::string SoundIndex::GetSoundName(const std::string& character) {
    core_.WriteLog("begin read");
    Refresh();
    if (character.size() != 2 || character[0] == 0 || character[1] == 0) return kMissing;
    const int at = nameAt_[static_cast<unsigned char>(character[0]) * 256 + static_cast<unsigned char>(character[1])];
    if (at < 0) return kMissing;
    std::string name;
    if (static_cast<size_t>(at) < bytes_.size()) name = bytes_.c_str() + at;  // up to its 0 byte or the end
    core_.WriteLog(name);
    return name;
}
