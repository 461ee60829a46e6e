// `marlune serve DIR [--port N] [--bind ADDR]`: the call history of DIR as
// read-only web pages, on 127.0.0.1 unless told otherwise. Only GET (and
// HEAD) of "/", "/call/ID" and "/file/ID" are answered.
//
// The server is libmicrohttpd on one thread that polls every connection,
// so a client that sends slowly holds a connection, not the server: at
// most kMaxConnections at once (kPerAddress from one address), each closed
// after kIdleSeconds without a byte, a request's head bounded by
// kHeadMemory (431 beyond), one byte range a request at most.
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/call_store.h"
#include "host/history_pages.h"

namespace {

constexpr unsigned kMaxConnections = 64;
constexpr unsigned kPerAddress = 32;
constexpr unsigned kIdleSeconds = 10;
constexpr size_t kHeadMemory = 64 * 1024;  // the request line and headers, per connection
constexpr size_t kMaxTarget = 8192;         // the path and query, decoded

int Usage() {
    fprintf(stderr, "usage: marlune serve DIR [--port N] [--bind ADDRESS]\n");
    return 2;
}

// Percent-decoding in place, as the daemon asks for it; "%00" is left as
// it is, so that no name or value ends early.
size_t Unescape(void*, MHD_Connection*, char* s) {
    auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                               : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    char* out = s;
    for (const char* in = s; *in; ++in) {
        const int hi = in[0] == '%' ? hex(in[1]) : -1, lo = hi >= 0 ? hex(in[2]) : -1;
        if (lo >= 0 && (hi | lo) != 0) {
            *out++ = static_cast<char>(hi * 16 + lo);
            in += 2;
        } else {
            *out++ = *in == '+' ? ' ' : *in;
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - s);
}

void NoDelay(void*, MHD_Connection* c, void**, MHD_ConnectionNotificationCode code) {
    if (code != MHD_CONNECTION_NOTIFY_STARTED) return;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
    int on = 1;
    if (info) setsockopt(info->connect_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

MHD_Result Queue(MHD_Connection* c, int status, MHD_Response* r, const std::string& type) {
    if (!r) return MHD_NO;
    MHD_add_response_header(r, "Content-Type", type.c_str());
    MHD_add_response_header(r, "Content-Security-Policy",
                            "default-src 'none'; img-src 'self'; media-src 'self'; style-src 'unsafe-inline'; "
                            "form-action 'self'; base-uri 'none'; frame-ancestors 'none'");
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(r, "Cache-Control", "no-store");
    const MHD_Result ok = MHD_queue_response(c, static_cast<unsigned>(status), r);
    MHD_destroy_response(r);
    return ok;
}

MHD_Result Send(MHD_Connection* c, const Page& page) {
    MHD_Response* r = MHD_create_response_from_buffer(page.body.size(), const_cast<char*>(page.body.data()),
                                                      MHD_RESPMEM_MUST_COPY);
    return Queue(c, page.status, r, page.type);
}

// "bytes=FIRST-LAST", "bytes=FIRST-" or "bytes=-SUFFIX" of a file of
// `size` bytes: 1 with the span, 0 when the range is absent or not one we
// take (several ranges: the whole file is sent), -1 when it lies outside.
int OneRange(const char* header, int64_t size, int64_t& first, int64_t& last) {
    if (!header) return 0;
    const std::string h = header;
    if (h.rfind("bytes=", 0) != 0 || h.find(',') != std::string::npos) return 0;
    const std::string range = h.substr(6);
    const size_t dash = range.find('-');
    if (dash == std::string::npos || range.find_first_not_of("0123456789-") != std::string::npos ||
        range.find('-', dash + 1) != std::string::npos || range.size() > 40)
        return 0;
    const std::string a = range.substr(0, dash), b = range.substr(dash + 1);
    if (a.empty() && b.empty()) return 0;
    if (a.empty()) {  // the last b bytes
        const int64_t n = std::stoll(b);
        if (n == 0 || size == 0) return -1;
        first = n >= size ? 0 : size - n;
        last = size - 1;
        return 1;
    }
    first = std::stoll(a);
    last = b.empty() ? size - 1 : std::min<int64_t>(std::stoll(b), size - 1);
    if (first >= size || last < first) return -1;
    return 1;
}

MHD_Result SendFile(MHD_Connection* c, HistoryPages::OpenFile f) {
    int64_t first = 0, last = f.size - 1;
    const int range = OneRange(MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE), f.size,
                               first, last);
    if (range < 0) {
        close(f.fd);
        Page p = HistoryPages::Error(416, "the range is outside the file");
        MHD_Response* r = MHD_create_response_from_buffer(p.body.size(), const_cast<char*>(p.body.data()),
                                                          MHD_RESPMEM_MUST_COPY);
        if (r) MHD_add_response_header(r, "Content-Range", ("bytes */" + std::to_string(f.size)).c_str());
        return Queue(c, 416, r, p.type);
    }
    const uint64_t length = f.size > 0 ? static_cast<uint64_t>(last - first + 1) : 0;
    MHD_Response* r = MHD_create_response_from_fd_at_offset64(length, f.fd, static_cast<uint64_t>(first));
    if (!r) {
        close(f.fd);
        return MHD_NO;
    }
    MHD_add_response_header(r, "Accept-Ranges", "bytes");
    if (range > 0)
        MHD_add_response_header(r, "Content-Range", ("bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                                     "/" + std::to_string(f.size)).c_str());
    return Queue(c, range > 0 ? 206 : 200, r, f.type);
}

struct Arguments {
    Query query;
    size_t bytes = 0;
};

MHD_Result Collect(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto& a = *static_cast<Arguments*>(cls);
    a.bytes += strlen(key) + (value ? strlen(value) : 0) + 2;
    if (a.bytes <= kMaxTarget) a.query.emplace(key, value ? value : "");
    return MHD_YES;
}

MHD_Result Answer(void* cls, MHD_Connection* c, const char* url, const char* method, const char*, const char*,
                  size_t* uploaded, void** state) {
    HistoryPages& pages = *static_cast<HistoryPages*>(cls);
    static int headRead;
    if (strcmp(method, MHD_HTTP_METHOD_GET) != 0 && strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
        *uploaded = 0;  // nothing sent is read: the connection closes after the refusal
        return Send(c, HistoryPages::Error(405, "the call history is read-only"));
    }
    // Answered once the request is whole (a body is read and dropped), so
    // that the connection can carry the next request.
    if (*state == nullptr) {
        *state = &headRead;
        return MHD_YES;
    }
    if (*uploaded != 0) {
        *uploaded = 0;
        return MHD_YES;
    }
    Arguments args;
    MHD_get_connection_values(c, MHD_GET_ARGUMENT_KIND, Collect, &args);
    const std::string path = url;
    if (path.size() + args.bytes > kMaxTarget) return Send(c, HistoryPages::Error(414, "the address is too long"));
    auto tail = [&](const std::string& prefix, std::string& rest) {
        if (path.rfind(prefix, 0) != 0) return false;
        rest = path.substr(prefix.size());
        return rest.find('/') == std::string::npos;
    };
    std::string id;
    if (path == "/") return Send(c, pages.List(args.query));
    if (tail("/call/", id)) return Send(c, pages.Call(id));
    if (tail("/file/", id)) {
        HistoryPages::OpenFile f = pages.File(id);
        return f.fd < 0 ? Send(c, f.refusal) : SendFile(c, f);
    }
    return Send(c, HistoryPages::Error(404, "there is no such page"));
}

// The listening address: ADDRESS (numeric, IPv4 or IPv6) and PORT.
bool Address(const std::string& bind, int port, sockaddr_storage& addr, bool& v6) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(bind.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
    memcpy(&addr, found->ai_addr, found->ai_addrlen);
    v6 = found->ai_family == AF_INET6;
    freeaddrinfo(found);
    return true;
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

    // The server runs until SIGINT or SIGTERM, which its own thread leaves
    // to this one.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    sockaddr_storage addr{};
    bool v6 = false;
    MHD_Daemon* daemon = nullptr;
    if (Address(bind, port, addr, v6)) {
        const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | (v6 ? MHD_USE_IPv6 : 0);
        daemon = MHD_start_daemon(
            flags, 0, nullptr, nullptr, Answer, &pages, MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&addr),
            MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kPerAddress,
            MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kHeadMemory,
            MHD_OPTION_UNESCAPE_CALLBACK, Unescape, nullptr, MHD_OPTION_NOTIFY_CONNECTION, NoDelay, nullptr,
            MHD_OPTION_END);
    }
    const MHD_DaemonInfo* bound = daemon ? MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    if (!bound || bound->port == 0) {
        if (daemon) MHD_stop_daemon(daemon);
        fprintf(stderr, "marlune serve: cannot listen on %s port %d\n", bind.c_str(), port);
        return 1;
    }
    const std::string host = bind.find(':') != std::string::npos ? "[" + bind + "]" : bind;
    printf("serving the calls of %s at http://%s:%d/\n", dir.c_str(), host.c_str(), bound->port);
    fflush(stdout);

    int sig = 0;
    sigwait(&stop, &sig);
    MHD_stop_daemon(daemon);
    return 0;
}

extern "C" int marlune_serve(int argc, char** argv) { return ServeCommand(argc, argv); }
