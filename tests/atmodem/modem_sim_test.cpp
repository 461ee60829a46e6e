// The modem simulator on its own, talked to over its terminal byte by byte
// as a program driving a voice modem would.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <utility>

#include "tests/atmodem/line_fixture.h"

namespace {

constexpr char kDle = 0x10, kEtx = 0x03;

// The far end of the simulator's terminal, read on its own thread as a
// provider reads it, so that the simulator's clock can wait for it.
class Terminal {
public:
    explicit Terminal(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
        struct stat st {};
        fstat(fd_, &st);
        to_ = sim::SerialKey(st.st_rdev, true);
        from_ = sim::SerialKey(st.st_rdev, false);
        reader_ = std::thread([this] { Run(); });
    }
    ~Terminal() {
        stop_ = true;
        reader_.join();
        close(fd_);
    }
    void Write(const std::string& s) {
        sim::SerialSent(to_, s.size());
        ASSERT_EQ(write(fd_, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
    // What arrived so far: the clock waits until the reader took what the
    // simulator wrote. `reads` counts the reads it took.
    std::string Read(int* reads = nullptr) {
        sim::RunPending();
        std::lock_guard<std::mutex> g(lock_);
        if (reads) *reads = reads_;
        reads_ = 0;
        return std::exchange(got_, std::string());
    }
    std::string Command(const std::string& c) {
        Write(c + "\r");
        return Read();
    }
    // The device is gone: end of file or a read error.
    bool Gone() {
        std::lock_guard<std::mutex> g(lock_);
        return gone_;
    }

private:
    void Run() {
        char buf[4096];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            ssize_t n = read(fd_, buf, sizeof buf);
            std::lock_guard<std::mutex> g(lock_);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                gone_ = true;
                sim::SerialForget(from_);
                return;
            }
            if (n < 0) continue;
            got_.append(buf, static_cast<size_t>(n));
            ++reads_;
            sim::SerialTaken(from_, static_cast<size_t>(n));
        }
    }
    int fd_ = -1;
    uint64_t to_ = 0, from_ = 0;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::string got_;
    int reads_ = 0;
    bool gone_ = false;
};

}  // namespace

class ModemSimTest : public LineTest {
protected:
    void SetUp() override {
        LineTest::SetUp();
        Restart(modemsim::Options());
    }
    // A modem from power-up: it echoes until ATE0.
    void Restart(const modemsim::Options& o) {
        term.reset();
        modem.Stop();
        ASSERT_TRUE(modem.Start(o));
        term = std::make_unique<Terminal>(modem.Path());
        ASSERT_EQ(term->Command("AT"), "AT\r\r\nOK\r\n");
        ASSERT_EQ(term->Command("ATE0"), "ATE0\r\r\nOK\r\n");
    }
    void TearDown() override {
        term.reset();
        modem.Stop();
        LineTest::TearDown();
    }
    void VoiceMode() {
        ASSERT_EQ(term->Command("AT+FCLASS=8"), "\r\nOK\r\n");
        ASSERT_EQ(term->Command("AT+VCID=1"), "\r\nOK\r\n");
        ASSERT_EQ(term->Command("AT+VSM=131,8000"), "\r\nOK\r\n");  // mu-law on this family
    }
    modemsim::ModemSim modem;
    std::unique_ptr<Terminal> term;
};

TEST_F(ModemSimTest, CommandsAreAnsweredWithResultCodesAndVoiceCommandsNeedVoiceMode) {
    EXPECT_EQ(term->Command("AT"), "\r\nOK\r\n");
    EXPECT_EQ(term->Command("ATI"), "\r\nMarlune SimVoice 56K\r\n\r\nOK\r\n");
    EXPECT_EQ(term->Command("AT+FMI?"), "\r\nMarlune\r\n\r\nOK\r\n");
    EXPECT_EQ(term->Command("AT+VLS=1"), "\r\nERROR\r\n");  // not in voice mode yet
    VoiceMode();
    EXPECT_EQ(term->Command("AT+FCLASS?"), "\r\n8\r\n\r\nOK\r\n");
    EXPECT_EQ(term->Command("AT+VSM=4,8000"), "\r\nERROR\r\n");
    EXPECT_EQ(term->Command("AT+VTX"), "\r\nERROR\r\n");  // on hook
    EXPECT_EQ(term->Command("AT#CLS=8"), "\r\nERROR\r\n");  // the other set
    EXPECT_EQ(term->Command("AT+XYZ"), "\r\nERROR\r\n");
    EXPECT_EQ(term->Command("hello"), "");  // not a command
    EXPECT_EQ(modem.Commands().back(), "hello");
}

TEST_F(ModemSimTest, RingsCarryTheCallerIdAfterTheFirstOnTheClock) {
    VoiceMode();
    modem.Ring(2, 4, "5551234");
    Run(0);
    EXPECT_EQ(term->Read(), "\r\nRING\r\n\r\nDATE = 1207\r\nTIME = 1020\r\nNMBR = 5551234\r\n");
    Run(3.5);
    EXPECT_EQ(term->Read(), "");
    Run(0.5);
    EXPECT_EQ(term->Read(), "\r\nRING\r\n");
    EXPECT_EQ(term->Command("AT+VLS=1"), "\r\nOK\r\n");
    EXPECT_TRUE(modem.OffHook());
}

TEST_F(ModemSimTest, ReceivedVoiceIsShieldedKeysAreInlineAndDleBangEndsIt) {
    VoiceMode();
    modem.Ring(1, 4, "");
    Run(0);
    term->Read();
    term->Command("AT+VLS=1");
    std::vector<int16_t> voice(160, sim::MuLawDecode(0x10));
    voice[1] = sim::MuLawDecode(0x42);
    modem.Voice(voice);
    EXPECT_EQ(term->Command("AT+VRX"), "\r\nCONNECT\r\n");
    Run(0.02);
    std::string data = term->Read();
    ASSERT_EQ(data.size(), 159u * 2 + 1);  // every 0x10 doubled
    EXPECT_EQ(data.substr(0, 3), (std::string{kDle, kDle, 0x42}));
    modem.Keys("5");
    Run(0);
    EXPECT_EQ(term->Read(), (std::string{kDle, '5'}));
    term->Write(std::string{kDle, '!'});
    EXPECT_EQ(term->Read(), (std::string{kDle, kEtx} + "\r\nOK\r\n"));
    Run(0.1);
    EXPECT_EQ(term->Read(), "");  // no more voice
}

TEST_F(ModemSimTest, TransmittedVoiceIsUnshieldedAndDleEtxEndsIt) {
    VoiceMode();
    modem.SetOutgoing(modemsim::Outgoing::Answer, 1);
    term->Write("ATD5551234;\r");
    Run(1);
    EXPECT_EQ(term->Read(), "\r\nVCON\r\n");
    EXPECT_EQ(modem.Dialled(), "5551234");
    EXPECT_EQ(term->Command("AT+VTX"), "\r\nCONNECT\r\n");
    term->Write(std::string{0x42, kDle, kDle, 0x43, kDle, kEtx});
    EXPECT_EQ(term->Read(), "");  // OK once the three samples have played
    Run(0.001);
    EXPECT_EQ(term->Read(), "\r\nOK\r\n");
    EXPECT_EQ(modem.Heard(), (std::vector<int16_t>{sim::MuLawDecode(0x42), sim::MuLawDecode(0x10), sim::MuLawDecode(0x43)}));
    modem.HangUp(modemsim::HangUp::Silence);
    EXPECT_EQ(term->Read(), (std::string{kDle, 's', kDle, 'q'}));
}

TEST_F(ModemSimTest, OutgoingCallsAreBusyOrUnansweredAsScripted) {
    VoiceMode();
    modem.SetOutgoing(modemsim::Outgoing::Busy, 2);
    term->Write("ATD1;\r");
    Run(2);
    EXPECT_EQ(term->Read(), "\r\nBUSY\r\n");
    modem.SetOutgoing(modemsim::Outgoing::NoAnswer, 0);
    term->Write("ATD2;\r");
    Run(9.5);
    EXPECT_EQ(term->Read(), "");
    Run(0.5);
    EXPECT_EQ(term->Read(), "\r\nNO ANSWER\r\n");
}

TEST_F(ModemSimTest, FaultsErrorSilenceNoiseSplitWritesAndUnplugging) {
    modem.FailCommand("+FCLASS", 1);
    EXPECT_EQ(term->Command("AT+FCLASS=8"), "\r\nERROR\r\n");
    EXPECT_EQ(term->Command("AT+FCLASS=8"), "\r\nOK\r\n");  // only once
    modem.StopAnswering(true);
    EXPECT_EQ(term->Command("AT"), "");
    modem.StopAnswering(false);
    modem.Noise(true);
    std::string noisy = term->Command("AT");
    EXPECT_NE(noisy, "\r\nOK\r\n");
    EXPECT_EQ(noisy.substr(noisy.size() - 6), "\r\nOK\r\n");
    modem.Noise(false);
    modem.SplitWrites(1);
    int reads = 0;
    term->Write("AT\r");
    EXPECT_EQ(term->Read(&reads), "\r\nOK\r\n");
    EXPECT_EQ(reads, 6);  // one byte per read
    modem.Unplug();
    EXPECT_EQ(term->Read(), "");
    Run(0);  // the clock does not wait for a device that is gone
    EXPECT_TRUE(term->Gone());
}

TEST_F(ModemSimTest, TheOlderCommandSetAnswersItsOwnCommands) {
    modemsim::Options o;
    o.dialect = modemsim::Dialect::Rockwell;
    Restart(o);
    EXPECT_EQ(term->Command("AT+FCLASS=8"), "\r\nERROR\r\n");
    EXPECT_EQ(term->Command("AT#CLS=8"), "\r\nOK\r\n");
    EXPECT_EQ(term->Command("AT#VBS=8"), "\r\nOK\r\n");
    EXPECT_EQ(term->Command("AT#CID=1"), "\r\nOK\r\n");
    modem.Ring(1, 4, "777");
    Run(0);
    EXPECT_EQ(term->Read(), "\r\nRING\r\n\r\nDATE = 1207\r\nTIME = 1020\r\nNMBR = 777\r\n");
    EXPECT_EQ(term->Command("ATA"), "\r\nVCON\r\n");
    EXPECT_EQ(term->Command("AT#VTX"), "\r\nCONNECT\r\n");
    EXPECT_EQ(modem.VoiceFormat(), 128);
}

TEST_F(ModemSimTest, ADeadLineAnswersNoDialtoneAndTheCallerIdBlockHasItsFullForm) {
    VoiceMode();
    modem.SetOutgoing(modemsim::Outgoing::NoDialtone, 2);
    term->Write("ATD5551234;\r");
    Run(1.9);
    EXPECT_EQ(term->Read(), "");
    Run(0.1);
    EXPECT_EQ(term->Read(), "\r\nNO DIALTONE\r\n");
    EXPECT_FALSE(modem.OffHook());

    modem.Ring(1, 4, "5551234", "JOHN DOE");
    Run(0);
    EXPECT_EQ(term->Read(), "\r\nRING\r\n\r\nDATE = 1207\r\nTIME = 1020\r\nNMBR = 5551234\r\nNAME = JOHN DOE\r\n");
    EXPECT_EQ(term->Command("ATH"), "\r\nOK\r\n");
    modem.Ring(1, 4, "P", "");
    Run(0);
    EXPECT_EQ(term->Read(), "\r\nRING\r\n\r\nDATE = 1207\r\nTIME = 1020\r\nNMBR = P\r\n");
    modem.SendLine("NAME = O");
    EXPECT_EQ(term->Read(), "\r\nNAME = O\r\n");
}

TEST_F(ModemSimTest, VtrCarriesVoiceBothWaysOnlyOnAFullDuplexModem) {
    VoiceMode();
    modem.Ring(1, 4, "");
    Run(0);
    term->Read();
    term->Command("AT+VLS=1");
    EXPECT_EQ(term->Command("AT+VTR=?"), "\r\nERROR\r\n");
    EXPECT_EQ(term->Command("AT+VTR"), "\r\nERROR\r\n");

    modemsim::Options o;
    o.fullDuplex = true;
    Restart(o);
    VoiceMode();
    EXPECT_EQ(term->Command("AT+VTR"), "\r\nERROR\r\n");  // on hook
    EXPECT_EQ(term->Command("AT+VTR=?"), "\r\nOK\r\n");
    modem.Ring(1, 4, "");
    Run(0);
    term->Read();
    term->Command("AT+VLS=1");
    std::vector<int16_t> voice(160, sim::MuLawDecode(0x42));
    modem.Voice(voice);
    EXPECT_EQ(term->Command("AT+VTR"), "\r\nCONNECT\r\n");
    term->Write(std::string{0x41, kDle, kDle, 0x43});
    Run(0.02);
    EXPECT_EQ(term->Read(), std::string(160, 0x42));  // the caller, while the modem plays
    EXPECT_EQ(modem.Heard(), (std::vector<int16_t>{sim::MuLawDecode(0x41), sim::MuLawDecode(0x10), sim::MuLawDecode(0x43)}));
    term->Write(std::string{kDle, '^'});
    Run(0.001);
    EXPECT_EQ(term->Read(), (std::string{kDle, kEtx} + "\r\nOK\r\n"));
    Run(0.1);
    EXPECT_EQ(term->Read(), "");  // both directions ended
    EXPECT_EQ(term->Command("AT"), "\r\nOK\r\n");
}

TEST_F(ModemSimTest, VoiceBeyondTheBufferWaitsAndDleCanSilencesAtOnce) {
    VoiceMode();
    modem.Ring(1, 4, "");
    Run(0);
    term->Read();
    term->Command("AT+VLS=1");
    ASSERT_EQ(term->Command("AT+VTX"), "\r\nCONNECT\r\n");
    term->Write(std::string(4000, 0x42));  // half a second at once
    Run(0);
    EXPECT_GE(modem.MostHeldBack(), 4000u - 2048u);  // the rest waits for room
    EXPECT_LE(modem.Heard().size(), 2048u);
    Run(0.4);  // all of it in the buffer by now, 0.1 s still to play
    term->Write(std::string{kDle, 0x18, kDle, kEtx});
    Run(0);
    EXPECT_EQ(term->Read(), "\r\nOK\r\n");  // nothing left to play: at once
    EXPECT_EQ(modem.PlayedUntil(), sim::Now());
    // What was heard is what had played: 0.4 s, not the half second sent.
    EXPECT_NEAR(static_cast<double>(modem.Heard().size()), 3200, 1);
}

TEST_F(ModemSimTest, EachFamilyListsItsFormatsAndDecodesByItsOwnCodes) {
    struct Case {
        modemsim::Family family;
        const char* firstLine;
        int code;
        uint8_t byte;
        int16_t heard;  // the byte as the family's code means it
    } cases[] = {
        {modemsim::Family::HostSoft, "1,\"UNSIGNED PCM\",8,0,(7200,8000),(0),(0)", 130, 0x42, (0x42 - 128) * 256},
        {modemsim::Family::HostSoft, nullptr, 128, 0x42, 0x42 * 256},
        {modemsim::Family::HostSoft, nullptr, 131, 0x42, sim::MuLawDecode(0x42)},
        {modemsim::Family::Controller, "1,\"UNSIGNED PCM\",8,0,(7200,8000,11025),(0),(0)", 130, 0x42, (0x42 - 128) * 256},
        {modemsim::Family::ALawLinear, "128,\"8-BIT LINEAR\",8,0,(8000),(0),(0)", 132, 0x42, sim::ALawDecode(0x42)},
        {modemsim::Family::Intel, "0,\"LIN1\",8,0,(4800,7200,8000,11025),(0),(0)", 140, 0x42, sim::ALawDecode(0x42)},
        {modemsim::Family::Intel, nullptr, 128, 0x42, 0x42 * 256},
    };
    for (const Case& c : cases) {
        modemsim::Options o;
        o.family = c.family;
        Restart(o);
        ASSERT_EQ(term->Command("AT+FCLASS=8"), "\r\nOK\r\n");
        std::string list = term->Command("AT+VSM=?");
        if (c.firstLine) {
            EXPECT_EQ(list.substr(0, list.find("\r\n", 2)), std::string("\r\n") + c.firstLine);
        }
        EXPECT_EQ(list.substr(list.size() - 6), "\r\nOK\r\n");
        EXPECT_EQ(term->Command("AT+VSM=" + std::to_string(c.code) + ",8000"), "\r\nOK\r\n") << c.code;
        modem.Ring(1, 4, "");
        Run(0);
        term->Read();
        term->Command("AT+VLS=1");
        ASSERT_EQ(term->Command("AT+VTX"), "\r\nCONNECT\r\n");
        term->Write(std::string(1, static_cast<char>(c.byte)));
        Run(0.001);
        EXPECT_EQ(modem.Heard(), std::vector<int16_t>{c.heard}) << c.code;
    }
    Restart(modemsim::Options());
    ASSERT_EQ(term->Command("AT+FCLASS=8"), "\r\nOK\r\n");
    EXPECT_EQ(term->Command("AT+VSM=129,8000"), "\r\nERROR\r\n");  // ADPCM: listed, not carried here
    // Intel's: named by ATI only, A-law from power-up, VCON for +VLS=1, and
    // method 1 two bytes a sample, unsigned.
    modemsim::Options intel;
    intel.family = modemsim::Family::Intel;
    Restart(intel);
    EXPECT_EQ(modem.VoiceFormat(), 140);
    EXPECT_EQ(term->Command("AT+FMI?"), "\r\nERROR\r\n");
    EXPECT_EQ(term->Command("ATI"), "\r\nMarlune SimVoice 537EP\r\n\r\nOK\r\n");
    ASSERT_EQ(term->Command("AT+FCLASS=8"), "\r\nOK\r\n");
    ASSERT_EQ(term->Command("AT+VSM=1,8000"), "\r\nOK\r\n");
    modem.Ring(1, 4, "");
    Run(0);
    term->Read();
    EXPECT_EQ(term->Command("AT+VLS=1"), "\r\nVCON\r\n");
    ASSERT_EQ(term->Command("AT+VTX"), "\r\nCONNECT\r\n");
    term->Write(std::string("\x00\x81", 2));
    Run(0.001);
    EXPECT_EQ(modem.Heard(), std::vector<int16_t>{0x100});
}
