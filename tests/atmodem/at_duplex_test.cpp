// Playing and recording at once: one +VTR stream both ways on a modem that
// offers it, the switch between +VTX and +VRX on one that does not.
#include <algorithm>

#include "control/front/module.h"
#include "tests/atmodem/line_fixture.h"

class AtDuplexTest : public LineTest {
protected:
    void Start(bool fullDuplex) {
        modemsim::Options o;
        o.fullDuplex = fullDuplex;
        caller = std::make_unique<AtCaller>(o);
        MakeControl();
        ctrl->InitLine(0);
        ASSERT_EQ(ctrl->OpenLine(0), 0);
        Run(0);
        Answer();
    }
    void Answer() {
        sink.events.clear();
        caller->modem.Ring(1, 4, "5551234");
        Run(0);
        ASSERT_EQ(ctrl->AnswerTp(), 0);
        Run(0);
        ASSERT_EQ(sink.count(EVENT_IsConnect), 1);
    }
    int Sent(const std::string& command) const {
        auto c = caller->modem.Commands();
        return static_cast<int>(std::count(c.begin(), c.end(), command));
    }
    // The recording's samples (mu-law, after the 46-byte header).
    static std::vector<int16_t> Recorded(const std::string& file) {
        std::string wav = testenv::ReadFile(file);
        std::vector<int16_t> v;
        for (size_t i = 46; i < wav.size(); ++i) v.push_back(sim::MuLawDecode(static_cast<uint8_t>(wav[i])));
        return v;
    }
    // `part` of `whole` (samples `from` to `to`) appears in `in` as it is.
    static bool Contains(const std::vector<int16_t>& in, const std::vector<int16_t>& whole, size_t from, size_t to) {
        return std::search(in.begin(), in.end(), whole.begin() + from, whole.begin() + to) != in.end();
    }
    // The caller speaks; the control records 2 s and plays a 1 s greeting
    // at the same time; the recording's end hangs up.
    void PlayAndRecord() {
        WritePcmWav("greeting.wav", greeting);
        caller->Say(words);
        ASSERT_EQ(ctrl->RecordWav(0, "both.wav", 2), 0);
        ASSERT_EQ(ctrl->PlayWav("greeting.wav", 0), 0);
        Run(3);
        EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
        EXPECT_EQ(sink.count(EVENT_EndRecord), 1);
        // The stream has ended: the modem took the hang-up.
        EXPECT_FALSE(caller->modem.OffHook());
        EXPECT_FALSE(Logged("线路关闭"));
    }

    std::unique_ptr<AtCaller> caller;
    const std::vector<int16_t> greeting = MuLawRamp(8000, 3), words = MuLawRamp(24000, 5);
};

TEST_F(AtDuplexTest, AFullDuplexModemCarriesThePromptAndTheCallersWordsAtOnce) {
    Start(true);
    EXPECT_EQ(Sent("AT+VTR=?"), 1);
    PlayAndRecord();
    EXPECT_EQ(Sent("AT+VTR"), 1);  // one stream both ways
    EXPECT_EQ(Sent("AT+VTX"), 0);
    EXPECT_EQ(Sent("AT+VRX"), 0);
    EXPECT_EQ(caller->Heard(), greeting);  // the whole prompt
    std::vector<int16_t> rec = Recorded("both.wav");
    ASSERT_EQ(rec.size(), 16000u);
    EXPECT_TRUE(Contains(rec, words, 1000, 14000));  // the caller while the prompt played and after
    // Keys during the duplex stream are still the caller's keys.
    Answer();
    ctrl->BeginMonitorDtmf(0);
    caller->Say(words);
    ASSERT_EQ(ctrl->RecordWav(0, "keys.wav", 2), 0);
    ASSERT_EQ(ctrl->PlayWav("greeting.wav", 0), 0);
    Run(0.5);
    caller->modem.Keys("8#");
    Run(0);
    EXPECT_EQ(ctrl->GetDtmf(), "8#");
    EXPECT_EQ(Sent("AT+VTR"), 2);
}

TEST_F(AtDuplexTest, AFullDuplexModemStillPlaysAndRecordsAloneWithItsOwnCommands) {
    Start(true);
    WritePcmWav("greeting.wav", greeting);
    ASSERT_EQ(ctrl->PlayWav("greeting.wav", 0), 0);
    Run(1.5);
    EXPECT_EQ(Sent("AT+VTX"), 1);
    EXPECT_EQ(caller->Heard(), greeting);
    caller->Say(words);
    ASSERT_EQ(ctrl->RecordWav(0, "alone.wav", 1), 0);
    Run(1.5);
    EXPECT_EQ(Sent("AT+VRX"), 1);
    EXPECT_EQ(Sent("AT+VTR"), 0);
    EXPECT_TRUE(Contains(Recorded("alone.wav"), words, 200, 7000));
}

TEST_F(AtDuplexTest, AHalfDuplexModemRecordsTheCallerAndDropsThePromptMeanwhile) {
    Start(false);
    EXPECT_EQ(Sent("AT+VTR=?"), 1);  // asked, refused
    PlayAndRecord();
    EXPECT_EQ(Sent("AT+VTR"), 0);
    EXPECT_EQ(Sent("AT+VRX"), 1);
    std::vector<int16_t> rec = Recorded("both.wav");
    ASSERT_EQ(rec.size(), 16000u);
    EXPECT_TRUE(Contains(rec, words, 1000, 14000));
    EXPECT_TRUE(caller->Heard().empty());  // the modem was receiving all along

    // The line's devices opened directly: a recording opened while the
    // output is open takes the line (DLE ETX, +VRX); what is played then
    // is not heard; when the input closes, +VTX resumes.
    Answer();
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    HWAVEOUT out = 0;
    HWAVEIN in = 0;
    ASSERT_EQ(waveOutOpen(&out, sim::kLineDevice, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<int16_t> parts[3] = {MuLawRamp(800, 7), MuLawRamp(800, 8), MuLawRamp(800, 9)};
    WAVEHDR headers[3] = {};
    auto play = [&](int i) {
        headers[i].lpData = reinterpret_cast<LPSTR>(parts[i].data());
        headers[i].dwBufferLength = static_cast<DWORD>(parts[i].size() * 2);
        ASSERT_EQ(waveOutPrepareHeader(out, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(out, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        Run(0);
    };
    play(0);
    EXPECT_EQ(Sent("AT+VTX"), 1);
    ASSERT_EQ(waveInOpen(&in, sim::kLineDevice, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Run(0.1);  // the modem plays out the 100 ms it holds, then +VTX ends
    EXPECT_EQ(Sent("AT+VRX"), 2);  // answered in command state: +VTX had ended
    play(1);
    ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    Run(0);
    EXPECT_EQ(Sent("AT+VTX"), 2);
    play(2);
    Run(0.5);
    std::vector<int16_t> heard = caller->modem.Heard();
    EXPECT_TRUE(Contains(heard, parts[0], 0, 800));
    EXPECT_FALSE(Contains(heard, parts[1], 0, 800));
    EXPECT_TRUE(Contains(heard, parts[2], 0, 800));
    waveOutReset(out);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(ctrl->HandUp(), 0);
    Run(0);
    EXPECT_FALSE(caller->modem.OffHook());
    EXPECT_FALSE(Logged("线路关闭"));
}
