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

namespace {

// statx without the times: asking for them would make the next write stamp
// the file with a fine-grained time, dirtying the inode each time.
constexpr unsigned kWanted = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_INO;

// How long an open file is trusted before its name is looked up again.
constexpr long long kCheckEveryNs = 10'000'000;

long long CoarseNs(clockid_t clock) {
    struct timespec ts {};
    clock_gettime(clock, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The coarse clock costs no system call but runs behind by up to its
// resolution: the check comes that much early so that it is never late.
long long CheckInterval() {
    static const long long interval = [] {
        struct timespec res {};
        clock_getres(CLOCK_MONOTONIC_COARSE, &res);
        const long long r = static_cast<long long>(res.tv_sec) * 1'000'000'000 + res.tv_nsec;
        return r < kCheckEveryNs ? kCheckEveryNs - r : 0;
    }();
    return interval;
}

}  // namespace

// Whether the name, looked up in the current directory, still leads to the
// open file with the same permissions.
bool EventLog::NameStillLeadsToOpenFile() const {
    struct statx st;
    if (statx(AT_FDCWD, name_.c_str(), 0, kWanted, &st) != 0) return false;
    return FileId{makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino, st.stx_mode, st.stx_uid, st.stx_gid} ==
           openId_;
}

// The file stays open between entries. A new day's name opens its own file
// at once; otherwise the name is looked up again at most every 10 ms (a
// system call per entry would cost as much as the write), and when it no
// longer leads to the open file (moved, deleted, replaced, another working
// directory, other permissions) the name is opened again, and created when
// missing. Shared with other writers: O_APPEND and one write per entry.
void EventLog::Append(const std::string& bytes) const {
    const long long now = CoarseNs(CLOCK_MONOTONIC_COARSE);
    if (fd_ >= 0 && (name_ != openName_ || (now - checkedAt_ >= CheckInterval() && !NameStillLeadsToOpenFile())))
        CloseFile();
    if (fd_ < 0) {
        int fd = open(name_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return;
        struct statx st;
        if (statx(fd, "", AT_EMPTY_PATH, kWanted, &st) != 0) {
            close(fd);
            return;
        }
        fd_ = fd;
        openId_ = FileId{makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino, st.stx_mode, st.stx_uid, st.stx_gid};
        openName_ = name_;
        checkedAt_ = now;
    } else if (now - checkedAt_ >= CheckInterval()) {
        checkedAt_ = now;
    }
    if (write(fd_, bytes.data(), bytes.size()) < 0) CloseFile();
}

void EventLog::CloseFile() const {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
}

#endif
