// The daily event log: one timestamped entry per call, appended to
// "<%Y-%B-%d>modem.txt" in the current directory.
#pragma once

#include <ctime>
#include <string>

class EventLog {
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Off until the first control is constructed; nothing turns it off.
    void Enable() { enabled_ = true; }
    bool enabled() const { return enabled_; }
    // Appends one entry; never reports failure. Called on the control's
    // thread only.
    void Write(const char* text) const;
    void Write(const std::string& text) const { Write(text.c_str()); }

    // The file an entry at `when` goes to, e.g. "2004-March-05modem.txt".
    static std::string FileNameFor(time_t when);

private:
    // Identity of an open file, to notice that its name now means another
    // file (moved, deleted, another directory) or other permissions.
    struct FileId {
        unsigned long long dev = 0;
        unsigned long long ino = 0;
        unsigned mode = 0;
        unsigned uid = 0;
        unsigned gid = 0;
        bool operator==(const FileId&) const = default;
    };

    void Stamp(time_t now) const;
    void Append(const std::string& bytes) const;
    // The daily file's own operations, one set per platform.
    static long long MonotonicNs();
    static long long CheckInterval();
    bool IsOpen() const;
    bool OpenFile() const;
    bool NameStillLeadsToOpenFile() const;
    bool WriteOpenFile(const std::string& bytes) const;
    void CloseFile() const;

    bool enabled_ = false;
    // File name and "date  time :" of the last second formatted.
    mutable bool stamped_ = false;
    mutable time_t stampTime_ = 0;
    mutable std::string name_;
    mutable std::string prefix_;
    mutable std::string entry_;  // reused for every entry's bytes
    // The daily file, kept open between entries.
#ifdef _WIN32
    mutable void* file_ = nullptr;
#else
    mutable int fd_ = -1;
#endif
    mutable FileId openId_;
    mutable std::string openName_;  // the name fd_ was opened by
    // When the name was last looked up (a coarse monotonic clock, in ns).
    mutable long long checkedAt_ = 0;
};
