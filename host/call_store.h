// The call history: every call of a service, one row each, in an SQLite
// database beside the outputs (DIR/calls.db). A runner writes a call as
// open when it begins and complete (times, how it ended, keys, prompts,
// recordings, output files) when its outputs are written, each in one
// transaction; the next runner to open the store closes the calls that a
// runner which is gone left open. Readers (`marlune calls`, `marlune
// serve`) open it read-only.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "host/call_record.h"

struct sqlite3;

// How a call ended, as the history names it.
namespace ending {
inline constexpr const char* kOpen = "open";                 // in progress (or its runner died)
inline constexpr const char* kCaller = "caller";             // the caller hung up
inline constexpr const char* kService = "service";           // the service hung up
inline constexpr const char* kUnanswered = "unanswered";     // the line went free unconnected
inline constexpr const char* kStopped = "stopped";           // the session ended during the call
inline constexpr const char* kInterrupted = "interrupted";   // its runner died; closed by the next
}  // namespace ending

// The ending of a finished call, from what the tracker saw.
std::string EndingOf(const CallRecord& call);

struct StoredKey {
    std::string key;
    double t;
};
struct StoredPrompt {
    std::string text;
    double start, end;
    bool heard = true;  // false: refused while something else played
};
struct StoredFile {
    int64_t id = 0;
    std::string kind;  // log, heard, recording, timeline, timeline-svg, other
    std::string path;  // relative to the store's folder
    int64_t bytes = 0;
};
struct StoredRecording {
    std::string name;  // as the application named it
    double start = -1, end = -1;
    int64_t file = 0;  // its copy's row in the files, 0 when there is none
};

struct StoredCall {
    int64_t id = 0;
    std::string folder;  // the call's output folder under the store's, "" until written
    bool outgoing = false;
    int line = 0;
    std::string number, name;
    double start = 0, answer = -1, end = -1;           // clock seconds of the session
    double wallStart = 0, wallAnswer = -1, wallEnd = -1;  // Unix seconds
    std::string ended;
    std::string keys;
    int recordings = 0;
    // Filled by CallStore::Load.
    std::string error;  // what ended the call's script, "" when nothing did
    std::vector<StoredKey> keyTimes;
    std::vector<StoredPrompt> prompts;
    std::vector<StoredRecording> recorded;
    std::vector<StoredFile> files;
};

// Which calls to list. Dates are local calendar days.
struct CallFilter {
    std::string number;  // part of the number
    time_t from = 0;     // calls that began at or after (0: any)
    time_t to = 0;       // calls that began before (0: any)
    int recorded = -1;   // 1: with a recording, 0: without, -1: either
    std::string ended;   // one of the endings, "" for any
    int limit = 0;       // 0: all
    int64_t offset = 0;

    // One filter from its text: "number", "from" and "to" (YYYY-MM-DD, both
    // days included), "recorded" (yes/no), "ended". False with a message
    // when the name or the value is not one of these.
    bool Set(const std::string& name, const std::string& value, std::string& error);
    static constexpr size_t kMaxNumber = 64;
};

class CallStore {
public:
    static constexpr int kSchemaVersion = 2;
    static constexpr const char* kFileName = "calls.db";

    // DIR/calls.db for a runner: created or migrated to the current schema;
    // calls left open by runners that are no longer running are closed as
    // interrupted. A damaged store (not a database, failing its check, or
    // emptied while call folders exist) is kept aside as
    // calls.db.corrupt-YYYYMMDD-HHMMSS and a new one is rebuilt from the
    // call folders; `rebuild` does the same to a sound one (kept as
    // calls.db.old-...). notice() then says so. Null with a message when
    // it cannot be used.
    static std::unique_ptr<CallStore> OpenForWriting(const std::string& dir, std::string& error,
                                                     bool rebuild = false);
    // DIR/calls.db read-only. A store left with a hot journal by a writer
    // that was killed is rolled back first (the only write a reader makes,
    // and only then).
    static std::unique_ptr<CallStore> OpenForReading(const std::string& dir, std::string& error);
    ~CallStore();
    CallStore(const CallStore&) = delete;
    CallStore& operator=(const CallStore&) = delete;

    // A call began: written at once as open (with its folder, when it has
    // one already). `epoch` is the wall-clock
    // second of clock time 0. Answers its id, 0 on failure (see error()).
    int64_t Begin(const CallRecord& call, time_t epoch);
    // The call ended and its outputs are written: the whole row, replacing
    // the open one, in one transaction.
    bool Finish(int64_t id, const CallRecord& call, time_t epoch);

    std::vector<StoredCall> List(const CallFilter& filter);
    int64_t Count(const CallFilter& filter);
    // One call with its keys, prompts, recordings and files.
    bool Load(int64_t id, StoredCall& call);
    bool File(int64_t fileId, StoredFile& file);

    const std::string& dir() const { return dir_; }
    const std::string& error() const { return error_; }
    const std::string& notice() const { return notice_; }

    // How long a writer waits for readers to let go of the store.
    static constexpr int kWriterPatienceMs = 60000;

private:
    CallStore(sqlite3* db, std::string dir) : db_(db), dir_(std::move(dir)) {}
    bool Exec(const char* sql);
    bool Fail(const std::string& what);
    bool Migrate();
    bool CloseAbandoned();
    std::string Folder(const CallRecord& call) const;
    bool FreeFolder(const std::string& folder, int64_t id);
    // call_store_repair.cpp: rows for the call folders the store lacks;
    // SQLite's quick check of the whole file.
    bool Rebuild(int& added);
    bool Check();
    // The store at DIR set aside (as damaged when `damage` says why) and
    // a new one rebuilt from the call folders.
    static std::unique_ptr<CallStore> Replace(const std::string& dir, const std::string& damage, std::string& error);

    sqlite3* db_;
    std::string dir_;
    std::string error_;
    std::string notice_;
};

// Keeps the tracker's calls in DIR/calls.db: written open when each begins,
// complete when its outputs are written (before the tracker's own
// onFinished). The store lives as long as the tracker's hooks. False with
// a message when the store cannot be opened; then, as for write failures
// later, each call that is not recorded is reported on stderr and the
// calls go on.
bool AttachCallHistory(CallTracker& tracker, const std::string& dir, std::string& error);

// A store's file aside from its place: DIR/calls.db (and its journal) to
// DIR/calls.db.<why>-YYYYMMDD-HHMMSS; answers that name, "" on failure.
std::string SetStoreAside(const std::string& dir, const std::string& why);
// Whether DIR holds call folders (call-N).
bool HasCallFolders(const std::string& dir);
// Rolls back the journal a writer killed in a transaction left beside the
// store at `path` (a connection that may write does it as it opens).
void RollBack(const std::string& path);

// "2026-12-07 16:50:29" in local time; "" for a negative time.
std::string LocalTime(double unixSeconds);
