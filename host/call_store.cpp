#include "host/call_store.h"

#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>

#include "platform/sim/sim.h"

namespace {

// Each step takes the schema from its index to the next version.
const char* const kMigrations[] = {
    // 0 -> 1
    "CREATE TABLE calls("
    "  id INTEGER PRIMARY KEY,"
    "  folder TEXT UNIQUE,"             // the call's output folder, relative to the store's
    "  outgoing INTEGER NOT NULL,"
    "  line INTEGER NOT NULL,"
    "  number TEXT NOT NULL,"
    "  name TEXT,"
    "  clock_start REAL NOT NULL, clock_answer REAL, clock_end REAL,"
    "  wall_start REAL NOT NULL, wall_answer REAL, wall_end REAL,"
    "  ended TEXT NOT NULL,"
    "  keys TEXT NOT NULL DEFAULT '',"
    "  recordings INTEGER NOT NULL DEFAULT 0,"
    "  pid INTEGER);"                   // the runner that wrote it while open
    "CREATE INDEX calls_by_start ON calls(wall_start, id);"
    "CREATE INDEX calls_by_ending ON calls(ended, wall_start);"
    "CREATE TABLE call_keys("
    "  call INTEGER NOT NULL REFERENCES calls(id) ON DELETE CASCADE, seq INTEGER NOT NULL,"
    "  key TEXT NOT NULL, t REAL NOT NULL, PRIMARY KEY(call, seq)) WITHOUT ROWID;"
    "CREATE TABLE call_prompts("
    "  call INTEGER NOT NULL REFERENCES calls(id) ON DELETE CASCADE, seq INTEGER NOT NULL,"
    "  text TEXT NOT NULL, t_start REAL NOT NULL, t_end REAL NOT NULL, PRIMARY KEY(call, seq)) WITHOUT ROWID;"
    "CREATE TABLE call_files("
    "  id INTEGER PRIMARY KEY, call INTEGER NOT NULL REFERENCES calls(id) ON DELETE CASCADE,"
    "  kind TEXT NOT NULL, path TEXT NOT NULL, bytes INTEGER NOT NULL);"
    "CREATE INDEX call_files_by_call ON call_files(call);"
    "CREATE TABLE call_recordings("
    "  call INTEGER NOT NULL REFERENCES calls(id) ON DELETE CASCADE, seq INTEGER NOT NULL,"
    "  name TEXT NOT NULL, t_start REAL, t_end REAL,"
    "  file INTEGER REFERENCES call_files(id) ON DELETE SET NULL, PRIMARY KEY(call, seq)) WITHOUT ROWID;",
    // 1 -> 2: what ended the call's script; prompts the caller never heard
    "ALTER TABLE calls ADD COLUMN error TEXT;"
    "ALTER TABLE call_prompts ADD COLUMN heard INTEGER NOT NULL DEFAULT 1;",
};
static_assert(sizeof kMigrations / sizeof kMigrations[0] == CallStore::kSchemaVersion);

// One prepared statement; binds by position from 1.
class Stmt {
public:
    Stmt(sqlite3* db, const std::string& sql) { ok_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &s_, nullptr) == SQLITE_OK; }
    ~Stmt() { sqlite3_finalize(s_); }
    bool ok() const { return ok_; }
    Stmt& Bind(int64_t v) { sqlite3_bind_int64(s_, ++n_, v); return *this; }
    Stmt& Bind(int v) { return Bind(static_cast<int64_t>(v)); }
    Stmt& Bind(double v) { sqlite3_bind_double(s_, ++n_, v); return *this; }
    Stmt& Bind(const std::string& v) { sqlite3_bind_text(s_, ++n_, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT); return *this; }
    Stmt& BindNull() { sqlite3_bind_null(s_, ++n_); return *this; }
    // A time, or NULL when negative (not reached).
    Stmt& BindTime(double v) { return v < 0 ? BindNull() : Bind(v); }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step() { return ok_ ? sqlite3_step(s_) : SQLITE_ERROR; }
    bool Run() { return Step() == SQLITE_DONE; }
    int64_t Int(int i) const { return sqlite3_column_int64(s_, i); }
    double Real(int i, double null = -1) const {
        return sqlite3_column_type(s_, i) == SQLITE_NULL ? null : sqlite3_column_double(s_, i);
    }
    std::string Text(int i) const {
        const unsigned char* t = sqlite3_column_text(s_, i);
        return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(s_, i))) : "";
    }

private:
    sqlite3_stmt* s_ = nullptr;
    bool ok_ = false;
    int n_ = 0;
};

std::string Base(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Alive(int64_t pid) {
    if (pid <= 0 || pid == getpid()) return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// A local calendar day "YYYY-MM-DD": its first second.
bool ParseDay(const std::string& text, time_t& day) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9') return false;
    struct tm tm {};
    tm.tm_year = std::stoi(text.substr(0, 4)) - 1900;
    tm.tm_mon = std::stoi(text.substr(5, 2)) - 1;
    tm.tm_mday = std::stoi(text.substr(8, 2));
    tm.tm_isdst = -1;
    const struct tm asked = tm;
    if (asked.tm_year < 70) return false;
    day = mktime(&tm);
    // mktime carries an impossible day (02-30) into the next month.
    return day != static_cast<time_t>(-1) && tm.tm_year == asked.tm_year && tm.tm_mon == asked.tm_mon &&
           tm.tm_mday == asked.tm_mday;
}

bool IsEnding(const std::string& s) {
    for (const char* e : {ending::kOpen, ending::kCaller, ending::kService, ending::kUnanswered, ending::kStopped,
                          ending::kInterrupted})
        if (s == e) return true;
    return false;
}

std::string Where(const CallFilter& f) {
    std::string w = " WHERE 1";
    if (!f.number.empty()) w += " AND instr(number, ?) > 0";
    if (f.from) w += " AND wall_start >= ?";
    if (f.to) w += " AND wall_start < ?";
    if (f.recorded == 1) w += " AND recordings > 0";
    if (f.recorded == 0) w += " AND recordings = 0";
    if (!f.ended.empty()) w += " AND ended = ?";
    return w;
}

void BindWhere(Stmt& s, const CallFilter& f) {
    if (!f.number.empty()) s.Bind(f.number);
    if (f.from) s.Bind(static_cast<int64_t>(f.from));
    if (f.to) s.Bind(static_cast<int64_t>(f.to));
    if (!f.ended.empty()) s.Bind(f.ended);
}

const char* const kCallColumns =
    "id, folder, outgoing, line, number, name, clock_start, clock_answer, clock_end, wall_start, wall_answer, "
    "wall_end, ended, keys, recordings";

StoredCall ReadCall(const Stmt& s) {
    StoredCall c;
    c.id = s.Int(0);
    c.folder = s.Text(1);
    c.outgoing = s.Int(2) != 0;
    c.line = static_cast<int>(s.Int(3));
    c.number = s.Text(4);
    c.name = s.Text(5);
    c.start = s.Real(6, 0);
    c.answer = s.Real(7);
    c.end = s.Real(8);
    c.wallStart = s.Real(9, 0);
    c.wallAnswer = s.Real(10);
    c.wallEnd = s.Real(11);
    c.ended = s.Text(12);
    c.keys = s.Text(13);
    c.recordings = static_cast<int>(s.Int(14));
    return c;
}

}  // namespace

std::string EndingOf(const CallRecord& call) {
    if (call.stopped) return ending::kStopped;
    bool freed = false;
    for (auto& m : call.marks)
        if (m.kind == CallMark::Event && m.label == "LineIsFree") freed = true;
    if (!freed) return ending::kStopped;
    if (call.connected < 0) return ending::kUnanswered;
    return call.callerHungUp ? ending::kCaller : ending::kService;
}

std::string LocalTime(double unixSeconds) {
    if (unixSeconds < 0) return "";
    time_t t = static_cast<time_t>(unixSeconds);
    struct tm tm {};
    localtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

bool CallFilter::Set(const std::string& name, const std::string& value, std::string& error) {
    if (name == "number") {
        if (value.size() > kMaxNumber) {
            error = "the number to look for is longer than " + std::to_string(kMaxNumber) + " characters";
            return false;
        }
        number = value;
    } else if (name == "from" || name == "to") {
        time_t day = 0;
        if (!value.empty() && !ParseDay(value, day)) {
            error = "'" + value.substr(0, 40) + "' is not a date (" + name + " takes YYYY-MM-DD)";
            return false;
        }
        if (name == "from") {
            from = day;
        } else if (day) {
            // The whole day: up to the next day's first second.
            struct tm tm {};
            localtime_r(&day, &tm);
            tm.tm_mday += 1;
            tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
            tm.tm_isdst = -1;
            to = mktime(&tm);
        } else {
            to = 0;
        }
    } else if (name == "recorded") {
        if (value == "yes") {
            recorded = 1;
        } else if (value == "no") {
            recorded = 0;
        } else if (value.empty() || value == "any") {
            recorded = -1;
        } else {
            error = "recorded takes yes, no or any";
            return false;
        }
    } else if (name == "ended") {
        if (!value.empty() && value != "any" && !IsEnding(value)) {
            error = "ended takes open, caller, service, unanswered, stopped or interrupted";
            return false;
        }
        ended = value == "any" ? "" : value;
    } else {
        error = "there is no filter '" + name.substr(0, 40) + "'";
        return false;
    }
    return true;
}

// ---- opening -------------------------------------------------------------------

CallStore::~CallStore() { sqlite3_close(db_); }

bool CallStore::Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error_ = std::string(CallStore::kFileName) + ": " + (message ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return false;
}

bool CallStore::Fail(const std::string& what) {
    error_ = what + ": " + sqlite3_errmsg(db_);
    return false;
}

bool CallStore::Migrate() {
    if (!Exec("BEGIN IMMEDIATE")) return false;
    Stmt version(db_, "PRAGMA user_version");
    int v = version.Step() == SQLITE_ROW ? static_cast<int>(version.Int(0)) : -1;
    bool ok = v >= 0;
    if (!ok) Fail("cannot read the schema version");
    if (ok && v > kSchemaVersion) {
        error_ = std::string(kFileName) + " was written by a newer marlune (schema " + std::to_string(v) +
                 "; this one knows " + std::to_string(kSchemaVersion) + ")";
        ok = false;
    }
    const bool current = v == kSchemaVersion;
    for (; ok && v < kSchemaVersion; ++v) ok = Exec(kMigrations[v]);
    if (ok && !current) ok = Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    if (ok) return Exec("COMMIT");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool CallStore::CloseAbandoned() {
    std::vector<int64_t> gone;
    {
        Stmt open(db_, "SELECT id, pid FROM calls WHERE ended = 'open'");
        while (open.Step() == SQLITE_ROW)
            if (!Alive(open.Int(1))) gone.push_back(open.Int(0));
    }
    if (gone.empty()) return true;
    if (!Exec("BEGIN IMMEDIATE")) return false;
    for (int64_t id : gone) {
        Stmt close(db_, "UPDATE calls SET ended = 'interrupted', pid = NULL WHERE id = ? AND ended = 'open'");
        if (!close.Bind(id).Run()) {
            Fail("cannot close call " + std::to_string(id));
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
    }
    return Exec("COMMIT");
}

std::unique_ptr<CallStore> CallStore::OpenForWriting(const std::string& dir, std::string& error, bool rebuild) {
    const std::string path = dir + "/" + kFileName;
    std::string damage;  // why the store is set aside, "" when it is sound
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 && HasCallFolders(dir))
        damage = "it is empty";
    sqlite3* db = nullptr;
    int rc = damage.empty() ? sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
                            : SQLITE_OK;
    std::unique_ptr<CallStore> store(db ? new CallStore(db, dir) : nullptr);
    if (rc != SQLITE_OK) {
        error = path + ": " + sqlite3_errmsg(db);
        sqlite3_close(db);
        return nullptr;
    }
    if (store) {
        // A rollback journal, synced at each commit: a killed runner loses
        // nothing it committed, and readers open the store without making
        // files of their own beside it (as a write-ahead log would). A
        // reader holds the store only while it reads; the writer waits
        // for it rather than lose a call.
        sqlite3_busy_timeout(db, kWriterPatienceMs);
        // Checked before anything is written to it.
        const bool opened = store->Exec("PRAGMA journal_mode = DELETE") &&
                            store->Exec("PRAGMA synchronous = FULL") && store->Exec("PRAGMA foreign_keys = ON");
        const bool sound = opened && store->Check();
        const int code = sqlite3_errcode(db);
        if (!sound && (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)) {
            damage = sqlite3_errstr(code);
        } else if (!opened) {
            error = path + ": " + store->error_;
            return nullptr;
        } else if (!sound) {
            damage = "it fails its check";
        } else if (!store->Migrate() || !store->CloseAbandoned()) {
            error = path + ": " + store->error_;
            return nullptr;
        }
    }
    if (damage.empty() && !rebuild) return store;

    store.reset();
    return Replace(dir, damage, error);
}

std::unique_ptr<CallStore> CallStore::OpenForReading(const std::string& dir, std::string& error) {
    const std::string path = dir + "/" + kFileName;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        error = "no call history in " + dir + " (no " + kFileName + ")";
        return nullptr;
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<CallStore> store(new CallStore(db, dir));
    if (rc != SQLITE_OK) {
        error = path + ": " + sqlite3_errmsg(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);
    if (Stmt(db, "PRAGMA user_version").Step() != SQLITE_ROW &&
        sqlite3_extended_errcode(db) == SQLITE_READONLY_ROLLBACK) {
        // A writer was killed in a transaction: its journal is rolled back
        // by a connection that may write, then the store is read as before.
        store.reset();
        RollBack(path);
        db = nullptr;
        rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        store.reset(new CallStore(db, dir));
        if (rc != SQLITE_OK) {
            error = path + ": " + sqlite3_errmsg(db);
            return nullptr;
        }
        sqlite3_busy_timeout(db, 5000);
        if (Stmt(db, "PRAGMA user_version").Step() != SQLITE_ROW &&
            sqlite3_extended_errcode(db) == SQLITE_READONLY_ROLLBACK) {
            error = path + ": a run was stopped while writing it, and this user cannot repair it (the next run will)";
            return nullptr;
        }
    }
    Stmt version(db, "PRAGMA user_version");
    if (version.Step() != SQLITE_ROW) {
        error = path + ": " + sqlite3_errmsg(db);
        return nullptr;
    }
    const int v = static_cast<int>(version.Int(0));
    if (v != kSchemaVersion) {
        error = path + (v > kSchemaVersion ? " was written by a newer marlune" : " is not a call history of this marlune") +
                " (schema " + std::to_string(v) + "; this one reads " + std::to_string(kSchemaVersion) + ")";
        return nullptr;
    }
    return store;
}

// ---- writing -----------------------------------------------------------------------------

std::string CallStore::Folder(const CallRecord& call) const {
    return call.dir.rfind(dir_ + "/", 0) == 0 ? call.dir.substr(dir_.size() + 1) : call.dir;
}

// A folder given again (its earlier call's folder was deleted, or an older
// runner numbered from 1) no longer holds the earlier call's outputs.
bool CallStore::FreeFolder(const std::string& folder, int64_t id) {
    Stmt drop(db_, "DELETE FROM call_files WHERE call IN (SELECT id FROM calls WHERE folder = ? AND id <> ?)");
    Stmt unlink(db_, "UPDATE calls SET folder = NULL WHERE folder = ? AND id <> ?");
    return drop.Bind(folder).Bind(id).Run() && unlink.Bind(folder).Bind(id).Run();
}

int64_t CallStore::Begin(const CallRecord& call, time_t epoch) {
    if (!Exec("BEGIN IMMEDIATE")) return 0;
    Stmt s(db_, "INSERT INTO calls(folder, outgoing, line, number, clock_start, wall_start, ended, pid) "
                "VALUES(?, ?, ?, ?, ?, ?, 'open', ?)");
    if (call.dir.empty()) s.BindNull(); else s.Bind(Folder(call));
    s.Bind(call.outgoing ? 1 : 0).Bind(call.line).Bind(call.party).Bind(call.start)
        .Bind(static_cast<double>(epoch) + call.start).Bind(static_cast<int64_t>(getpid()));
    if ((!call.dir.empty() && !FreeFolder(Folder(call), 0)) || !s.Run() || !Exec("COMMIT")) {
        Fail("cannot write the start of call " + std::to_string(call.number));
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return 0;
    }
    return sqlite3_last_insert_rowid(db_);
}

bool CallStore::Finish(int64_t id, const CallRecord& call, time_t epoch) {
    const double e = static_cast<double>(epoch);
    auto wall = [e](double t) { return t < 0 ? -1 : e + t; };
    const std::string folder = Folder(call);
    auto relative = [&](const std::string& name) { return folder + "/" + name; };

    // The files the call's folder holds (regular files only).
    std::map<std::string, int64_t> files;
    if (DIR* d = call.dir.empty() ? nullptr : opendir(call.dir.c_str())) {
        while (dirent* ent = readdir(d)) {
            struct stat st {};
            std::string name = ent->d_name;
            if (lstat((call.dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) files[name] = st.st_size;
        }
        closedir(d);
    }
    int recorded = 0;
    std::map<std::string, bool> copies;
    for (auto& r : call.recordings)
        if (!r.copy.empty() && files.count(Base(r.copy))) {
            copies[Base(r.copy)] = true;
            ++recorded;
        }

    if (!Exec("BEGIN IMMEDIATE")) return false;
    auto fail = [&](const std::string& what) {
        Fail(what + " of call " + std::to_string(call.number));
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    if (id == 0) {
        Stmt insert(db_, "INSERT INTO calls(outgoing, line, number, clock_start, wall_start, ended) "
                         "VALUES(0, 0, '', 0, 0, 'open')");
        if (!insert.Run()) return fail("cannot write the row");
        id = sqlite3_last_insert_rowid(db_);
    }
    if (!FreeFolder(folder, id)) return fail("cannot free the folder");
    for (const char* table : {"call_keys", "call_prompts", "call_recordings", "call_files"}) {
        Stmt clear(db_, std::string("DELETE FROM ") + table + " WHERE call = ?");
        if (!clear.Bind(id).Run()) return fail("cannot clear the details");
    }
    Stmt row(db_, "UPDATE calls SET folder = ?, outgoing = ?, line = ?, number = ?, clock_start = ?, clock_answer = ?, "
                  "clock_end = ?, wall_start = ?, wall_answer = ?, wall_end = ?, ended = ?, keys = ?, recordings = ?, "
                  "pid = NULL, error = ? WHERE id = ?");
    if (call.dir.empty()) row.BindNull(); else row.Bind(folder);
    row.Bind(call.outgoing ? 1 : 0).Bind(call.line).Bind(call.party).Bind(call.start).BindTime(call.connected)
        .BindTime(call.end).Bind(wall(call.start)).BindTime(wall(call.connected)).BindTime(wall(call.end))
        .Bind(EndingOf(call)).Bind(call.keys).Bind(recorded);
    std::string errors;
    for (auto& e : call.errors) errors += (errors.empty() ? "" : "\n") + e;
    if (errors.empty()) row.BindNull(); else row.Bind(errors);
    row.Bind(id);
    if (!row.Run()) return fail("cannot write the row");

    int seq = 0;
    for (auto& m : call.marks) {
        if (m.kind != CallMark::Key) continue;
        Stmt key(db_, "INSERT INTO call_keys(call, seq, key, t) VALUES(?, ?, ?, ?)");
        if (!key.Bind(id).Bind(++seq).Bind(m.label).Bind(m.t).Run()) return fail("cannot write the keys");
    }
    seq = 0;
    for (auto& p : call.phrases) {
        Stmt prompt(db_, "INSERT INTO call_prompts(call, seq, text, t_start, t_end, heard) VALUES(?, ?, ?, ?, ?, ?)");
        if (!prompt.Bind(id).Bind(++seq).Bind(p.text).Bind(p.start).Bind(p.end).Bind(p.heard ? 1 : 0).Run())
            return fail("cannot write the prompts");
    }
    std::map<std::string, int64_t> fileIds;
    for (auto& [name, bytes] : files) {
        std::string kind = name == "log.txt"        ? "log"
                           : name == "heard.wav"    ? "heard"
                           : name == "timeline.png" ? "timeline"
                           : name == "timeline.svg" ? "timeline-svg"
                           : copies.count(name)     ? "recording"
                                                    : "other";
        Stmt file(db_, "INSERT INTO call_files(call, kind, path, bytes) VALUES(?, ?, ?, ?)");
        if (!file.Bind(id).Bind(kind).Bind(relative(name)).Bind(bytes).Run()) return fail("cannot write the files");
        fileIds[name] = sqlite3_last_insert_rowid(db_);
    }
    seq = 0;
    for (auto& r : call.recordings) {
        if (r.start < 0) continue;  // never began
        Stmt rec(db_, "INSERT INTO call_recordings(call, seq, name, t_start, t_end, file) VALUES(?, ?, ?, ?, ?, ?)");
        rec.Bind(id).Bind(++seq).Bind(r.path).BindTime(r.start).BindTime(r.end);
        auto f = r.copy.empty() ? fileIds.end() : fileIds.find(Base(r.copy));
        if (f == fileIds.end()) rec.BindNull(); else rec.Bind(f->second);
        if (!rec.Run()) return fail("cannot write the recordings");
    }
    if (!Exec("COMMIT")) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

// ---- reading -------------------------------------------------------------------------

std::vector<StoredCall> CallStore::List(const CallFilter& f) {
    error_.clear();
    std::vector<StoredCall> calls;
    Stmt s(db_, std::string("SELECT ") + kCallColumns + " FROM calls" + Where(f) +
                    " ORDER BY wall_start DESC, id DESC LIMIT ? OFFSET ?");
    BindWhere(s, f);
    s.Bind(static_cast<int64_t>(f.limit > 0 ? f.limit : -1)).Bind(f.offset);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) calls.push_back(ReadCall(s));
    if (rc != SQLITE_DONE) Fail("cannot list the calls");
    return calls;
}

int64_t CallStore::Count(const CallFilter& f) {
    error_.clear();
    Stmt s(db_, std::string("SELECT count(*) FROM calls") + Where(f));
    BindWhere(s, f);
    if (s.Step() != SQLITE_ROW) {
        Fail("cannot count the calls");
        return 0;
    }
    return s.Int(0);
}

bool CallStore::Load(int64_t id, StoredCall& call) {
    {
        Stmt s(db_, std::string("SELECT ") + kCallColumns + " FROM calls WHERE id = ?");
        if (s.Bind(id).Step() != SQLITE_ROW) return false;
        call = ReadCall(s);
    }
    Stmt error(db_, "SELECT error FROM calls WHERE id = ?");
    if (error.Bind(id).Step() == SQLITE_ROW) call.error = error.Text(0);
    Stmt keys(db_, "SELECT key, t FROM call_keys WHERE call = ? ORDER BY seq");
    keys.Bind(id);
    while (keys.Step() == SQLITE_ROW) call.keyTimes.push_back({keys.Text(0), keys.Real(1)});
    Stmt prompts(db_, "SELECT text, t_start, t_end, heard FROM call_prompts WHERE call = ? ORDER BY seq");
    prompts.Bind(id);
    while (prompts.Step() == SQLITE_ROW)
        call.prompts.push_back({prompts.Text(0), prompts.Real(1), prompts.Real(2), prompts.Int(3) != 0});
    Stmt recs(db_, "SELECT name, t_start, t_end, file FROM call_recordings WHERE call = ? ORDER BY seq");
    recs.Bind(id);
    while (recs.Step() == SQLITE_ROW) call.recorded.push_back({recs.Text(0), recs.Real(1), recs.Real(2), recs.Int(3)});
    Stmt files(db_, "SELECT id, kind, path, bytes FROM call_files WHERE call = ? ORDER BY id");
    files.Bind(id);
    while (files.Step() == SQLITE_ROW) call.files.push_back({files.Int(0), files.Text(1), files.Text(2), files.Int(3)});
    return true;
}

bool CallStore::File(int64_t fileId, StoredFile& file) {
    Stmt s(db_, "SELECT id, kind, path, bytes FROM call_files WHERE id = ?");
    if (s.Bind(fileId).Step() != SQLITE_ROW) return false;
    file = {s.Int(0), s.Text(1), s.Text(2), s.Int(3)};
    return true;
}

// ---- the runner's hooks -------------------------------------------------------------------

bool AttachCallHistory(CallTracker& tracker, const std::string& dir, std::string& error) {
    std::shared_ptr<CallStore> store = CallStore::OpenForWriting(dir, error);
    if (!store) {
        const std::string why = error;
        tracker.onFinished = [why, next = tracker.onFinished](const CallRecord& call) {
            fprintf(stderr, "marlune: call history: call %d was not recorded (%s)\n", call.number, why.c_str());
            if (next) next(call);
        };
        return false;
    }
    if (!store->notice().empty()) fprintf(stderr, "marlune: call history: %s\n", store->notice().c_str());
    auto ids = std::make_shared<std::map<int, int64_t>>();  // the tracker's call number -> row
    // Wall-clock second of clock time 0 (WallTime() = epoch + whole seconds of Now()).
    auto epoch = [] { return sim::WallTime() - static_cast<time_t>(sim::Now() / sim::kSecond); };
    auto report = [store] { fprintf(stderr, "marlune: call history: %s\n", store->error().c_str()); };
    tracker.onStarted = [store, ids, epoch, report](const CallRecord& call) {
        int64_t id = store->Begin(call, epoch());
        if (id == 0) report();
        (*ids)[call.number] = id;
    };
    tracker.onFinished = [store, ids, epoch, next = tracker.onFinished](const CallRecord& call) {
        auto it = ids->find(call.number);
        if (!store->Finish(it == ids->end() ? 0 : it->second, call, epoch()))
            fprintf(stderr, "marlune: call history: call %d was not recorded (%s)\n", call.number,
                    store->error().c_str());
        if (it != ids->end()) ids->erase(it);
        if (next) next(call);
    };
    return true;
}
