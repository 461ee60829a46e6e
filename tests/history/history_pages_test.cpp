// The history's pages from a store: what the call page shows, text from the
// line kept as text, paging, and the files a row may not reach.
#include "host/history_pages.h"
#include "tests/history/store_fixture.h"

namespace {

class HistoryPagesTest : public CallStoreTest {
protected:
    static bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }
    int64_t Add(const CallRecord& call, time_t at) {
        int64_t id = store->Begin(call, at);
        EXPECT_TRUE(store->Finish(id, call, at)) << store->error();
        return id;
    }
    std::unique_ptr<CallStore> store = nullptr;
};

TEST_F(HistoryPagesTest, TheCallPageShowsTheCallAndTextFromTheLineStaysText) {
    store = Open();
    CallRecord call = Finished(1, "<script>alert(1)</script>", 0);
    call.phrases[0].text = "a & <b>";
    std::ofstream(call.dir + "/log.txt") << "2026 :<img src=x onerror=alert(1)>\n";
    const int64_t id = Add(call, epoch);
    HistoryPages pages(*store);

    std::string list = pages.List({}).body;
    EXPECT_TRUE(Has(list, "&lt;script&gt;alert(1)&lt;/script&gt;"));
    EXPECT_FALSE(Has(list, "<script>"));
    Page page = pages.Call(std::to_string(id));
    ASSERT_EQ(page.status, 200);
    const std::string& b = page.body;
    EXPECT_FALSE(Has(b, "<script>"));
    EXPECT_FALSE(Has(b, "<img src=x"));
    EXPECT_TRUE(Has(b, "a &amp; &lt;b&gt;"));
    EXPECT_TRUE(Has(b, "&lt;img src=x onerror=alert(1)&gt;"));  // the log slice
    EXPECT_TRUE(Has(b, "<img id=\"timeline\" src=\"/file/"));
    EXPECT_TRUE(Has(b, "<audio id=\"heard\" controls preload=\"metadata\" src=\"/file/"));
    EXPECT_TRUE(Has(b, "<audio class=\"recording\""));
    EXPECT_TRUE(Has(b, "<td>#</td><td>20.0 s</td>"));
    EXPECT_TRUE(Has(b, "How it ended</th><td>caller"));
    EXPECT_FALSE(Has(b, "id=\"error\""));
    EXPECT_FALSE(Has(b, "(never heard)"));

    // The error that ended its script and a prompt never heard, both
    // through the store.
    CallRecord failed = Finished(2, "5551234", 30);
    failed.errors = {"app.lua:4: <boom> (in call 2)"};
    failed.phrases[0].heard = false;
    page = pages.Call(std::to_string(Add(failed, epoch)));
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(Has(page.body, "<pre id=\"error\">app.lua:4: &lt;boom&gt; (in call 2)</pre>")) << page.body;
    EXPECT_TRUE(Has(page.body, " (never heard)</td>")) << page.body;
}

// A row cannot lead out of the folder: not by "..", not by an absolute
// path, not by a link; ids are numbers.
TEST_F(HistoryPagesTest, FilesOnlyInsideTheFolderAndOnlyByTheirRow) {
    mkdir("history", 0755);
    root = dir + "/history";
    std::ofstream("secret.txt") << "not for the web";
    store = Open();
    CallRecord call = Finished(1, "111", 0);
    symlink((dir + "/secret.txt").c_str(), (call.dir + "/linked.txt").c_str());
    symlink(call.dir.c_str(), (root + "/call-link").c_str());
    const int64_t id = Add(call, epoch);
    sqlite3* db = Raw();
    const std::string add = "INSERT INTO call_files(id, call, kind, path, bytes) VALUES ";
    for (auto& [fid, path] : std::vector<std::pair<int, std::string>>{
             {101, "../secret.txt"}, {102, dir + "/secret.txt"}, {103, "call-1/linked.txt"},
             {104, "call-1/../../secret.txt"}, {105, "call-link/log.txt"}, {106, "call-1"}}) {
        std::string sql = add + "(" + std::to_string(fid) + ", " + std::to_string(id) + ", 'other', '" + path + "', 1)";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    }
    sqlite3_close(db);

    HistoryPages pages(*store);
    struct Case {
        std::string id;
        int status;
    } cases[] = {{"101", 403}, {"102", 404}, {"103", 403}, {"104", 403},
                 {"105", 403},  // a link, even one that stays inside, is not followed
                 {"106", 404},  // a folder
                 {"999", 404},  {"../1", 400}, {"1%2F..", 400}, {"-1", 400}, {"0", 400}, {"", 400},
                 {std::string(19, '9'), 400}};
    for (auto& k : cases) {
        HistoryPages::OpenFile f = pages.File(k.id);
        EXPECT_EQ(f.fd >= 0 ? 200 : f.refusal.status, k.status) << k.id;
        if (f.fd >= 0) close(f.fd);
        EXPECT_FALSE(Has(f.refusal.body, "not for the web"));
    }
    HistoryPages::OpenFile heard = pages.File("1");
    ASSERT_GE(heard.fd, 0);
    close(heard.fd);
    StoredFile row;
    ASSERT_TRUE(store->File(1, row));
    EXPECT_EQ(row.path, "call-1/heard.wav");
    EXPECT_EQ(heard.type, "audio/wav");
    for (const char* bad : {"x", "1.5", "../2", "99999999999999999999"})
        EXPECT_EQ(pages.Call(bad).status, 400) << bad;
    EXPECT_EQ(pages.Call("77").status, 404);
}

TEST_F(HistoryPagesTest, TheListPagesAndRefusesBadParameters) {
    store = Open();
    for (int n = 1; n <= 5; ++n) Add(Finished(n, "1380000000" + std::to_string(n), 0), epoch + n * 60);
    HistoryPages pages(*store);
    Page p = pages.List({{"per", "2"}, {"page", "2"}, {"number", "138 0"}});
    ASSERT_EQ(p.status, 200) << p.body;
    EXPECT_TRUE(Has(p.body, "0 calls")) << p.body;  // nothing has "138 0"
    p = pages.List({{"per", "2"}, {"page", "2"}, {"number", "1380"}});
    EXPECT_TRUE(Has(p.body, "5 calls, 3 to 4 shown"));
    EXPECT_TRUE(Has(p.body, "13800000003"));
    EXPECT_FALSE(Has(p.body, "13800000005"));
    EXPECT_TRUE(Has(p.body, "href=\"/?number=1380&amp;page=3&amp;per=2\">Older"));
    EXPECT_TRUE(Has(p.body, "href=\"/?number=1380&amp;page=1&amp;per=2\">Newer"));
    EXPECT_TRUE(Has(p.body, "page 2 of 3"));

    for (Query q : std::vector<Query>{{{"from", "2026-02-30"}}, {{"to", "2026-1-1"}}, {{"number", std::string(65, '1')}},
                                      {{"page", "0"}}, {{"page", "x"}}, {{"per", "501"}}, {{"recorded", "1; DROP"}},
                                      {{"sort", "number"}}, {{"page", std::string(300, '9')}}}) {
        Page bad = pages.List(q);
        EXPECT_EQ(bad.status, 400) << q.begin()->first;
        EXPECT_TRUE(Has(bad.body, "<p id=\"error\">")) << bad.body;
    }
}

}  // namespace
