#include "control/core/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include "platform/platform.h"

namespace {

// The local time of `when`; false when it cannot be converted.
bool Local(time_t when, struct tm* local) {
#ifdef _WIN32
    return localtime_s(local, &when) == 0;
#else
    return localtime_r(&when, local) != nullptr;
#endif
}

std::string Format(const struct tm& local, const char* pattern) {
    char buf[128];
    size_t n = strftime(buf, sizeof buf, pattern, &local);
    return std::string(buf, n);
}

}  // namespace

std::string EventLog::FileNameFor(time_t when) {
    struct tm local {};
    return (Local(when, &local) ? Format(local, "%Y-%B-%d") : std::string()) + "modem.txt";
}

EventLog::~EventLog() { CloseFile(); }

// A time that cannot be converted gives "modem.txt" and an entry that
// begins " :".
void EventLog::Stamp(time_t now) const {
    struct tm local {};
    if (Local(now, &local)) {
        std::string date = Format(local, "%Y-%B-%d");
        name_ = date + "modem.txt";
        prefix_ = date + "  " + Format(local, "%H:%M:%S") + " :";
    } else {
        name_ = "modem.txt";
        prefix_ = " :";
    }
    stampTime_ = now;
    stamped_ = true;
}

void EventLog::Write(const char* text) const {
    if (!enabled_) return;
    time_t now = platform::Now();
    if (!stamped_ || now != stampTime_) Stamp(now);
    // Text mode as on Windows: every line feed reaches the file as CR LF.
    entry_ = prefix_;
    if (text) {
        while (const char* lf = strchr(text, '\n')) {
            entry_.append(text, static_cast<size_t>(lf - text));
            entry_ += "\r\n";
            text = lf + 1;
        }
        entry_ += text;
    }
    entry_ += "\r\n\t";
    Append(entry_);
}

#ifdef _WIN32

// Opened and closed per entry: a handle kept open would stop others from
// moving or deleting the file. Shared, appended with one write.
void EventLog::Append(const std::string& bytes) const {
    int fd = _open(name_.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return;
    _write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
    _close(fd);
}

void EventLog::CloseFile() const {}

#else

// The file stays open while the name, looked up again in the current
// directory for every entry, still leads to it with the same permissions;
// otherwise it is opened again (and created when missing). Shared with
// other writers: O_APPEND and one write per entry.
void EventLog::Append(const std::string& bytes) const {
    // statx without the times: asking for them would make the next write
    // stamp the file with a fine-grained time, dirtying the inode each time.
    constexpr unsigned kWanted = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_INO;
    auto idOf = [](const struct statx& st) {
        return FileId{makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino, st.stx_mode, st.stx_uid, st.stx_gid};
    };
    struct statx st;
    if (fd_ >= 0 && (statx(AT_FDCWD, name_.c_str(), 0, kWanted, &st) != 0 ||
                     !(idOf(st) == openId_)))
        CloseFile();
    if (fd_ < 0) {
        int fd = open(name_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return;
        if (statx(fd, "", AT_EMPTY_PATH, kWanted, &st) != 0) {
            close(fd);
            return;
        }
        fd_ = fd;
        openId_ = idOf(st);
    }
    if (write(fd_, bytes.data(), bytes.size()) < 0) CloseFile();
}

void EventLog::CloseFile() const {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
}

#endif
