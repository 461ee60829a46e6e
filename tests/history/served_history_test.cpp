// `marlune serve` over HTTP: the demo's history, what hostile requests get,
// and that serving changes nothing in the folder.
#include <sqlite3.h>
#include <sys/stat.h>

#include "tests/history/served_history.h"

namespace {

class ServeTest : public ServedHistory {};

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
