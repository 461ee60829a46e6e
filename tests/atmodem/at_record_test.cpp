// Recording the caller over the AT modem's line device, buffer after
// buffer: every sample the modem sends for a buffer's time is in that
// buffer, and a rate other than the line's joins the buffers without an
// edge.
#include <cmath>

#include "tests/atmodem/line_fixture.h"

namespace {

// Records the line, opened in 16-bit mono at `rate` (mapped), in buffers of
// `lengths` frames one after the other, from now.
std::vector<int16_t> RecordLine(DWORD rate, const std::vector<size_t>& lengths) {
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, rate, rate * 2, 2, 16, 0};
    HWAVEIN h = nullptr;
    EXPECT_EQ(waveInOpen(&h, sim::kLineDevice, &f, 0, 0, WAVE_MAPPED), MMSYSERR_NOERROR);
    if (!h) return {};
    size_t total = 0;
    for (size_t n : lengths) total += n;
    std::vector<int16_t> samples(total);
    std::vector<WAVEHDR> headers(lengths.size());
    for (size_t i = 0, at = 0; i < lengths.size(); at += lengths[i++]) {
        headers[i].lpData = reinterpret_cast<LPSTR>(samples.data() + at);
        headers[i].dwBufferLength = static_cast<DWORD>(lengths[i] * 2);
        waveInPrepareHeader(h, &headers[i], sizeof(WAVEHDR));
        waveInAddBuffer(h, &headers[i], sizeof(WAVEHDR));
    }
    EXPECT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    sim::RunFor(static_cast<sim::Micros>(total) * sim::kSecond / rate + 400 * sim::kMilli);
    for (auto& hdr : headers) {
        EXPECT_TRUE(hdr.dwFlags & WHDR_DONE);
        EXPECT_EQ(hdr.dwBytesRecorded, hdr.dwBufferLength);
        waveInUnprepareHeader(h, &hdr, sizeof(WAVEHDR));
    }
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    return samples;
}

}  // namespace

class AtRecordTest : public LineTest {
protected:
    // A call answered on a modem that carries 16-bit linear (the samples
    // arrive exactly as said), in the modem's 20 ms pieces.
    void Connect() {
        modemsim::Options o;
        o.family = modemsim::Family::ALawLinear;
        o.vsmList = {"133,\"LINEAR\",16,0,(8000),(0),(0)"};
        caller = std::make_unique<AtCaller>(o);
        MakeControl();
        ctrl->InitLine(0);
        ASSERT_EQ(ctrl->OpenLine(0), 0);
        Run(1);
        caller->Call(1, 4, "5551234");
        Run(1);
        ASSERT_EQ(ctrl->AnswerTp(), 0);
        Run(1);
        ASSERT_EQ(caller->modem.VoiceFormat(), 133);
    }
    // Where the modem's stream began: the recording's first sample heard.
    static size_t FirstHeard(const std::vector<int16_t>& rec) {
        size_t i = 0;
        while (i < rec.size() && rec[i] == 0) ++i;
        return i;
    }
    std::unique_ptr<AtCaller> caller;
};

TEST_F(AtRecordTest, EveryBufferHoldsTheCallerUpToItsLastSampleAt8Kilohertz) {
    Connect();
    // The caller never pauses: no sample of what is said is 0.
    std::vector<int16_t> said(16000);
    for (size_t i = 0; i < said.size(); ++i) said[i] = static_cast<int16_t>(1000 + (i * 37) % 20000);
    caller->Say(said);
    // Buffer ends that fall on the modem's 20 ms pieces and between them.
    const std::vector<size_t> lengths = {1600, 1650, 1530, 1600, 1613};
    const std::vector<int16_t> rec = RecordLine(8000, lengths);
    const size_t first = FirstHeard(rec);
    ASSERT_LT(first, 400u) << "the stream did not start";
    size_t end = 0, lost = 0;
    for (size_t b = 0; b < lengths.size(); ++b) {
        end += lengths[b];
        size_t zeros = 0;
        for (size_t i = std::max(first, end - 200); i < end; ++i) zeros += rec[i] == 0;
        EXPECT_EQ(zeros, 0u) << "the last samples of buffer " << b << " are missing";
        lost += zeros;
    }
    for (size_t i = first; i < rec.size(); ++i)
        if (rec[i] != said[i]) {
            ADD_FAILURE() << "sample " << i << " is " << rec[i] << ", said " << said[i] << " (" << lost << " lost)";
            break;
        }
}

TEST_F(AtRecordTest, BuffersAtAnotherRateJoinWithoutAnEdge) {
    Connect();
    const double pi = std::acos(-1.0);
    std::vector<int16_t> said(24000);
    for (size_t i = 0; i < said.size(); ++i) said[i] = static_cast<int16_t>(std::lround(8000 * std::sin(2 * pi * 440 * i / 8000.0)));
    caller->Say(said);
    // 11025 Hz in buffers of lengths that are no whole number of line samples.
    const std::vector<size_t> lengths = {2205, 1999, 2711, 2205, 3001, 2205};
    const std::vector<int16_t> rec = RecordLine(11025, lengths);
    const size_t first = FirstHeard(rec);
    ASSERT_LT(first, 600u) << "the stream did not start";
    // From 20 ms after the stream started (its own start is an edge) to the
    // end, the tone as said, at the new rate.
    double worst = 0;
    size_t at = 0;
    for (size_t i = first + 220; i < rec.size(); ++i) {
        const double want = 8000 * std::sin(2 * pi * 440 * static_cast<double>(i) / 11025.0);
        if (std::abs(rec[i] - want) > worst) worst = std::abs(rec[i] - want), at = i;
    }
    size_t join = 0;
    for (size_t b = 0, end = 0; b < lengths.size(); ++b)
        if ((end += lengths[b]) <= at) join = end;
    EXPECT_LT(worst, 40) << "at sample " << at << ", " << at - join << " after the buffer join at " << join;
}
