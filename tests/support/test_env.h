// Test support: every test gets a fresh platform (virtual clock at a fixed
// instant), a fresh Module made current, and its own scratch directory as
// the current directory.
#pragma once

#include <algorithm>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/front/marlune_ctrl.h"
#include "platform/sim/sim.h"

namespace testenv {

// Reads a whole file as bytes ("" when missing).
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// UTF-8 -> the control's GBK bytes, and back.
std::string Gbk(const std::string& utf8);
std::string Utf8(const std::string& gbk);
// Wall-clock instant for a local date and time (TZ=UTC in the tests).
time_t At(int year, int month, int day, int hour, int minute, int second);

// An event sink that records every event (DISPID and arguments).
struct RecordedEvent {
    DISPID dispid;
    std::vector<Variant> args;
};
class RecordingSink : public IEventSink {
public:
    HRESULT Invoke(DISPID dispid, const std::vector<Variant>& args) override;
    std::vector<RecordedEvent> events;
    HRESULT answer = S_OK;
    std::vector<DISPID> dispids() const;
    int count(DISPID dispid) const;
};

}  // namespace testenv

// Base fixture: fresh platform, Module and scratch directory.
class MarluneTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A control with its window created and a recording sink connected.
    CMarluneCtrl& MakeControl();
    // Log entries written so far today (file of the current clock day),
    // split at the CR LF TAB that ends each entry, timestamps removed.
    std::vector<std::string> LogTexts() const;
    // Whether the log (today's, or the entries given) has the entry `text`,
    // a literal compiled to GBK as the log is.
    bool Logged(const std::string& text) const { return Logged(LogTexts(), text); }
    static bool Logged(const std::vector<std::string>& log, const std::string& text) {
        return std::find(log.begin(), log.end(), text) != log.end();
    }
    std::string LogFile() const;

    std::unique_ptr<Module> module;
    std::unique_ptr<CMarluneCtrl> ctrl;
    testenv::RecordingSink sink;
    std::string dir;

private:
    std::string oldDir_;
};
