#include "tests/support/test_env.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "control/core/event_log.h"

namespace testenv {

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string Gbk(const std::string& utf8) { return sim::ConvertCodePage(utf8, CP_UTF8, 936); }
std::string Utf8(const std::string& gbk) { return sim::ConvertCodePage(gbk, 936, CP_UTF8); }

time_t At(int year, int month, int day, int hour, int minute, int second) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return mktime(&t);
}

HRESULT RecordingSink::Invoke(DISPID dispid, const std::vector<Variant>& args) {
    events.push_back({dispid, args});
    return answer;
}

std::vector<DISPID> RecordingSink::dispids() const {
    std::vector<DISPID> r;
    for (auto& e : events) r.push_back(e.dispid);
    return r;
}

int RecordingSink::count(DISPID dispid) const {
    int n = 0;
    for (auto& e : events) n += e.dispid == dispid;
    return n;
}

}  // namespace testenv

void MarluneTest::SetUp() {
    sim::Reset();
    sim::SetEpoch(testenv::At(2004, 3, 5, 9, 0, 0));
    char cwd[4096];
    oldDir_ = getcwd(cwd, sizeof cwd) ? cwd : ".";
    char tmpl[] = "/tmp/marlune-test-XXXXXX";
    dir = mkdtemp(tmpl);
    if (chdir(dir.c_str()) != 0) FAIL() << "cannot enter " << dir;
    module = std::make_unique<Module>();
    module->MakeCurrent();
}

void MarluneTest::TearDown() {
    ctrl.reset();
    module.reset();
    sim::Reset();
    if (chdir(oldDir_.c_str()) != 0) return;
    if (!getenv("MARLUNE_KEEP_TEST_DIRS")) {
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0) return;
    }
}

CMarluneCtrl& MarluneTest::MakeControl() {
    ctrl = std::make_unique<CMarluneCtrl>(*module);
    ctrl->CreateControlWindow(nullptr, RECT{0, 0, 100, 50});
    ctrl->Advise(&sink);
    return *ctrl;
}

std::string MarluneTest::LogFile() const { return EventLog::FileNameFor(sim::WallTime()); }

std::vector<std::string> MarluneTest::LogTexts() const {
    std::string bytes = testenv::ReadFile(LogFile());
    std::vector<std::string> out;
    const std::string end = "\r\n\t";
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t e = bytes.find(end, pos);
        if (e == std::string::npos) e = bytes.size();
        std::string entry = bytes.substr(pos, e - pos);
        size_t colon = entry.find(" :");
        out.push_back(colon == std::string::npos ? entry : entry.substr(colon + 2));
        pos = e + end.size();
    }
    return out;
}
