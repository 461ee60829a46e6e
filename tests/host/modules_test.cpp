// The program loads its large libraries only for the verbs that need them:
// a JSON session maps none of them, and a verb whose module is missing says
// which and fails, while a call whose pictures cannot be drawn keeps its
// other outputs.
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/host/host_fixture.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

class ModulesTest : public HostTest {
protected:
    // A folder holding a copy of the program and links to the libraries
    // beside it, all but the modules named.
    std::string ProgramWithout(const std::vector<std::string>& missing) {
        const fs::path from = fs::path(MARLUNE_BIN).parent_path();
        const fs::path dir = fs::absolute("alone");
        fs::create_directories(dir);
        fs::copy_file(MARLUNE_BIN, dir / "marlune", fs::copy_options::overwrite_existing);
        for (auto& entry : fs::directory_iterator(from)) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() != ".so" || fs::exists(dir / name)) continue;
            if (std::find(missing.begin(), missing.end(), name) == missing.end())
                fs::create_symlink(entry.path(), dir / name);
        }
        return (dir / "marlune").string();
    }
    // `program ARGS`, its exit status; stderr in err.
    int Exit(const std::string& program, const std::string& args) {
        const int raw = std::system((program + " " + args + " </dev/null >stdout.txt 2>stderr.txt").c_str());
        err = testenv::ReadFile("stderr.txt");
        return raw >= 0 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::string err;
};

TEST_F(ModulesTest, AJsonSessionMapsNoneOfTheLargeLibraries) {
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(MARLUNE_BIN), const_cast<char*>("host"), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, MARLUNE_BIN, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    const std::string request = "{\"id\":1,\"call\":\"InitLine\",\"args\":[0]}\n";
    ASSERT_EQ(write(in[1], request.data(), request.size()), static_cast<ssize_t>(request.size()));
    std::string answer;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') answer += c;
    // The session is up and has answered: what it has mapped now.
    const std::string maps = testenv::ReadFile("/proc/" + std::to_string(pid) + "/maps");
    close(in[1]);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_NE(answer.find("\"id\":1"), std::string::npos) << answer;
    // The speech engine is loaded with the control; the control, the
    // platform and the virtual modem are in the program itself.
    ASSERT_NE(maps.find("libespeak_tts.so"), std::string::npos) << maps;
    std::vector<std::string> absent = {"liblua", "libcairo", "libfontconfig", "libX11", "libasound", "libsqlite3",
                                       "libssl", "libcpp-httplib", "libmicrohttpd", "libsoxr", "libmarlune_lua", "libmarlune_draw",
                                       "libmarlune_calls", "libmarlune_control.so", "libmarlune_platform.so",
                                       "libtapi32.so"};
    if (MARLUNE_STATIC_CXX_RUNTIME) absent.push_back("libstdc++");
    for (const auto& library : absent) EXPECT_EQ(maps.find(library), std::string::npos) << library << " is mapped";
}

TEST_F(ModulesTest, AVerbWhoseModuleIsMissingSaysWhichAndFails) {
    const std::string program = ProgramWithout({"libmarlune_lua.so", "libmarlune_calls.so"});
    std::ofstream("app.lua") << "print('ran')\n";
    fs::create_directories("out");
    struct Case {
        const char* args;
        const char* module;
    } cases[] = {
        {"run app.lua", "lua"}, {"demo --out out", "lua"}, {"calls out", "calls"}, {"serve out --port 0", "calls"}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(Exit(program, c.args), 1);
        EXPECT_NE(err.find(std::string("marlune: cannot load the ") + c.module + " module: "), std::string::npos) << err;
        EXPECT_NE(err.find(std::string("libmarlune_") + c.module + ".so"), std::string::npos) << err;
    }
    // The verbs of the program itself still run.
    EXPECT_EQ(Exit(program, "number 2046"), 0) << err;
    EXPECT_EQ(Exit(program, "host"), 0) << err;
}

TEST_F(ModulesTest, WithoutTheDrawModuleACallKeepsItsOtherOutputs) {
    const std::string program = ProgramWithout({"libmarlune_draw.so"});
    ASSERT_EQ(Exit(program, "demo --out out"), 0) << err;
    const std::string notice = "marlune: the call pictures are not drawn: cannot load the draw module: ";
    ASSERT_NE(err.find(notice), std::string::npos) << err;
    EXPECT_EQ(err.find(notice, err.find(notice) + 1), std::string::npos) << "said more than once: " << err;
    EXPECT_TRUE(fs::exists("out/call-1/log.txt"));
    EXPECT_TRUE(fs::exists("out/call-1/heard.wav"));
    EXPECT_FALSE(fs::exists("out/call-1/timeline.png"));
    // With the module, the same session draws them.
    ASSERT_EQ(Exit(MARLUNE_BIN, "demo --out drawn"), 0) << err;
    EXPECT_TRUE(fs::exists("drawn/call-1/timeline.png"));
    EXPECT_TRUE(fs::exists("drawn/call-1/timeline.svg"));
}

// The rate converter is loaded at the first conversion: without libsoxr a
// session that converts no rate runs as it is, and one that converts runs
// on with linear conversion, saying why once. The library is hidden in a
// mount namespace of the run's own.
TEST_F(ModulesTest, WithoutTheRateConverterConversionsRunOnLinear) {
    if (std::system("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "no mount namespaces here";
    void* lib = dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    Dl_info info{};
    ASSERT_NE(dladdr(dlsym(lib, "soxr_create"), &info), 0);
    const std::string hide = "unshare -m sh -c 'mount --bind /dev/null " + fs::canonical(info.dli_fname).string() + " && ";
    std::ofstream("requests.jsonl") << "{\"id\":1,\"call\":\"InitLine\",\"args\":[0]}\n";
    EXPECT_EQ(Exit(hide + "exec " + MARLUNE_BIN + " host <requests.jsonl'", ""), 0) << err;
    EXPECT_NE(testenv::ReadFile("stdout.txt").find("\"id\":1,\"result\""), std::string::npos);
    EXPECT_EQ(err.find("libsoxr"), std::string::npos) << err;
    ASSERT_EQ(Exit(hide + "exec " + MARLUNE_BIN + " demo --out out'", ""), 0) << err;
    const std::string notice = "rate conversion is linear: cannot load libsoxr.so.0: ";
    const size_t first = err.find(notice);
    EXPECT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find(notice, first + 1), std::string::npos) << "said once";
    EXPECT_GT(fs::file_size("out/line_tap.wav"), 44u);
}

}  // namespace
