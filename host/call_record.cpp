#include "host/call_record.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "control/core/event_log.h"
#include "host/paths.h"
#include "host/terminal_text.h"
#include "host/timeline.h"
#include "platform/code_page.h"
#include "platform/riff_wave.h"
#include "platform/sim/sim.h"
#include "platform/sim/wave_devices.h"

using nlohmann::json;

namespace {

std::string ArgText(const json& j) { return j.is_string() ? j.get<std::string>() : j.dump(); }

std::string Base(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint64_t FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string ReadFrom(const std::string& path, uint64_t offset) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    in.seekg(static_cast<std::streamoff>(offset));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TimelineSound LoadSound(const std::string& path, const std::string& name, double start) {
    TimelineSound s;
    s.name = name;
    s.start = start;
    DWORD rate = 8000;
    if (sim::LoadWav(path, s.samples, rate)) s.rate = rate;
    return s;
}

std::string Seconds(double t) {
    char buf[32];
    snprintf(buf, sizeof buf, "%.1f s", t);
    return buf;
}

// The highest N of the "call-N" in `dir` (0 when there is none).
int HighestCall(const std::string& dir) {
    int highest = 0;
    DIR* d = opendir(dir.c_str());
    if (!d) return 0;
    while (const dirent* e = readdir(d)) {
        if (strncmp(e->d_name, "call-", 5) != 0) continue;
        const char* digits = e->d_name + 5;
        size_t n = strspn(digits, "0123456789");
        if (n > 0 && n <= 9 && digits[n] == '\0') highest = std::max(highest, atoi(digits));
    }
    closedir(d);
    return highest;
}

// The bytes of sound a WAV file holds; -1 when it is not a WAV file.
int64_t WavDataBytes(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return -1;
    riff::WaveInfo info;
    const bool ok = riff::ParseFile(f, info);
    fclose(f);
    return ok ? static_cast<int64_t>(info.dataSize) : -1;
}

// Why a recording's file does not hold the `seconds` recorded: "" when it
// does, to within the second a recording may still hold in memory.
std::string RecordingLoss(const std::string& path, double seconds) {
    constexpr double kBytesPerSecond = 8000, kSlack = 1.5;
    const int64_t bytes = WavDataBytes(path);
    if (bytes < 0)
        return paths::Exists(path) ? "the file is not a valid WAV" : "there is no file of that name";
    const double kept = static_cast<double>(bytes) / kBytesPerSecond;
    if (kept + kSlack >= seconds) return "";
    char text[96];
    snprintf(text, sizeof text, "the file holds %.1f s of the %.1f s recorded", kept, seconds);
    return text;
}

// `dir`/`name` made new (paths::CreateNew); says so when the name was taken.
std::string NewOutput(const std::string& dir, const std::string& name) {
    std::string path = paths::CreateNew(dir, name);
    if (!path.empty() && path != dir + "/" + name)
        fprintf(stderr, "marlune run: %s/%s is already there and is kept; this one is %s\n", TerminalText(dir).c_str(),
                TerminalText(name).c_str(), TerminalText(path).c_str());
    return path;
}

// An output that could not be written whole is not left half-written.
void Unwritten(const std::string& path) {
    fprintf(stderr, "marlune run: cannot write %s: %s\n", TerminalText(path).c_str(),
            errno ? strerror(errno) : "write failed");
    std::remove(path.c_str());
}

}  // namespace

void CallTracker::ClaimFolder(CallRecord& call) {
    if (next_ == 0) next_ = HighestCall(outDir_) + 1;
    // Another run on the same folder may have made the folder meanwhile.
    for (;; ++next_) {
        call.number = next_;
        call.dir = outDir_ + "/call-" + std::to_string(next_);
        if (mkdir(call.dir.c_str(), 0777) == 0) break;
        if (errno != EEXIST) {
            fprintf(stderr, "marlune run: cannot make the folder %s: %s\n", TerminalText(call.dir).c_str(),
                    strerror(errno));
            break;
        }
    }
    ++next_;
}

CallRecord& CallTracker::Begin(double t, bool outgoing, const std::string& party) {
    if (Active()) Finish(t);
    CallRecord call;
    ClaimFolder(call);
    call.outgoing = outgoing;
    call.party = party;
    call.start = t;
    call.logFile = EventLog::FileNameFor(sim::WallTime());
    call.logFrom = FileSize(outDir_ + "/" + call.logFile);
    call.line = line_;
    calls_.clear();
    calls_.push_back(call);
    ++count_;
    current_ = static_cast<int>(calls_.size()) - 1;
    if (onStarted) onStarted(calls_.back());
    return calls_.back();
}

void CallTracker::Event(double t, const std::string& name, const json& args) {
    if (!Active() && (name == "Ring" || name == "CallIDIn" || name == "IsConnect")) Begin(t, false, "");
    CallRecord* call = Current();
    if (!call) return;
    if (name == "DtmfIn") {
        std::string key = args.size() > 1 ? ArgText(args[1]) : "?";
        call->keys += key;
        call->marks.push_back({t, CallMark::Key, key});
        return;
    }
    std::string label = name;
    if ((name == "Ring" || name == "RecordDevOpen") && !args.empty()) label += " " + ArgText(args[0]);
    call->marks.push_back({t, CallMark::Event, label});
    if (name == "IsConnect" && call->connected < 0) call->connected = t;
    if (name == "EndPlayAll") ClosePhrases(t);
    if (name == "RecordDevOpen") {
        for (auto& r : call->recordings)
            if (r.start < 0) {
                r.start = t;
                break;
            }
    }
    if (name == "EndRecord") {
        for (auto& r : call->recordings)
            if (r.start >= 0 && r.end < 0) r.end = t;
    }
    if (name == "LineIsFree") Finish(t);
}

void CallTracker::Method(double t, const std::string& name, const json& args) {
    if (name == "OpenLine" && !args.empty() && args[0].is_number_integer()) line_ = args[0].get<int>();
    if (name == "CallOut" && !Active()) Begin(t, true, args.size() > 1 ? ArgText(args[1]) : "");
    CallRecord* call = Current();
    if (!call) return;
    if (name == "PlayStr" || name == "PlayWav" || name == "PlayTxtFile" || name == "PlayAllisEnglish") {
        if (!args.empty()) call->phrases.push_back({t, -1, ArgText(args[0])});
    } else if (name == "RecordWav") {
        call->recordings.push_back({args.size() > 1 ? ArgText(args[1]) : "", -1, -1, "", ""});
        call->marks.push_back({t, CallMark::Control, "RecordWav"});
    } else if (name == "StopPlayWav") {
        ClosePhrases(t);  // cut short
        call->marks.push_back({t, CallMark::Control, name});
    } else if (name == "StopRecord" || name == "AnswerTp" || name == "HandUp" ||
               name == "CallOut") {
        call->marks.push_back({t, CallMark::Control, name});
    }
}

int CallTracker::Refused(double t) {
    CallRecord* call = Current();
    if (!call || call->phrases.empty()) return 0;
    int cut = 0;
    for (size_t i = 0; i < call->phrases.size(); ++i) {
        CallPhrase& p = call->phrases[i];
        if (p.end >= 0) continue;
        p.heard = false;
        if (i + 1 < call->phrases.size()) ++cut;
    }
    ClosePhrases(t);
    return cut;
}

void CallTracker::Note(int number, const std::string& error) {
    for (auto& call : calls_)
        if (call.number == number) call.errors.push_back(error);
}

void CallTracker::Command(double t, const std::string& name, const json& request) {
    if (name == "offer" || name == "data_offer") {
        Begin(t, false, request.value("caller", std::string()));
        Current()->marks.push_back({t, CallMark::Caller, "offered"});
        return;
    }
    CallRecord* call = Current();
    if (!call) return;
    if (name == "keys") {
        call->marks.push_back({t, CallMark::Caller, "presses " + request.value("keys", std::string())});
    } else if (name == "hangup") {
        call->callerHungUp = true;
        call->marks.push_back({t, CallMark::Caller, "hangs up"});
    } else if (name == "caller_voice") {
        call->marks.push_back({t, CallMark::Caller, "speaks"});
    } else if (name == "answer" || name == "busy" || name == "reject") {
        call->marks.push_back({t, CallMark::Caller, name == "answer" ? "answers" : name});
    }
}

// Prompts still open end now; several open at once (queued behind each
// other) share the time since the first began.
void CallTracker::ClosePhrases(double t) {
    CallRecord* call = Current();
    if (!call) return;
    std::vector<CallPhrase*> open;
    for (auto& p : call->phrases)
        if (p.end < 0) open.push_back(&p);
    if (open.empty()) return;
    double from = open.front()->start, step = (t - from) / static_cast<double>(open.size());
    for (size_t i = 0; i < open.size(); ++i) {
        open[i]->start = std::max(open[i]->start, from + step * static_cast<double>(i));
        open[i]->end = std::max(open[i]->start, from + step * static_cast<double>(i + 1));
    }
}

void CallTracker::Finish(double t) {
    CallRecord* call = Current();
    if (!call) return;
    ClosePhrases(t);
    call->end = t;
    for (auto& r : call->recordings)
        if (r.start >= 0 && r.end < 0) r.end = t;
    WriteOutputs(*call);
    for (auto& r : call->recordings) lost_ += !r.lost.empty();
    current_ = -1;
    if (onFinished) onFinished(*call);
}

void CallTracker::WriteOutputs(CallRecord& call) {
    // Every file is new: the runner's own names first, then the recordings'.
    const std::string logPath = NewOutput(call.dir, "log.txt");
    const std::string heardPath = sim::TapPath(sim::kLineDevice).empty() ? "" : NewOutput(call.dir, "heard.wav");
    const std::string svgPath = NewOutput(call.dir, "timeline.svg");
    const std::string pngPath = NewOutput(call.dir, "timeline.png");

    // The log entries written during the call, as UTF-8.
    std::string log = ReadFrom(outDir_ + "/" + call.logFile, call.logFrom);
    if (!logPath.empty()) {
        std::ofstream file(logPath, std::ios::binary);
        file << codepage::Convert(log, 936, CP_UTF8);
        file.close();
        if (!file) Unwritten(logPath);
    }

    TimelineInput in;
    in.call = &call;
    // What the caller heard: the line tap from the call's start to its end.
    sim::WriteTaps();
    if (!sim::TapPath(sim::kLineDevice).empty()) {
        const DWORD rate = sim::TapRate(sim::kLineDevice);
        // The tap ends with the last sound played; the call may go on in
        // silence after it (or start after it), and heard.wav lasts as
        // long as the call. Only the call's own span is read.
        const size_t from = static_cast<size_t>(std::llround(call.start * rate));
        const size_t to = std::max(from, static_cast<size_t>(std::llround(call.end * rate)));
        std::vector<int16_t> heard = sim::TapSpan(sim::kLineDevice, from, to - from);
        in.heard = TimelineSound{"heard", call.start, static_cast<unsigned>(rate), std::move(heard)};
        if (!heardPath.empty() && !riff::WriteFile(heardPath, riff::Pcm16Format(rate), 16, in.heard.samples.data(),
                                                   static_cast<DWORD>(in.heard.samples.size() * 2)))
            Unwritten(heardPath);
    }
    for (size_t i = 0; i < call.recordings.size(); ++i) {
        CallRecording& r = call.recordings[i];
        if (r.path.empty() || r.start < 0) continue;
        const std::string source = paths::Absolute(sim::NativePath(r.path.c_str()), outDir_);
        r.lost = RecordingLoss(source, r.end - r.start);
        if (!r.lost.empty())
            fprintf(stderr, "marlune run: call %d: the message recorded in %s is lost: %s\n", call.number,
                    TerminalText(source).c_str(), r.lost.c_str());
        if (!paths::Exists(source)) continue;
        // Recorded into the call's folder: kept where it is. The same file
        // recorded again in the call holds the last take: one copy.
        if (source == call.dir + "/" + Base(source)) r.copy = source;
        for (size_t k = 0; k < i && r.copy.empty(); ++k)
            if (call.recordings[k].path == r.path) r.copy = call.recordings[k].copy;
        if (r.copy.empty()) {
            r.copy = NewOutput(call.dir, Base(sim::NativePath(r.path.c_str())));
            if (r.copy.empty()) continue;
            std::ifstream src(source, std::ios::binary);
            std::ofstream copy(r.copy, std::ios::binary);
            copy << src.rdbuf();
            copy.close();
            if (!copy) {
                Unwritten(r.copy);
                r.copy.clear();
                continue;
            }
        }
        in.recorded.push_back(LoadSound(source, Base(r.copy), r.start));
    }
    if (!svgPath.empty() && !pngPath.empty() && !DrawTimeline(in, svgPath, pngPath)) {
        // No picture: no empty files where it would be.
        std::remove(svgPath.c_str());
        std::remove(pngPath.c_str());
    }
    // A message lost is said in the call's folder too, where the history
    // lists it among the call's files.
    std::string lostText;
    for (auto& r : call.recordings)
        if (!r.lost.empty()) lostText += "the message recorded in " + r.path + " is lost: " + r.lost + "\n";
    const std::string lostPath = lostText.empty() ? "" : NewOutput(call.dir, "lost.txt");
    if (!lostPath.empty()) {
        std::ofstream file(lostPath, std::ios::binary);
        file << lostText;
        file.close();
        if (!file) Unwritten(lostPath);
    }
    // The outputs as they are on disk: only what was written.
    call.files.clear();
    for (const std::string* path : {&logPath, &heardPath, &svgPath, &pngPath, &lostPath})
        if (!path->empty() && paths::Exists(*path)) call.files.push_back(Base(*path));
}


std::string CallTracker::Summary(const CallRecord& call) {
    std::ostringstream s;
    s << "call " << call.number << ": " << (call.outgoing ? "outgoing to " : "incoming from ")
      << (call.party.empty() ? "(no number)" : TerminalText(call.party)) << ", " << Seconds(call.start) << " to "
      << Seconds(call.end);
    if (call.connected >= 0)
        s << ", connected at " << Seconds(call.connected);
    else
        s << ", never connected";
    s << "\n  keys:      " << (call.keys.empty() ? "(none)" : TerminalText(call.keys)) << "\n";
    for (size_t i = 0; i < call.phrases.size(); ++i)
        s << (i == 0 ? "  said:      " : "             ") << TerminalText(call.phrases[i].text)
          << (call.phrases[i].heard ? "" : " (never heard)") << "\n";
    for (auto& r : call.recordings) {
        if (!r.copy.empty())
            s << "  recording: " << TerminalText(r.copy) << " (" << Seconds(r.end - r.start) << ")\n";
        if (!r.lost.empty())
            s << "  LOST:      the message recorded in " << TerminalText(r.path) << ": " << r.lost << "\n";
    }
    for (auto& e : call.errors) s << "  error:     " << TerminalText(e) << "\n";
    double hangup = -1;
    for (auto& m : call.marks)
        if (m.kind == CallMark::Caller && m.label == "hangs up") hangup = m.t;
    s << "  ended:     "
      << (call.stopped        ? std::string("the session stopped during the call")
          : call.callerHungUp ? "the caller hung up at " + Seconds(hangup)
                              : std::string("the service hung up"))
      << "\n  files:     ";
    if (call.files.empty()) {
        s << "none written in " << TerminalText(call.dir) << "/\n";
    } else {
        s << TerminalText(call.dir) << "/ (";
        for (size_t i = 0; i < call.files.size(); ++i) s << (i ? ", " : "") << TerminalText(call.files[i]);
        s << ")\n";
    }
    return s.str();
}
