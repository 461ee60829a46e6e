// SendFile: a file's bytes up to its first zero byte, read and sent in
// pieces; its own codes and the failed send's text.
#include <fstream>

#include "tests/datalink/datalink_fixture.h"
#include "tests/support/heap_peak.h"

namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Zero-free bytes of every other value, in a pattern that does not repeat
// at the piece size.
std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(1 + (i * 7 + i / 251) % 255);
    return s;
}

}  // namespace

using SendFileTest = DataLinkTest;

TEST_F(SendFileTest, AFileArrivesUpToItsFirstZeroByte) {
    ConnectData();
    WriteBytes("text.txt", "first line\r\nsecond \x80\xfe 您好\n");
    EXPECT_EQ(ctrl->SendFile("text.txt"), 0);
    EXPECT_EQ(Received(), "first line\r\nsecond \x80\xfe 您好\n");
    EXPECT_EQ(Debug(), (Texts{kConnected}));

    WriteBytes("zero.bin", std::string("before\0after", 12));
    EXPECT_EQ(ctrl->SendFile("zero.bin"), 0);
    EXPECT_EQ(Received(), "before");

    // A zero right after the first piece, and one at the very start.
    std::string piece = Pattern(kFilePieceSize);
    WriteBytes("edge.bin", piece + std::string("\0tail", 5));
    EXPECT_EQ(ctrl->SendFile("edge.bin"), 0);
    EXPECT_EQ(Received(), piece);
    WriteBytes("lead.bin", std::string("\0tail", 5));
    EXPECT_EQ(ctrl->SendFile("lead.bin"), 0);
    EXPECT_EQ(Received(), "");

    // An empty file takes the port and sends nothing.
    WriteBytes("empty.bin", "");
    int lent = vmodem_DataPortsLent(0);
    EXPECT_EQ(ctrl->SendFile("empty.bin"), 0);
    EXPECT_EQ(vmodem_DataPortsLent(0), lent + 1);
    EXPECT_EQ(Received(), "");
    EXPECT_EQ(sim::OpenCommPorts(), 0);
    EXPECT_EQ(sim::OpenFileHandles(), 0);
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(SendFileTest, AMissingFileGivesMinusOneAndAnUnreadableOneMinusTwo) {
    ConnectData();
    EXPECT_EQ(ctrl->SendFile("no-such-file.bin"), -1);
    EXPECT_TRUE(Debug().empty());
    // Unreadable from the start: nothing is sent, the port is not taken.
    WriteBytes("data.bin", "some bytes");
    sim::FailKernel("ReadFile");
    EXPECT_EQ(ctrl->SendFile("data.bin"), -2);
    EXPECT_TRUE(Debug().empty());
    EXPECT_EQ(vmodem_DataPortsLent(0), 0);
    EXPECT_EQ(sim::OpenFileHandles(), 0);
}

TEST_F(SendFileTest, AReadErrorPartWayGivesMinusTwoAndWhatWasSentStaysSent) {
    ConnectData();
    std::string bytes = Pattern(3 * kFilePieceSize + 100);
    WriteBytes("data.bin", bytes);
    sim::FailKernel("ReadFile", 1, 2);  // the third piece cannot be read
    EXPECT_EQ(ctrl->SendFile("data.bin"), -2);
    EXPECT_EQ(Received(), bytes.substr(0, 2 * kFilePieceSize));
    EXPECT_EQ(Debug(), (Texts{kConnected}));
    EXPECT_EQ(sim::OpenCommPorts(), 0);
    EXPECT_EQ(sim::OpenFileHandles(), 0);
}

TEST_F(SendFileTest, AFailedSendIsMinusThreeWithSendDatasCode) {
    OpenDefaultLine();
    WriteBytes("data.bin", "payload");
    EXPECT_EQ(ctrl->SendFile("data.bin"), -3);  // no call
    EXPECT_EQ(Debug(), (Texts{"SendData failed: -2\n"}));

    ConnectIncoming();  // a voice call without a port
    EXPECT_EQ(ctrl->SendFile("data.bin"), -3);
    EXPECT_EQ(Debug().back(), "SendData failed: -4\n");
    ctrl->HandUp();
    Pump();

    vmodem_OfferData(0, nullptr);
    Pump();
    ctrl->AnswerTp();
    Pump();
    sim::InjectCommWrite(sim::CommFault::Error, ERROR_WRITE_FAULT);
    EXPECT_EQ(ctrl->SendFile("data.bin"), -3);
    EXPECT_EQ(Debug().back(), "SendData failed: -6\n");

    sim::FailKernel("LocalAlloc");
    EXPECT_EQ(ctrl->SendFile("data.bin"), -3);
    EXPECT_EQ(Debug().back(), "SendData failed: -1\n");

    // Hang-up part-way through a file.
    WriteBytes("big.bin", Pattern(200000));
    vmodem_DataHangUpAfter(0, 50000);
    Texts before = Debug();
    EXPECT_EQ(ctrl->SendFile("big.bin"), -3);
    Texts texts = Debug();
    EXPECT_EQ(Texts(texts.begin() + static_cast<long>(before.size()), texts.end()),
              (Texts{kConnected, kProviderClosed, "SendData failed: -5\n"}));
    EXPECT_EQ(sim::OpenCommPorts(), 0);
    EXPECT_EQ(sim::OpenFileHandles(), 0);
}

TEST_F(SendFileTest, TenMegabytesArriveWhileTheControlsMemoryStaysBounded) {
    ConnectData();
    constexpr size_t kSize = 10 * 1024 * 1024;
    {
        std::ofstream out("ten.bin", std::ios::binary);
        std::string chunk = Pattern(1024 * 1024);
        for (int i = 0; i < 10; ++i) out << chunk;
    }
    ASSERT_EQ(vmodem_DataCapture(0, "far_end.bin"), 0);
    // Faults along the way change nothing of what arrives.
    sim::InjectCommWrite(sim::CommFault::Partial, 1000, 3);
    sim::InjectCommWrite(sim::CommFault::Pending, 5000, 3);

    heappeak::Start();
    EXPECT_EQ(ctrl->SendFile("ten.bin"), 0);
    size_t rise = heappeak::Rise();
    vmodem_DataCapture(0, nullptr);

    EXPECT_EQ(vmodem_DataReceived(0), kSize);
    std::string sent = testenv::ReadFile("ten.bin");
    std::string arrived = testenv::ReadFile("far_end.bin");
    ASSERT_EQ(arrived.size(), kSize);
    EXPECT_TRUE(arrived == sent);
    EXPECT_EQ(Debug(), (Texts{kConnected}));
    if (heappeak::Available()) {
        // One piece and the bookkeeping, nowhere near the file.
        EXPECT_LT(rise, 4 * kFilePieceSize);
        EXPECT_GE(rise, kFilePieceSize);
    }
}
