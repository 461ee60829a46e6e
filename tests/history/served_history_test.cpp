// `marlune serve` over HTTP: the demo's history, what hostile requests get,
// and that serving changes nothing in the folder.
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>

#include <fstream>
#include <thread>
#include <vector>

#include "tests/history/served_history.h"

namespace {

class ServeTest : public ServedHistory {
protected:
    // The /file/ID of a path in the store.
    static std::string FileUrl(const std::string& path) {
        sqlite3* db = nullptr;
        sqlite3_stmt* s = nullptr;
        sqlite3_open_v2((out_ + "/calls.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_prepare_v2(db, "SELECT id FROM call_files WHERE path = ?", -1, &s, nullptr);
        sqlite3_bind_text(s, 1, path.c_str(), -1, SQLITE_TRANSIENT);
        std::string url = sqlite3_step(s) == SQLITE_ROW ? "/file/" + std::to_string(sqlite3_column_int64(s, 0)) : "";
        sqlite3_finalize(s);
        sqlite3_close(db);
        return url;
    }
    static int Connect() {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port_));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(s);
            return -1;
        }
        return s;
    }
    // Sends `bytes` (as much as the server takes), then reads what it answers.
    static std::string Flood(const std::string& bytes) {
        int s = Connect();
        for (size_t sent = 0; s >= 0 && sent < bytes.size();) {
            ssize_t n = send(s, bytes.data() + sent, std::min<size_t>(bytes.size() - sent, 1 << 16), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        std::string raw;
        char buf[65536];
        for (ssize_t n; s >= 0 && (n = recv(s, buf, sizeof buf, 0)) > 0;) raw.append(buf, static_cast<size_t>(n));
        if (s >= 0) close(s);
        return raw;
    }
    // The server's peak resident memory, in kB.
    static long PeakKb() {
        std::ifstream in("/proc/" + std::to_string(server_) + "/status");
        for (std::string line; std::getline(in, line);)
            if (line.rfind("VmHWM:", 0) == 0) return atol(line.c_str() + 6);
        return -1;
    }
    static double Wall() {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
    }
};

TEST_F(ServeTest, HostileRequestsGetAClearRefusalAndNothingOutsideTheFolder) {
    // The log of the first call now leads out of the folder.
    const std::string log = out_ + "/call-1/log.txt";
    ASSERT_EQ(rename(log.c_str(), (log + ".kept").c_str()), 0);
    ASSERT_EQ(symlink("/etc/passwd", log.c_str()), 0);
    HttpAnswer page = Http("/call/1");
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(Has(page.body, "is outside the history")) << page.body;
    EXPECT_FALSE(Has(page.body, "root:"));

    struct Case {
        std::string target;
        int status;
    } cases[] = {
        {"/file/..%2Fcalls.db", 404},
        {"/file/%2e%2e%2f%2e%2e%2fetc%2fpasswd", 404},
        {"/file/../../etc/passwd", 404},
        {"/../../../etc/passwd", 404},
        {"/%2e%2e/%2e%2e/etc/passwd", 404},
        {"/call/1%00", 400},
        {"/call/1%2F..%2F2", 404},
        {"/file/1/", 404},
        {"/calls.db", 404},
        {"/?from=2026-02-30", 400},
        {"/?to=..%2F..%2Fetc", 400},
        {"/?number=" + std::string(5000, '1'), 400},
        {"/?page=99999999999999999999", 400},
        {"/?number=1&" + std::string(9000, 'x') + "=1", 414},
    };
    for (auto& k : cases) {
        HttpAnswer a = Http(k.target);
        EXPECT_EQ(a.status, k.status) << k.target.substr(0, 80);
        EXPECT_TRUE(Has(a.body, "<h1>" + std::to_string(k.status))) << k.target.substr(0, 80) << a.body.substr(0, 200);
        EXPECT_FALSE(Has(a.body, "root:")) << k.target;
        EXPECT_FALSE(Has(a.body, "SQLite format")) << k.target;
    }
    // The log's own row is refused now that it points out.
    sqlite3* db = nullptr;
    sqlite3_stmt* s = nullptr;
    sqlite3_open_v2((out_ + "/calls.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_prepare_v2(db, "SELECT id FROM call_files WHERE path = 'call-1/log.txt'", -1, &s, nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    const std::string logUrl = "/file/" + std::to_string(sqlite3_column_int64(s, 0));
    sqlite3_finalize(s);
    sqlite3_close(db);
    HttpAnswer refused = Http(logUrl);
    EXPECT_EQ(refused.status, 403);
    EXPECT_FALSE(Has(refused.body, "root:"));
    for (const char* method : {"POST", "PUT", "DELETE"}) {
        HttpAnswer a = Http("/call/1", method, "Content-Length: 0\r\n");
        EXPECT_EQ(a.status, 405) << method;
        EXPECT_TRUE(Has(a.body, "read-only")) << method;
    }

    unlink(log.c_str());
    ASSERT_EQ(rename((log + ".kept").c_str(), log.c_str()), 0);
}

// What single hostile requests did to the server: many ranges swelled the
// answer, header lines its memory, slow clients took every thread, and a
// link anywhere on a file's path was followed.
TEST_F(ServeTest, HostileClientsCannotSwellHoldOrLeadTheServerOut) {
    const std::string heard = FileUrl("call-3/heard.wav");
    ASSERT_FALSE(heard.empty());
    const HttpAnswer whole = Http(heard);
    ASSERT_EQ(whole.status, 200);

    // Several ranges (each the whole file): the file once, as a plain answer.
    const std::string log = FileUrl("call-3/log.txt");
    const HttpAnswer wholeLog = Http(log);
    ASSERT_EQ(wholeLog.status, 200);
    std::string ranges = "Range: bytes=0-";
    for (int i = 1; i < 2700; ++i) ranges += ",0-";
    HttpAnswer many = Http(log, "GET", ranges + "\r\n");
    EXPECT_EQ(many.status, 200);
    EXPECT_EQ(many.body.size(), wholeLog.body.size());
    struct RangeCase {
        std::string range;
        int status;
        std::string body, contentRange;
    } rangeCases[] = {
        {"bytes=8-11", 206, "WAVE", "bytes 8-11/" + std::to_string(whole.body.size())},
        {"bytes=-4", 206, whole.body.substr(whole.body.size() - 4), ""},
        {"bytes=" + std::to_string(whole.body.size()) + "-", 416, "", "bytes */" + std::to_string(whole.body.size())},
    };
    for (auto& r : rangeCases) {
        HttpAnswer a = Http(heard, "GET", "Range: " + r.range + "\r\n");
        EXPECT_EQ(a.status, r.status) << r.range;
        if (r.status == 206) {
            EXPECT_EQ(a.body, r.body) << r.range;
        }
        if (!r.contentRange.empty()) {
            EXPECT_EQ(a.headers["content-range"], r.contentRange) << r.range;
        }
    }

    // Header lines: 100 kB of them are refused; 10 MB do not swell the server.
    std::string lines;
    for (int i = 0; i < 100; ++i) lines += "X-Filler-" + std::to_string(i) + ": " + std::string(1000, 'a') + "\r\n";
    EXPECT_EQ(Http("/", "GET", lines).status, 431);
    std::string flood = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    while (flood.size() < (10u << 20)) flood += "X-Filler: " + std::string(1000, 'a') + "\r\n";
    const std::string answer = Flood(flood + "\r\n");
    EXPECT_TRUE(answer.empty() || answer.rfind("HTTP/1.1 431", 0) == 0) << answer.substr(0, 80);
    EXPECT_LT(PeakKb(), 64 * 1024);

    // Twelve clients sending a byte a second do not keep a page from another.
    std::vector<int> slow;
    for (int i = 0; i < 12; ++i) {
        int s = Connect();
        ASSERT_GE(s, 0);
        send(s, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ", 41, MSG_NOSIGNAL);
        slow.push_back(s);
    }
    std::thread dribble([&] {
        for (int t = 0; t < 4; ++t) {
            for (int s : slow) send(s, "a", 1, MSG_NOSIGNAL);
            sleep(1);
        }
    });
    usleep(500000);
    const double start = Wall();
    HttpAnswer list = Http("/");
    const double took = Wall() - start;
    dribble.join();
    for (int s : slow) close(s);
    EXPECT_EQ(list.status, 200);
    EXPECT_LT(took, 2.0);

    // One connection carries several requests.
    const std::string twice = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                              "GET /call/1 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(Count(Flood(twice), "HTTP/1.1 200 OK\r\n"), 2u);

    // A folder on the path that is a link (here one that stays inside) is
    // not followed.
    const std::string folder = out_ + "/call-3";
    ASSERT_EQ(rename(folder.c_str(), (folder + ".real").c_str()), 0);
    ASSERT_EQ(symlink((folder + ".real").c_str(), folder.c_str()), 0);
    HttpAnswer linked = Http(heard);
    unlink(folder.c_str());
    ASSERT_EQ(rename((folder + ".real").c_str(), folder.c_str()), 0);
    EXPECT_EQ(linked.status, 403);
    EXPECT_TRUE(Has(linked.body, "through a link")) << linked.body.substr(0, 300);
}

TEST_F(ServeTest, SoundsAndPicturesComeWithTheirTypesAndServingWritesNothing) {
    HttpAnswer list = Http("/");
    ASSERT_EQ(list.status, 200);
    EXPECT_EQ(list.headers["content-type"], "text/html; charset=utf-8");
    EXPECT_EQ(list.headers["x-content-type-options"], "nosniff");
    EXPECT_TRUE(Has(list.headers["content-security-policy"], "default-src 'none'"));
    EXPECT_EQ(Count(list.body, "<tr class=\"call\""), 4u);

    HttpAnswer call = Http("/call/2");
    ASSERT_EQ(call.status, 200);
    auto sounds = Attributes(call.body, "<audio", "src");
    ASSERT_EQ(sounds.size(), 2u) << call.body;  // heard, and the message
    for (auto& src : sounds) {
        HttpAnswer wav = Http(src);
        EXPECT_EQ(wav.status, 200) << src;
        EXPECT_EQ(wav.headers["content-type"], "audio/wav") << src;
        EXPECT_EQ(wav.body.substr(0, 4), "RIFF");
        EXPECT_EQ(wav.body.substr(8, 4), "WAVE");
        HttpAnswer part = Http(src, "GET", "Range: bytes=8-11\r\n");
        EXPECT_EQ(part.status, 206);
        EXPECT_EQ(part.body, "WAVE");
    }
    auto pictures = Attributes(call.body, "<img", "src");
    ASSERT_EQ(pictures.size(), 1u);
    HttpAnswer png = Http(pictures[0]);
    EXPECT_EQ(png.headers["content-type"], "image/png");
    EXPECT_EQ(png.body.substr(1, 3), "PNG");

    EXPECT_EQ(testenv::ReadFile(out_ + "/calls.db"), db_);
    EXPECT_EQ(Listing(), listing_);
}

}  // namespace
