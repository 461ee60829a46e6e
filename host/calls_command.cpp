// `marlune calls DIR [--number N] [--from DATE] [--to DATE] [--recorded yes|no]
//                    [--ended HOW] [--limit N] [--json] [--rebuild]`:
// the call history of DIR, newest first, as a table or as JSON; --rebuild
// makes it anew from the call folders first.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/call_store.h"
#include "host/terminal_text.h"

using nlohmann::json;

namespace {

int Usage() {
    fprintf(stderr, "usage: marlune calls DIR [--number N] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--recorded yes|no]\n"
                    "       [--ended open|caller|service|unanswered|stopped|interrupted] [--limit N] [--json] [--rebuild]\n");
    return 2;
}

std::string Seconds(double s) {
    if (s < 0) return "";
    char buf[32];
    snprintf(buf, sizeof buf, "%.1f s", s);
    return buf;
}

json Time(double t) { return t < 0 ? json() : json(t); }

json AsJson(const StoredCall& c) {
    json keys = json::array(), prompts = json::array(), recordings = json::array(), files = json::array();
    for (auto& k : c.keyTimes) keys.push_back({{"key", k.key}, {"t", k.t}});
    for (auto& p : c.prompts) prompts.push_back({{"text", p.text}, {"start", p.start}, {"end", p.end}, {"heard", p.heard}});
    for (auto& f : c.files) files.push_back({{"kind", f.kind}, {"path", f.path}, {"bytes", f.bytes}});
    for (auto& r : c.recorded) {
        json file;
        for (auto& f : c.files)
            if (f.id == r.file) file = f.path;
        recordings.push_back({{"name", r.name}, {"start", Time(r.start)}, {"end", Time(r.end)}, {"file", file}});
    }
    return {{"id", c.id},
            {"folder", c.folder.empty() ? json() : json(c.folder)},
            {"direction", c.outgoing ? "out" : "in"},
            {"line", c.line},
            {"number", c.number},
            {"name", c.name.empty() ? json() : json(c.name)},
            {"start", c.start},
            {"answer", Time(c.answer)},
            {"end", Time(c.end)},
            {"wall_start", c.wallStart},
            {"wall_answer", Time(c.wallAnswer)},
            {"wall_end", Time(c.wallEnd)},
            {"started", LocalTime(c.wallStart)},
            {"ended", c.ended},
            {"error", c.error.empty() ? json() : json(c.error)},
            {"keys", keys},
            {"prompts", prompts},
            {"recordings", recordings},
            {"files", files}};
}

}  // namespace

int CallsCommand(int argc, char** argv) {
    std::string dir;
    CallFilter filter;
    bool asJson = false, rebuild = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        std::string error;
        if (a == "--json") {
            asJson = true;
        } else if (a == "--rebuild") {
            rebuild = true;
        } else if (a == "--limit" && i + 1 < argc) {
            char* end = nullptr;
            long n = strtol(argv[++i], &end, 10);
            if (*end || n < 1 || n > 1000000000) return Usage();
            filter.limit = static_cast<int>(n);
        } else if (a.rfind("--", 0) == 0 && i + 1 < argc) {
            if (!filter.Set(a.substr(2), argv[++i], error)) {
                fprintf(stderr, "marlune calls: %s\n", error.c_str());
                return 2;
            }
        } else if (a.rfind("--", 0) == 0 || !dir.empty()) {
            return Usage();
        } else {
            dir = a;
        }
    }
    if (dir.empty()) return Usage();
    std::string error;
    if (rebuild) {
        auto writer = CallStore::OpenForWriting(dir, error, true);
        if (!writer) {
            fprintf(stderr, "marlune calls: %s\n", error.c_str());
            return 1;
        }
        fprintf(stderr, "marlune calls: %s\n", writer->notice().c_str());
    }
    auto store = CallStore::OpenForReading(dir, error);
    if (!store) {
        fprintf(stderr, "marlune calls: %s\n", error.c_str());
        return 1;
    }
    std::vector<StoredCall> calls = store->List(filter);
    if (!store->error().empty()) {
        fprintf(stderr, "marlune calls: %s\n", store->error().c_str());
        return 1;
    }

    std::string out;
    if (asJson) {
        json all = json::array();
        for (auto& c : calls) {
            StoredCall full;
            if (store->Load(c.id, full)) all.push_back(AsJson(full));
        }
        out = all.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
    } else {
        // Columns as wide as their widest cell (by bytes; numbers and keys are ASCII).
        std::vector<std::vector<std::string>> rows = {
            {"ID", "STARTED", "NUMBER", "DIR", "LENGTH", "KEYS", "REC", "ENDED", "FOLDER"}};
        for (auto& c : calls) {
            rows.push_back({std::to_string(c.id), LocalTime(c.wallStart),
                            c.number.empty() ? "-" : TerminalText(c.number + (c.name.empty() ? "" : " " + c.name)),
                            c.outgoing ? "out" : "in", c.end >= 0 ? Seconds(c.end - c.start) : "-",
                            c.keys.empty() ? "-" : TerminalText(c.keys), std::to_string(c.recordings),
                            TerminalText(c.ended), c.folder.empty() ? "-" : TerminalText(c.folder)});
        }
        std::vector<size_t> width(rows[0].size(), 0);
        for (auto& r : rows)
            for (size_t i = 0; i < r.size(); ++i) width[i] = std::max(width[i], r[i].size());
        for (auto& r : rows) {
            std::string line;
            for (size_t i = 0; i < r.size(); ++i) {
                line += r[i];
                if (i + 1 < r.size()) line += std::string(width[i] - r[i].size() + 2, ' ');
            }
            out += line + "\n";
        }
        out += std::to_string(calls.size()) + (calls.size() == 1 ? " call\n" : " calls\n");
    }
    fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

// The calls module's entry points (host/modules.h).
extern "C" int marlune_calls(int argc, char** argv) { return CallsCommand(argc, argv); }
