// `marlune serve DIR [--port N] [--bind ADDR]`: the call history of DIR as
// read-only web pages, on 127.0.0.1 unless told otherwise. Only GET (and
// HEAD) of "/", "/call/ID" and "/file/ID" are answered.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include <httplib.h>

#include "host/call_store.h"
#include "host/history_pages.h"

namespace {

int Usage() {
    fprintf(stderr, "usage: marlune serve DIR [--port N] [--bind ADDRESS]\n");
    return 2;
}

void Send(httplib::Response& res, const Page& page) {
    res.status = page.status;
    res.set_content(page.body, page.type);
}

}  // namespace

int ServeCommand(int argc, char** argv) {
    std::string dir, bind = "127.0.0.1";
    int port = 8023;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--port" && i + 1 < argc) {
            char* end = nullptr;
            long p = strtol(argv[++i], &end, 10);
            if (*end || p < 0 || p > 65535) return Usage();
            port = static_cast<int>(p);
        } else if (a == "--bind" && i + 1 < argc) {
            bind = argv[++i];
        } else if (a.rfind("--", 0) == 0 || !dir.empty()) {
            return Usage();
        } else {
            dir = a;
        }
    }
    if (dir.empty()) return Usage();
    std::string error;
    auto store = CallStore::OpenForReading(dir, error);
    if (!store) {
        fprintf(stderr, "marlune serve: %s\n", error.c_str());
        return 1;
    }
    HistoryPages pages(*store);
    std::mutex lock;  // one store connection for all the server's threads

    httplib::Server server;
    server.set_default_headers({
        {"Content-Security-Policy",
         "default-src 'none'; img-src 'self'; media-src 'self'; style-src 'unsafe-inline'; form-action 'self'; "
         "base-uri 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    });
    server.set_payload_max_length(0);
    server.Get("/", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> g(lock);
        Query query(req.params.begin(), req.params.end());
        Send(res, pages.List(query));
    });
    server.Get(R"(/call/([^/]*))", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> g(lock);
        Send(res, pages.Call(req.matches[1]));
    });
    server.Get(R"(/file/([^/]*))", [&](const httplib::Request& req, httplib::Response& res) {
        HistoryPages::OpenFile f;
        {
            std::lock_guard<std::mutex> g(lock);
            f = pages.File(req.matches[1]);
        }
        if (f.fd < 0) return Send(res, f.refusal);
        auto fd = std::make_shared<int>(f.fd);
        res.set_content_provider(
            static_cast<size_t>(f.size), f.type,
            [fd](size_t offset, size_t length, httplib::DataSink& sink) {
                char buf[65536];
                ssize_t n = pread(*fd, buf, std::min(length, sizeof buf), static_cast<off_t>(offset));
                if (n <= 0) return false;
                sink.write(buf, static_cast<size_t>(n));
                return true;
            },
            [fd](bool) { close(*fd); });
    });
    // The history is read-only.
    auto readOnly = [](const httplib::Request&, httplib::Response& res) {
        Send(res, HistoryPages::Error(405, "the call history is read-only"));
    };
    server.Post(".*", readOnly).Put(".*", readOnly).Patch(".*", readOnly).Delete(".*", readOnly);
    // Everything else that fails (unknown paths, methods, over-long
    // requests) gets a page saying so.
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        Page p = HistoryPages::Error(res.status, res.status == 404 ? "there is no such page"
                                                : res.status == 414 ? "the address is too long"
                                                                    : "the request was refused");
        res.set_content(p.body, p.type);
    });

    const bool bound = port == 0 ? (port = server.bind_to_any_port(bind)) > 0 : server.bind_to_port(bind, port);
    if (!bound) {
        fprintf(stderr, "marlune serve: cannot listen on %s port %d\n", bind.c_str(), port);
        return 1;
    }
    const std::string host = bind.find(':') != std::string::npos ? "[" + bind + "]" : bind;
    printf("serving the calls of %s at http://%s:%d/\n", dir.c_str(), host.c_str(), port);
    fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}

extern "C" int marlune_serve(int argc, char** argv) { return ServeCommand(argc, argv); }
