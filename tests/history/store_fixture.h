// A call store in the test's scratch folder, and calls as the tracker
// leaves them once their outputs are written.
#pragma once

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "host/call_store.h"
#include "tests/support/test_env.h"

class CallStoreTest : public MarluneTest {
protected:
    void SetUp() override {
        MarluneTest::SetUp();
        root = dir;
    }
    std::unique_ptr<CallStore> Open() {
        std::string error;
        auto s = CallStore::OpenForWriting(root, error);
        EXPECT_TRUE(s) << error;
        return s;
    }
    // A call as the tracker leaves it once its outputs are written: the
    // folder with a log, what was heard, the picture and the copy of its
    // recording.
    CallRecord Finished(int number, const std::string& party, double start) {
        CallRecord c;
        c.number = number;
        c.party = party;
        c.line = 1;
        c.start = start;
        c.connected = start + 8;
        c.end = start + 30;
        c.keys = "2#";
        c.marks = {{start + 8, CallMark::Event, "IsConnect"},
                   {start + 11, CallMark::Key, "2"},
                   {start + 20, CallMark::Key, "#"},
                   {start + 29, CallMark::Caller, "hangs up"},
                   {start + 30, CallMark::Event, "LineIsFree"}};
        c.callerHungUp = true;
        c.phrases = {{start + 8.5, start + 10.5, "greeting"}, {start + 10.5, start + 12, "after the tone"}};
        c.dir = root + "/call-" + std::to_string(number);
        mkdir(c.dir.c_str(), 0755);
        for (const char* f : {"log.txt", "heard.wav", "timeline.png", "timeline.svg", "message.wav"})
            std::ofstream(c.dir + "/" + f) << "0123456789";
        c.recordings = {{"message.wav", start + 12, start + 20, c.dir + "/message.wav", ""},
                        {"never.wav", -1, -1, "", ""}};
        return c;
    }
    sqlite3* Raw() {
        sqlite3* db = nullptr;
        sqlite3_open((root + "/calls.db").c_str(), &db);
        return db;
    }
    std::string root;
    const time_t epoch = 1'000'000'000;
};
