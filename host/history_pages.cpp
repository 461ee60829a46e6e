#include "host/history_pages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const kStyle =
    "body{font:14px/1.4 sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse}td,th{padding:.2em .7em;border-bottom:1px solid #ddd;text-align:left}"
    "th{background:#f3f3f5}form{margin:1em 0}form label{margin-right:1em}"
    "pre{background:#f7f7f7;padding:.7em;overflow:auto;max-height:30em}"
    "img{max-width:100%;border:1px solid #ddd}nav{margin:1em 0}nav a{margin:0 1em}";

std::string Head(const std::string& title) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + Html(title) +
           "</title><style>" + kStyle + "</style></head><body>\n";
}

std::string Seconds(double s) {
    if (s < 0) return "";
    char buf[32];
    snprintf(buf, sizeof buf, "%.1f s", s);
    return buf;
}

std::string Length(const StoredCall& c) { return c.end >= 0 ? Seconds(c.end - c.start) : ""; }

std::string UrlEncode(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : s) {
        if (isalnum(ch) || ch == '-' || ch == '_' || ch == '.' || ch == '~') {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += hex[ch >> 4];
            out += hex[ch & 15];
        }
    }
    return out;
}

// A row id: 1 to 18 digits.
bool ParseId(const std::string& text, int64_t& id) {
    if (text.empty() || text.size() > 18) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    id = std::stoll(text);
    return id > 0;
}

bool ParseCount(const std::string& text, int max, int& n) {
    int64_t v = 0;
    if (!ParseId(text, v) || v > max) return false;
    n = static_cast<int>(v);
    return true;
}

std::string TypeOf(const std::string& path) {
    auto ends = [&](const char* ext) {
        size_t n = strlen(ext);
        return path.size() >= n && path.compare(path.size() - n, n, ext) == 0;
    };
    if (ends(".wav")) return "audio/wav";
    if (ends(".png")) return "image/png";
    if (ends(".svg")) return "image/svg+xml";
    if (ends(".txt")) return "text/plain; charset=utf-8";
    return "application/octet-stream";
}

const char* const kEndings[] = {ending::kCaller,  ending::kService,     ending::kUnanswered,
                                ending::kStopped, ending::kInterrupted, ending::kOpen};

std::string Option(const std::string& value, const std::string& label, const std::string& chosen) {
    return "<option value=\"" + Html(value) + "\"" + (value == chosen ? " selected" : "") + ">" + Html(label) +
           "</option>";
}

}  // namespace

std::string Html(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

HistoryPages::HistoryPages(CallStore& store) : store_(store) {
    char resolved[PATH_MAX];
    root_ = realpath(store.dir().c_str(), resolved) ? resolved : store.dir();
}

Page HistoryPages::Error(int status, const std::string& message) {
    const char* reason = status == 400   ? "Bad request"
                         : status == 403 ? "Forbidden"
                         : status == 404 ? "Not found"
                         : status == 405 ? "Method not allowed"
                         : status == 414 ? "Address too long"
                         : status == 416 ? "Range not satisfiable"
                                         : "Error";
    Page p;
    p.status = status;
    p.body = Head(reason) + "<h1>" + std::to_string(status) + " " + reason + "</h1>\n<p id=\"error\">" + Html(message) +
             "</p>\n<p><a href=\"/\">All calls</a></p>\n</body></html>\n";
    return p;
}

Page HistoryPages::List(const Query& query) {
    CallFilter filter;
    int page = 1, per = kPer;
    std::map<std::string, std::string> shown;  // the filters as given, for the form and the links
    for (auto& [name, value] : query) {
        std::string error;
        if (name == "page") {
            if (!ParseCount(value, INT_MAX / kMaxPer, page)) return Error(400, "page takes a number from 1");
        } else if (name == "per") {
            if (!ParseCount(value, kMaxPer, per))
                return Error(400, "per takes a number from 1 to " + std::to_string(kMaxPer));
        } else if (!filter.Set(name, value, error)) {
            return Error(400, error);
        } else {
            shown[name] = value;
        }
    }
    filter.limit = per;
    filter.offset = static_cast<int64_t>(page - 1) * per;
    const int64_t total = store_.Count(filter);
    const auto calls = store_.List(filter);
    if (!store_.error().empty()) return Error(500, store_.error());
    const int64_t pages = std::max<int64_t>(1, (total + per - 1) / per);

    auto value = [&](const char* name) { auto it = shown.find(name); return it == shown.end() ? "" : it->second; };
    std::string b = Head("Calls");
    b += "<h1>Calls</h1>\n<form id=\"filters\" method=\"get\" action=\"/\">"
         "<label>Number <input name=\"number\" maxlength=\"" + std::to_string(CallFilter::kMaxNumber) +
         "\" value=\"" + Html(value("number")) + "\"></label>"
         "<label>From <input type=\"date\" name=\"from\" value=\"" + Html(value("from")) + "\"></label>"
         "<label>To <input type=\"date\" name=\"to\" value=\"" + Html(value("to")) + "\"></label>"
         "<label>Recording <select name=\"recorded\">" + Option("", "any", value("recorded")) +
         Option("yes", "yes", value("recorded")) + Option("no", "no", value("recorded")) + "</select></label>"
         "<label>Ended <select name=\"ended\">" + Option("", "any", value("ended"));
    for (const char* e : kEndings) b += Option(e, e, value("ended"));
    b += "</select></label><button type=\"submit\">Show</button></form>\n";

    const int64_t first = filter.offset + 1, last = filter.offset + static_cast<int64_t>(calls.size());
    b += "<p id=\"count\">" + std::to_string(total) + (total == 1 ? " call" : " calls");
    if (!calls.empty()) b += ", " + std::to_string(first) + " to " + std::to_string(last) + " shown";
    b += "</p>\n<table id=\"calls\"><thead><tr><th>Started</th><th>Number</th><th>Direction</th><th>Length</th>"
         "<th>Keys</th><th>Recordings</th><th>Ended</th><th>Folder</th></tr></thead><tbody>\n";
    for (auto& c : calls) {
        const std::string link = "<a href=\"/call/" + std::to_string(c.id) + "\">";
        b += "<tr class=\"call\" data-id=\"" + std::to_string(c.id) + "\"><td>" + link + Html(LocalTime(c.wallStart)) +
             "</a></td><td class=\"number\">" + Html(c.number.empty() ? "(no number)" : c.number) +
             (c.name.empty() ? "" : " " + Html(c.name)) + "</td><td>" + (c.outgoing ? "out" : "in") + "</td><td>" +
             Length(c) + "</td><td class=\"keys\">" + Html(c.keys) + "</td><td class=\"recordings\">" +
             std::to_string(c.recordings) + "</td><td class=\"ended\">" + Html(c.ended) + "</td><td>" +
             Html(c.folder) + "</td></tr>\n";
    }
    b += "</tbody></table>\n<nav>";
    auto pageLink = [&](int64_t n, const char* rel, const char* text) {
        std::string href = "/?";
        for (auto& [k, v] : shown) href += UrlEncode(k) + "=" + UrlEncode(v) + "&";
        href += "page=" + std::to_string(n) + (per != kPer ? "&per=" + std::to_string(per) : "");
        b += std::string("<a rel=\"") + rel + "\" href=\"" + Html(href) + "\">" + text + "</a>";
    };
    if (page > 1) pageLink(std::min<int64_t>(page - 1, pages), "prev", "Newer");
    b += "<span id=\"page\">page " + std::to_string(page) + " of " + std::to_string(pages) + "</span>";
    if (page < pages) pageLink(page + 1, "next", "Older");
    b += "</nav>\n</body></html>\n";
    Page p;
    p.body = std::move(b);
    return p;
}

Page HistoryPages::Call(const std::string& idText) {
    int64_t id = 0;
    if (!ParseId(idText, id)) return Error(400, "a call is named by its number");
    StoredCall c;
    if (!store_.Load(id, c)) return Error(404, "there is no call " + std::to_string(id));

    const std::string who = c.number.empty() ? "(no number)" : c.number + (c.name.empty() ? "" : " " + c.name);
    std::string b = Head("Call " + std::to_string(c.id));
    b += "<p><a href=\"/\">All calls</a></p>\n<h1>" + std::string(c.outgoing ? "Outgoing call to " : "Call from ") +
         Html(who) + "</h1>\n<table id=\"facts\">";
    auto fact = [&](const char* name, const std::string& text) {
        b += std::string("<tr><th>") + name + "</th><td>" + Html(text) + "</td></tr>";
    };
    fact("Started", LocalTime(c.wallStart) + " (" + Seconds(c.start) + " into the session)");
    fact("Answered", c.answer >= 0 ? LocalTime(c.wallAnswer) + " (" + Seconds(c.answer) + ")" : "no");
    fact("Ended", c.end >= 0 ? LocalTime(c.wallEnd) + " (" + Seconds(c.end) + ")" : "");
    fact("Length", Length(c));
    fact("How it ended", c.ended);
    fact("Line", std::to_string(c.line));
    fact("Folder", c.folder);
    b += "</table>\n";

    auto fileUrl = [](int64_t fileId) { return "/file/" + std::to_string(fileId); };
    const StoredFile* log = nullptr;
    for (auto& f : c.files) {
        if (f.kind == "timeline")
            b += "<h2>Timeline</h2>\n<p><img id=\"timeline\" src=\"" + fileUrl(f.id) + "\" alt=\"the call on a time axis\"></p>\n";
    }
    for (auto& f : c.files) {
        if (f.kind == "heard")
            b += "<h2>What the caller heard</h2>\n<p><audio id=\"heard\" controls preload=\"metadata\" src=\"" +
                 fileUrl(f.id) + "\"></audio></p>\n";
        if (f.kind == "log") log = &f;
    }
    if (!c.recorded.empty()) {
        b += "<h2>Recordings</h2>\n<ul id=\"recordings\">";
        for (auto& r : c.recorded) {
            b += "<li>" + Html(r.name) + " (" + Seconds(r.end >= 0 && r.start >= 0 ? r.end - r.start : -1) + ")";
            if (r.file)
                b += " <audio class=\"recording\" controls preload=\"metadata\" src=\"" + fileUrl(r.file) + "\"></audio>";
            else
                b += " (no copy kept)";
            b += "</li>";
        }
        b += "</ul>\n";
    }
    if (!c.error.empty()) b += "<h2>Error</h2>\n<pre id=\"error\">" + Html(c.error) + "</pre>\n";
    b += "<h2>Keys</h2>\n";
    if (c.keyTimes.empty()) {
        b += "<p id=\"keys\">none</p>\n";
    } else {
        b += "<table id=\"keys\"><thead><tr><th>Key</th><th>At</th></tr></thead><tbody>";
        for (auto& k : c.keyTimes) b += "<tr><td>" + Html(k.key) + "</td><td>" + Seconds(k.t) + "</td></tr>";
        b += "</tbody></table>\n";
    }
    b += "<h2>Prompts</h2>\n";
    if (c.prompts.empty()) {
        b += "<p id=\"prompts\">none</p>\n";
    } else {
        b += "<table id=\"prompts\"><thead><tr><th>Said</th><th>From</th><th>To</th></tr></thead><tbody>";
        for (auto& p : c.prompts)
            b += "<tr><td>" + Html(p.text) + (p.heard ? "" : " (never heard)") + "</td><td>" + Seconds(p.start) +
                 "</td><td>" + Seconds(p.end) + "</td></tr>";
        b += "</tbody></table>\n";
    }
    if (log) {
        b += "<h2>Log</h2>\n";
        int64_t size = 0;
        std::string why;
        int fd = OpenInside(log->path, size, why);
        if (fd < 0) {
            b += "<p id=\"log\">" + Html(why) + "</p>\n";
        } else {
            std::string text(static_cast<size_t>(std::min<int64_t>(size, kMaxLog)), '\0');
            ssize_t n = pread(fd, text.data(), text.size(), 0);
            close(fd);
            text.resize(n > 0 ? static_cast<size_t>(n) : 0);
            b += "<pre id=\"log\">" + Html(text) + (size > static_cast<int64_t>(kMaxLog) ? "\n..." : "") + "</pre>\n";
        }
    }
    b += "</body></html>\n";
    Page p;
    p.body = std::move(b);
    return p;
}

int HistoryPages::OpenInside(const std::string& path, int64_t& size, std::string& why) {
    why = "the file " + path + " is not there";
    if (path.empty() || path[0] == '/') return -1;
    // Opened one name at a time from the folder, none of them followed if
    // it is a link: a link swapped in while this runs cannot lead out.
    int fd = open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (size_t at = 0; fd >= 0 && at < path.size();) {
        const size_t slash = std::min(path.find('/', at), path.size());
        const std::string name = path.substr(at, slash - at);
        const bool last = slash == path.size();
        if (name.empty() || name == "." || name == "..") {
            close(fd);
            why = "the file " + path + " is outside the history's folder";
            return -2;
        }
        const int next = openat(fd, name.c_str(), (last ? O_RDONLY : O_PATH | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC);
        const int err = errno;
        close(fd);
        fd = next;
        if (fd < 0 && (err == ELOOP || err == ENOTDIR)) {
            struct stat link {};
            if (fstatat(AT_FDCWD, (root_ + "/" + path.substr(0, slash)).c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(link.st_mode)) {
                why = "the file " + path + " is outside the history's folder (it is reached through a link)";
                return -2;
            }
        }
        at = slash + 1;
    }
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) close(fd);
        return -1;
    }
    size = st.st_size;
    return fd;
}

HistoryPages::OpenFile HistoryPages::File(const std::string& idText) {
    OpenFile f;
    int64_t id = 0;
    StoredFile row;
    if (!ParseId(idText, id)) {
        f.refusal = Error(400, "a file is named by its number");
    } else if (!store_.File(id, row)) {
        f.refusal = Error(404, "there is no file " + std::to_string(id));
    } else {
        std::string why;
        f.fd = OpenInside(row.path, f.size, why);
        if (f.fd < 0) f.refusal = Error(f.fd == -2 ? 403 : 404, why);
        if (f.fd < 0) f.fd = -1;
        f.type = TypeOf(row.path);
    }
    return f;
}
