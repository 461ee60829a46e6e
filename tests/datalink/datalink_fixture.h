// Fixture of the data-link tests: a control on the default line, data
// calls from the virtual modem, and what reached the caller's end.
#pragma once

#include <pty.h>
#include <unistd.h>
#include <termios.h>

#include <cstring>
#include <string>
#include <vector>

#include "peers/virtual_modem/data_call.h"
#include "platform/sim/comm_port.h"
#include "platform/sim/kernel_faults.h"
#include "telephony/tapi_records.h"
#include "tests/telephony/telephony_fixture.h"

class DataLinkTest : public TelephonyTest {
protected:
    void SetUp() override {
        TelephonyTest::SetUp();
        // Debug texts and boxes in one sequence, to check their order.
        sim::SetDebugOutputObserver([this](const std::string& t) { trace.push_back("debug:" + t); });
        sim::SetMessageBoxObserver([this](const sim::MessageBoxRecord& b) {
            trace.push_back("box:" + b.caption + "/" + b.text);
        });
    }

    // An incoming data call, answered and connected.
    HCALL ConnectData() {
        OpenDefaultLine();
        HCALL h = vmodem_OfferData(0, "5551234");
        Pump();
        EXPECT_EQ(ctrl->AnswerTp(), 0);
        Pump();
        return h;
    }

    DataLink& link() { return module->datalink; }

    // Everything that arrived at the caller's end and was not read yet.
    static std::string Received() {
        std::string bytes(vmodem_DataPending(0), '\0');
        bytes.resize(vmodem_DataRead(0, bytes.data(), bytes.size()));
        return bytes;
    }

    static std::vector<std::string> Debug() { return sim::DebugOutput(); }

    // A port handle of the test's own, on a fresh pseudo-terminal whose
    // far end is read into farEnd as the platform asks.
    HANDLE OwnPort() {
        int master = -1, slave = -1;
        termios raw{};
        cfmakeraw(&raw);
        EXPECT_EQ(openpty(&master, &slave, nullptr, &raw, nullptr), 0);
        masters.push_back(master);
        return sim::OpenCommPort(slave, [this, master](size_t n) {
            std::vector<char> buf(n);
            size_t got = 0;
            while (got < n) {
                ssize_t r = read(master, buf.data() + got, n - got);
                if (r <= 0) break;
                got += static_cast<size_t>(r);
            }
            farEnd.append(buf.data(), got);
        });
    }

    void TearDown() override {
        for (int m : masters) close(m);
        sim::SetDebugOutputObserver(nullptr);
        TelephonyTest::TearDown();
    }

    std::vector<std::string> trace;
    std::string farEnd;  // what reached the far end of OwnPort()s
    std::vector<int> masters;
};

constexpr char kConnected[] = "Connected!  Starting communications!\n";
constexpr char kProviderClosed[] = "ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.\n";
