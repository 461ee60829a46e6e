// Fixture of the telephony tests: a control with its window, the virtual
// modem in its default configuration, and helpers to drive a call.
#pragma once

#include <string>
#include <vector>

#include "peers/virtual_modem/virtual_modem.h"
#include "tests/support/test_env.h"

class TelephonyTest : public MarluneTest {
protected:
    void SetUp() override {
        MarluneTest::SetUp();
        vmodem_Reset();
        MakeControl();
    }

    // Delivers every notification the modem has posted.
    static void Pump() { sim::RunPending(); }

    // InitLine(0) and OpenLine(0), expected to succeed.
    void OpenDefaultLine() {
        ASSERT_EQ(ctrl->InitLine(0), "Marlune Voice Modem");
        ASSERT_EQ(ctrl->OpenLine(0), 0);
        Pump();
    }

    // An offered call, answered and connected; returns its handle.
    HCALL ConnectIncoming(const char* callerId = "5551234") {
        HCALL h = vmodem_Offer(0, callerId);
        Pump();
        EXPECT_EQ(ctrl->AnswerTp(), 0);
        Pump();
        return h;
    }

    // Log entries written from now on.
    void MarkLog() { mark_ = LogTexts().size(); }
    std::vector<std::string> NewLog() const {
        auto all = LogTexts();
        return std::vector<std::string>(all.begin() + static_cast<long>(std::min(mark_, all.size())), all.end());
    }

    // The arguments of every event with this DISPID, in order.
    std::vector<std::vector<Variant>> Events(DISPID id) const {
        std::vector<std::vector<Variant>> r;
        for (auto& e : sink.events)
            if (e.dispid == id) r.push_back(e.args);
        return r;
    }
    std::vector<LONG> LongArgs(DISPID id, size_t index = 0) const {
        std::vector<LONG> r;
        for (auto& args : Events(id)) r.push_back(args.at(index).lVal);
        return r;
    }

    static std::string G(const std::string& utf8) { return testenv::Gbk(utf8); }

private:
    size_t mark_ = 0;
};

using Texts = std::vector<std::string>;
