// A store set aside and one rebuilt from the call folders: what a call's
// folder says of it (its files, its recordings, the times of its log).
#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "host/call_store.h"

namespace {

// The N of a folder named "call-N", or 0.
int CallFolderNumber(const std::string& name) {
    if (name.rfind("call-", 0) != 0 || name.size() == 5 || name.size() > 14) return 0;
    for (size_t i = 5; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return 0;
    return std::stoi(name.substr(5));
}

// The call folders of `dir` (real folders, not links), by number.
std::vector<int> CallFolders(const std::string& dir) {
    std::vector<int> numbers;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* ent = readdir(d)) {
            const int n = CallFolderNumber(ent->d_name);
            struct stat st {};
            if (n > 0 && lstat((dir + "/" + ent->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                numbers.push_back(n);
        }
        closedir(d);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// The time of a log entry, "2026-December-08  03:35:47 :...", as Unix
// seconds (local time); -1 when the line is not an entry.
double EntryTime(const std::string& line) {
    size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos) return -1;
    struct tm tm {};
    const char* end = strptime(line.c_str() + at, "%Y-%B-%d %H:%M:%S", &tm);
    if (!end) return -1;
    tm.tm_isdst = -1;
    const time_t t = mktime(&tm);
    return t == static_cast<time_t>(-1) ? -1 : static_cast<double>(t);
}

// The first and last entry times of a call's log.
bool LogSpan(const std::string& path, double& first, double& last) {
    std::ifstream in(path, std::ios::binary);
    first = last = -1;
    for (std::string line; std::getline(in, line);) {
        const double t = EntryTime(line);
        if (t < 0) continue;
        if (first < 0) first = t;
        last = t;
    }
    return first >= 0;
}

}  // namespace

bool HasCallFolders(const std::string& dir) { return !CallFolders(dir).empty(); }

void RollBack(const std::string& path) {
    sqlite3* writer = nullptr;
    if (sqlite3_open_v2(path.c_str(), &writer, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(writer, 5000);
        sqlite3_exec(writer, "PRAGMA user_version", nullptr, nullptr, nullptr);
    }
    sqlite3_close(writer);
}

std::string SetStoreAside(const std::string& dir, const std::string& why) {
    const time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    const std::string path = dir + "/" + CallStore::kFileName;
    std::string name = std::string(CallStore::kFileName) + "." + why + "-" + stamp;
    struct stat st {};
    for (int i = 2; lstat((dir + "/" + name).c_str(), &st) == 0; ++i)
        name = std::string(CallStore::kFileName) + "." + why + "-" + stamp + "-" + std::to_string(i);
    if (rename(path.c_str(), (dir + "/" + name).c_str()) != 0) return "";
    // A journal left beside it belongs to it, not to the store made next.
    rename((path + "-journal").c_str(), (dir + "/" + name + "-journal").c_str());
    return name;
}

bool CallStore::Check() {
    sqlite3_stmt* s = nullptr;
    bool ok = sqlite3_prepare_v2(db_, "PRAGMA quick_check", -1, &s, nullptr) == SQLITE_OK &&
              sqlite3_step(s) == SQLITE_ROW &&
              std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 0))) == "ok";
    sqlite3_finalize(s);
    return ok;
}

bool CallStore::Rebuild(int& added) {
    added = 0;
    for (int n : CallFolders(dir_)) {
        const std::string folder = "call-" + std::to_string(n);
        sqlite3_stmt* known = nullptr;
        sqlite3_prepare_v2(db_, "SELECT 1 FROM calls WHERE folder = ?", -1, &known, nullptr);
        sqlite3_bind_text(known, 1, folder.c_str(), -1, SQLITE_TRANSIENT);
        const int step = sqlite3_step(known);
        sqlite3_finalize(known);
        if (step == SQLITE_ROW) continue;
        if (step != SQLITE_DONE) return Fail("cannot read the calls");

        // The call as its folder has it: its number, its recordings (the
        // message files), from its log's first entry to its last.
        CallRecord call;
        call.number = n;
        call.dir = dir_ + "/" + folder;
        double first = -1, last = -1;
        if (!LogSpan(call.dir + "/log.txt", first, last)) {
            struct stat st {};
            first = last = lstat(call.dir.c_str(), &st) == 0 ? static_cast<double>(st.st_mtime) : 0;
        }
        call.start = 0;
        call.end = last - first;
        if (DIR* d = opendir(call.dir.c_str())) {
            while (dirent* ent = readdir(d)) {
                const std::string name = ent->d_name;
                if (name.rfind("message-", 0) == 0 && name.size() > 12 && name.substr(name.size() - 4) == ".wav")
                    call.recordings.push_back(CallRecording{name, 0, -1, call.dir + "/" + name});
            }
            closedir(d);
        }
        std::sort(call.recordings.begin(), call.recordings.end(),
                  [](const CallRecording& a, const CallRecording& b) { return a.path < b.path; });
        if (!Finish(0, call, static_cast<time_t>(first))) return false;
        // How it ended is not in the folder.
        const std::string ended = std::string("UPDATE calls SET ended = '") + ending::kInterrupted + "' WHERE folder = '" +
                                  folder + "'";
        if (!Exec(ended.c_str())) return false;
        ++added;
    }
    return true;
}

std::unique_ptr<CallStore> CallStore::Replace(const std::string& dir, const std::string& damage, std::string& error) {
    const std::string path = dir + "/" + kFileName;
    const std::string aside = SetStoreAside(dir, damage.empty() ? "old" : "corrupt");
    if (aside.empty() && errno != ENOENT) {
        error = path + (damage.empty() ? "" : " is damaged (" + damage + ") and") + " cannot be set aside: " +
                strerror(errno);
        return nullptr;
    }
    auto store = OpenForWriting(dir, error);
    if (!store) return nullptr;
    int added = 0;
    const bool rebuilt = store->Rebuild(added);
    store->notice_ = (aside.empty() ? std::string(kFileName)
                      : damage.empty() ? std::string(kFileName) + " kept as " + aside
                                       : std::string(kFileName) + " is damaged (" + damage + "); kept as " + aside) +
                     (aside.empty() ? " " : ", ") +
                     (rebuilt ? "rebuilt from " + std::to_string(added) + " call folder(s)"
                              : "not rebuilt: " + store->error_);
    return store;
}
