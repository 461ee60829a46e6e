// A history served as a person would serve it: `marlune demo` fills an
// output folder once for the test program, `marlune serve` runs on a free
// loopback port, and requests go to it as raw HTTP (so that a request can
// carry exactly the bytes a hostile client sends).
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

struct HttpAnswer {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

class ServedHistory : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/marlune-served-XXXXXX";
        root_ = mkdtemp(tmpl);
        out_ = root_ + "/out";
        std::string demo = std::string(MARLUNE_BIN) + " demo --out " + out_ + " > " + root_ + "/demo.txt 2>&1";
        ASSERT_EQ(system(demo.c_str()), 0) << testenv::ReadFile(root_ + "/demo.txt");
        db_ = testenv::ReadFile(out_ + "/calls.db");
        listing_ = Listing();

        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        server_ = fork();
        if (server_ == 0) {
            dup2(pipeFds[1], 1);
            close(pipeFds[0]);
            execl(MARLUNE_BIN, MARLUNE_BIN, "serve", out_.c_str(), "--port", "0", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        // "serving the calls of DIR at http://127.0.0.1:PORT/"
        std::string line;
        char c;
        while (read(pipeFds[0], &c, 1) == 1 && c != '\n') line += c;
        close(pipeFds[0]);
        size_t colon = line.rfind(':');
        ASSERT_NE(colon, std::string::npos) << "the server said: " << line;
        port_ = atoi(line.c_str() + colon + 1);
        ASSERT_GT(port_, 0) << line;
        base_ = "http://127.0.0.1:" + std::to_string(port_);
    }
    static void TearDownTestSuite() {
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
        }
        if (!root_.empty()) (void)system(("rm -rf " + root_).c_str());
    }

    // One request, `target` sent as given.
    static HttpAnswer Http(const std::string& target, const std::string& method = "GET",
                           const std::string& headers = "") {
        HttpAnswer a;
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port_));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(s);
            return a;
        }
        std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                              headers + "\r\n";
        for (size_t sent = 0; sent < request.size();) {
            ssize_t n = write(s, request.data() + sent, request.size() - sent);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        std::string raw;
        char buf[65536];
        for (ssize_t n; (n = read(s, buf, sizeof buf)) > 0;) raw.append(buf, static_cast<size_t>(n));
        close(s);
        size_t end = raw.find("\r\n\r\n");
        if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos) return a;
        a.status = atoi(raw.c_str() + 9);
        a.body = raw.substr(end + 4);
        for (size_t at = raw.find("\r\n") + 2; at < end;) {
            size_t eol = raw.find("\r\n", at), colon = raw.find(':', at);
            if (colon < eol) {
                std::string name = raw.substr(at, colon - at);
                for (auto& ch : name) ch = static_cast<char>(tolower(ch));
                a.headers[name] = raw.substr(colon + 2, eol - colon - 2);
            }
            at = eol + 2;
        }
        return a;
    }
    // The names in the output folder.
    static std::set<std::string> Listing() {
        std::set<std::string> names;
        if (DIR* d = opendir(out_.c_str())) {
            while (dirent* e = readdir(d)) names.insert(e->d_name);
            closedir(d);
        }
        return names;
    }
    static bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }
    // Every value of attribute `attr` in the tags of `html` that open with `tag`.
    static std::vector<std::string> Attributes(const std::string& html, const std::string& tag, const std::string& attr) {
        std::vector<std::string> values;
        for (size_t at = html.find(tag); at != std::string::npos; at = html.find(tag, at + 1)) {
            size_t close = html.find('>', at);
            size_t a = html.find(" " + attr + "=\"", at);
            if (a == std::string::npos || a > close) continue;
            a += attr.size() + 3;
            values.push_back(html.substr(a, html.find('"', a) - a));
        }
        return values;
    }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    static inline std::string root_, out_, base_, db_;
    static inline std::set<std::string> listing_;
    static inline pid_t server_ = -1;
    static inline int port_ = 0;
};
