#include "control/core/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#ifndef _WIN32
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

// The file stays open between entries. A new day's name opens its own file
// at once; otherwise the name is looked up again at most every 10 ms (a
// system call per entry would cost as much as the write), and when it no
// longer leads to the open file (moved, deleted, replaced, another working
// directory, other permissions) the name is opened again, and created when
// missing. Shared with other writers: appended with one write per entry.
void EventLog::Append(const std::string& bytes) const {
    const long long now = MonotonicNs();
    if (IsOpen() && (name_ != openName_ || (now - checkedAt_ >= CheckInterval() && !NameStillLeadsToOpenFile())))
        CloseFile();
    if (!IsOpen()) {
        if (!OpenFile()) return;
        openName_ = name_;
        checkedAt_ = now;
    } else if (now - checkedAt_ >= CheckInterval()) {
        checkedAt_ = now;
    }
    if (!WriteOpenFile(bytes)) CloseFile();
}

namespace {
// How long an open file is trusted before its name is looked up again.
constexpr long long kCheckEveryNs = 10'000'000;
}  // namespace

#ifdef _WIN32

long long EventLog::MonotonicNs() {
    static const long long frequency = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 1;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<long long>(static_cast<double>(c.QuadPart) * 1e9 / static_cast<double>(frequency));
}

long long EventLog::CheckInterval() { return kCheckEveryNs; }

namespace {

// Others may read, write, rename and delete the file while it is open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IdOf(HANDLE h, unsigned long long* volume, unsigned long long* index) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    *volume = info.dwVolumeSerialNumber;
    *index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

}  // namespace

bool EventLog::IsOpen() const { return file_ != nullptr; }

bool EventLog::OpenFile() const {
    HANDLE h = CreateFileA(name_.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FileId id;
    if (!IdOf(h, &id.dev, &id.ino)) {
        CloseHandle(h);
        return false;
    }
    file_ = h;
    openId_ = id;
    return true;
}

bool EventLog::NameStillLeadsToOpenFile() const {
    HANDLE h = CreateFileA(name_.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FileId id;
    bool same = IdOf(h, &id.dev, &id.ino) && id == openId_;
    CloseHandle(h);
    return same;
}

bool EventLog::WriteOpenFile(const std::string& bytes) const {
    DWORD written = 0;
    return WriteFile(static_cast<HANDLE>(file_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void EventLog::CloseFile() const {
    if (!file_) return;
    CloseHandle(static_cast<HANDLE>(file_));
    file_ = nullptr;
}

#else

namespace {

// statx without the times: asking for them would make the next write stamp
// the file with a fine-grained time, dirtying the inode each time.
constexpr unsigned kWanted = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_INO;

template <class Id>
Id IdentityOf(const struct statx& st) {
    return Id{makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino, st.stx_mode, st.stx_uid, st.stx_gid};
}

}  // namespace

// The coarse clock costs no system call but runs behind by up to its
// resolution: the check comes that much early so that it is never late.
long long EventLog::MonotonicNs() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

long long EventLog::CheckInterval() {
    static const long long interval = [] {
        struct timespec res {};
        clock_getres(CLOCK_MONOTONIC_COARSE, &res);
        const long long r = static_cast<long long>(res.tv_sec) * 1'000'000'000 + res.tv_nsec;
        return r < kCheckEveryNs ? kCheckEveryNs - r : 0;
    }();
    return interval;
}

bool EventLog::IsOpen() const { return fd_ >= 0; }

bool EventLog::OpenFile() const {
    int fd = open(name_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct statx st;
    if (statx(fd, "", AT_EMPTY_PATH, kWanted, &st) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    openId_ = IdentityOf<FileId>(st);
    return true;
}

// Whether the name, looked up in the current directory, still leads to the
// open file with the same permissions.
bool EventLog::NameStillLeadsToOpenFile() const {
    struct statx st;
    if (statx(AT_FDCWD, name_.c_str(), 0, kWanted, &st) != 0) return false;
    return IdentityOf<FileId>(st) == openId_;
}

bool EventLog::WriteOpenFile(const std::string& bytes) const { return write(fd_, bytes.data(), bytes.size()) >= 0; }

void EventLog::CloseFile() const {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
}

#endif
