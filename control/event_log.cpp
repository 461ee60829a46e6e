#include "control/event_log.h"

#include <fcntl.h>

#include <cstdio>
#include <ctime>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include "platform/platform.h"

namespace {

// Formats the local time of `when`; empty when it cannot be converted.
std::string Format(time_t when, const char* pattern) {
    struct tm local {};
#ifdef _WIN32
    if (localtime_s(&local, &when) != 0) return std::string();
#else
    if (!localtime_r(&when, &local)) return std::string();
#endif
    char buf[128];
    size_t n = strftime(buf, sizeof buf, pattern, &local);
    return std::string(buf, n);
}

}  // namespace

std::string EventLog::FileNameFor(time_t when) { return Format(when, "%Y-%B-%d") + "modem.txt"; }

void EventLog::Write(const char* text) const {
    if (!enabled_) return;
    time_t now = platform::Now();
    std::string name = FileNameFor(now);
    std::string entry = Format(now, "%Y-%B-%d  %H:%M:%S");
    entry += " :";
    entry += text ? text : "";
    entry += "\n\t";
    // Text mode as on Windows: every line feed reaches the file as CR LF.
    std::string bytes;
    bytes.reserve(entry.size() + 8);
    for (char c : entry) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    // Opened and closed per entry, shared, appended with one write.
#ifdef _WIN32
    int fd = _open(name.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return;
    _write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
    _close(fd);
#else
    int fd = open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    ssize_t ignored = write(fd, bytes.data(), bytes.size());
    (void)ignored;
    close(fd);
#endif
}
