// What the scripting host keeps of each call: when it started and ended,
// the events, the caller's actions and the control's prompts on one time
// line, the keys, the recordings. Each call has a folder of its own in the
// output folder, "call-N", N going on from the highest already there, so
// no run writes into an earlier one's calls. When a call ends its outputs
// are written there: the slice of the log it wrote (UTF-8), what the
// caller heard (from the line tap), copies of its recordings and the
// timeline picture; a name already taken gets a fresh one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct CallMark {
    double t;
    enum Kind { Event, Key, Caller, Control } kind;
    std::string label;
};

// A prompt the control played: from the call that asked for it to the end
// of playing (EndPlayAll, or the end of the call).
struct CallPhrase {
    double start;
    double end;
    std::string text;
    bool heard = true;  // false: refused because something else still played
};

struct CallRecording {
    std::string path;    // as the application named it (relative to the output folder)
    double start = -1;   // RecordDevOpen
    double end = -1;     // EndRecord
    std::string copy;    // the copy in the call's folder
    std::string lost;    // why the file does not hold what was recorded ("" when it does)
};

struct CallRecord {
    int number = 0;     // lasting: the N of its folder "call-N"
    bool outgoing = false;
    int line = 0;       // the line the application opened
    std::string party;  // the caller's number, or the number dialled
    double start = 0;
    double end = -1;
    double connected = -1;
    bool callerHungUp = false;
    bool stopped = false;  // ended because the session stopped (time limit, signal, failure)
    std::vector<CallMark> marks;
    std::string keys;
    std::vector<CallPhrase> phrases;
    std::vector<CallRecording> recordings;
    std::vector<std::string> errors;  // what ended the call's script (an error in its function)
    std::string dir;  // the call's output folder
    std::vector<std::string> files;  // the outputs written there (names)
    uint64_t logFrom = 0;
    std::string logFile;
};

class CallTracker {
public:
    // outDir: the output folder (the control's working folder, which holds
    // its log and recordings); linePath: the line tap.
    explicit CallTracker(std::string outDir) : outDir_(std::move(outDir)) {}

    // What happened, at clock time t (seconds).
    void Event(double t, const std::string& name, const nlohmann::json& args);
    void Method(double t, const std::string& name, const nlohmann::json& args);
    void Command(double t, const std::string& name, const nlohmann::json& request);

    // The last prompt asked for was refused (its method answered a negative
    // number): neither it nor the prompts still open are heard, the control
    // empties its play list. Answers how many open prompts went with it.
    int Refused(double t);
    // An error ended the script of call N (the current one or an earlier one).
    void Note(int number, const std::string& error);
    bool Active() const { return current_ >= 0; }
    const CallRecord* current() const { return current_ >= 0 ? &calls_[current_] : nullptr; }
    // Ends the current call at t, if there is one, and writes its outputs.
    void Finish(double t);
    // The session is stopping: the current call, if any, ends as stopped.
    void SessionStopped() {
        if (CallRecord* call = Current()) call->stopped = true;
    }
    // The last call (the current one while it lasts); earlier calls are not
    // kept, so that a long session costs the same on every call.
    const std::vector<CallRecord>& calls() const { return calls_; }
    // Calls begun in the session.
    int count() const { return count_; }
    // Called with each call as it begins, and once its outputs are written.
    std::function<void(const CallRecord&)> onStarted;
    std::function<void(const CallRecord&)> onFinished;

    // A short human-readable account of a call.
    static std::string Summary(const CallRecord& call);
    // Recordings of the finished calls whose files lost some of what was
    // recorded.
    int LostRecordings() const { return lost_; }

private:
    CallRecord& Begin(double t, bool outgoing, const std::string& party);
    CallRecord* Current() { return current_ >= 0 ? &calls_[current_] : nullptr; }
    void ClosePhrases(double t);
    void WriteOutputs(CallRecord& call);
    // Gives the call the next number whose folder this tracker could make.
    void ClaimFolder(CallRecord& call);

    std::string outDir_;
    int next_ = 0;  // the next number to try; 0: the output folder not yet read
    std::vector<CallRecord> calls_;
    int count_ = 0;
    int lost_ = 0;
    int current_ = -1;
    int line_ = 0;
};
