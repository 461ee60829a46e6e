// The call history's web pages (`marlune serve`), apart from the HTTP
// server: each page is a status, a content type and a body, made from the
// store and the request's query parameters. Read-only: a file is served
// only through its row in the store, and only when it lies inside the
// store's folder.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "host/call_store.h"

struct Page {
    int status = 200;
    std::string type = "text/html; charset=utf-8";
    std::string body;
};

using Query = std::multimap<std::string, std::string>;

class HistoryPages {
public:
    explicit HistoryPages(CallStore& store);

    // "/": the calls, newest first, with the filters of CallFilter::Set and
    // "page" (from 1) and "per" (rows a page, at most kMaxPer).
    Page List(const Query& query);
    // "/call/ID": one call with its picture, sounds, keys, prompts and log.
    Page Call(const std::string& id);
    // An error page.
    static Page Error(int status, const std::string& message);

    // "/file/ID": the file of that row, opened read-only. The descriptor is
    // -1 and the page says why when it is refused.
    struct OpenFile {
        int fd = -1;
        int64_t size = 0;
        std::string type;
        Page refusal;
    };
    OpenFile File(const std::string& id);

    static constexpr int kPer = 50;
    static constexpr int kMaxPer = 500;
    static constexpr size_t kMaxLog = 1 << 20;  // shown of a call's log

private:
    // An open descriptor for `path` (relative to the store's folder) when
    // it resolves to a regular file inside that folder.
    int OpenInside(const std::string& path, int64_t& size, std::string& why);

    CallStore& store_;
    std::string root_;  // the store's folder, resolved
};

// Text for HTML.
std::string Html(const std::string& text);
