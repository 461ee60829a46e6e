// The RIFF/WAVE module: canonical headers, parsing with every size taken
// as a claim, whole files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/riff_wave.h"
#include "tests/support/audio_fixture.h"

namespace {

std::string Str(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

bool ParseBytes(const std::string& bytes, riff::WaveInfo& info) { return riff::Parse(bytes.data(), bytes.size(), info); }

TEST(RiffHeader, MuLawWithEighteenByteFormatIsFortySixBytes) {
    const WAVEFORMATEX mulaw{WAVE_FORMAT_MULAW, 1, 8000, 8000, 1, 8, 0};
    const DWORD n = 40000;
    std::string h = Str(riff::Header(mulaw, 18, n));
    std::string expected = "RIFF" + wav::U32(n + 38) + "WAVE" + "fmt " + wav::U32(18) + wav::Fmt(7, 1, 8000, 8) +
                           wav::U16(0) + "data" + wav::U32(n);
    EXPECT_EQ(h.size(), 46u);
    EXPECT_EQ(h, expected);
}

TEST(RiffHeader, SixteenByteFormatAndSizesNearTheLimit) {
    std::string h = Str(riff::Header(riff::Pcm16Format(22050), 16, 1000));
    EXPECT_EQ(h, "RIFF" + wav::U32(1036) + "WAVE" + "fmt " + wav::U32(16) + wav::Fmt(1, 1, 22050, 16) + "data" +
                     wav::U32(1000));
    // Any other fmt size falls back to the 16-byte record.
    EXPECT_EQ(riff::Header(riff::Pcm16Format(8000), 40, 0).size(), 44u);
    // The RIFF size saturates instead of wrapping.
    std::string big = Str(riff::Header(riff::Pcm16Format(8000), 16, 0xFFFFFFF0u));
    EXPECT_EQ(big.substr(4, 4), wav::U32(0xFFFFFFFFu));
    EXPECT_EQ(big.substr(40, 4), wav::U32(0xFFFFFFF0u));
}

TEST(RiffParse, FindsFormatAndDataPastOtherChunksAndPadBytes) {
    std::string samples = wav::Pcm16({1, 2, 3});
    std::string bytes = wav::Riff("WAVE", wav::Chunk("LIST", "odd") + wav::Chunk("fmt ", wav::Fmt(1, 2, 44100, 16)) +
                                              wav::Chunk("junk", "x") + wav::Chunk("data", samples));
    riff::WaveInfo info;
    ASSERT_TRUE(ParseBytes(bytes, info));
    EXPECT_EQ(info.format.nChannels, 2);
    EXPECT_EQ(info.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(info.fmtSize, 16u);
    EXPECT_EQ(info.dataSize, 6u);
    EXPECT_EQ(info.dataClaim, 6u);
    EXPECT_EQ(bytes.substr(static_cast<size_t>(info.dataOffset), info.dataSize), samples);
}

TEST(RiffParse, RefusesWhatIsNotAWave) {
    riff::WaveInfo info;
    EXPECT_FALSE(ParseBytes("", info));
    EXPECT_FALSE(ParseBytes("RIFF1234", info));
    EXPECT_FALSE(ParseBytes(wav::Riff("AVI ", wav::Chunk("data", "ab")), info));
    EXPECT_FALSE(ParseBytes(wav::Riff("WAVE", wav::Chunk("data", "ab")), info)) << "no format";
    EXPECT_FALSE(ParseBytes(wav::Riff("WAVE", wav::Chunk("fmt ", "short") + wav::Chunk("data", "ab")), info));
    EXPECT_FALSE(ParseBytes(wav::Riff("WAVE", wav::Chunk("fmt ", wav::Fmt(1, 1, 8000, 16))), info)) << "no data";
    EXPECT_FALSE(riff::Parse(nullptr, 100, info));
}

TEST(RiffParse, HostileSizesAreClaimsBoundedByTheBytesThere) {
    const std::string fmt = wav::Chunk("fmt ", wav::Fmt(1, 1, 8000, 16));
    riff::WaveInfo info;
    // A data chunk claiming 4 GiB holds what the image holds.
    std::string huge = wav::Riff("WAVE", fmt) + "data" + wav::U32(0xFFFFFFFFu) + std::string(10, 'd');
    ASSERT_TRUE(ParseBytes(huge, info));
    EXPECT_EQ(info.dataClaim, 0xFFFFFFFFu);
    EXPECT_EQ(info.dataSize, 10u);
    // A chunk before the format claiming 0xFFFFFFFF: the walk ends, no wrap.
    std::string skip = wav::Riff("WAVE", "junk" + wav::U32(0xFFFFFFFFu) + fmt + wav::Chunk("data", "ab"));
    EXPECT_FALSE(ParseBytes(skip, info));
    // Sizes that would wrap a 32-bit position back to the start.
    std::string wrap = wav::Riff("WAVE", "junk" + wav::U32(0xFFFFFFF0u) + fmt + wav::Chunk("data", "ab"));
    EXPECT_FALSE(ParseBytes(wrap, info));
    // A format that claims more than is there.
    std::string cut = wav::Riff("WAVE", "fmt " + wav::U32(0xFFFFFFFEu) + wav::Fmt(1, 1, 8000, 16));
    EXPECT_FALSE(ParseBytes(cut, info));
    // A RIFF size of 0 is only a claim too.
    std::string zero = "RIFF" + wav::U32(0) + "WAVE" + fmt + wav::Chunk("data", "abcd");
    ASSERT_TRUE(ParseBytes(zero, info));
    EXPECT_EQ(info.dataSize, 4u);
}

class RiffFileTest : public MarluneTest {};

TEST_F(RiffFileTest, ReadFileAllocatesNoMoreThanTheFileHolds) {
    std::string bytes = wav::Riff("WAVE", wav::Chunk("fmt ", wav::Fmt(7, 1, 8000, 8))) + "data" +
                        wav::U32(0xFFFFFFFFu) + std::string(333, '\x80');
    wav::Save("h.wav", bytes);
    riff::WaveInfo info;
    std::vector<uint8_t> data;
    ASSERT_TRUE(riff::ReadFile("h.wav", info, data));
    EXPECT_EQ(data.size(), 333u);
    EXPECT_LT(data.capacity(), bytes.size());
    EXPECT_EQ(info.format.wFormatTag, WAVE_FORMAT_MULAW);
    EXPECT_FALSE(riff::ReadFile("missing.wav", info, data));
    wav::Save("bad.wav", "RIFF....WAVEjunk");
    EXPECT_FALSE(riff::ReadFile("bad.wav", info, data));
}

TEST_F(RiffFileTest, WriteFileRoundTripsAndReportsFailure) {
    const WAVEFORMATEX mulaw{WAVE_FORMAT_MULAW, 1, 8000, 8000, 1, 8, 0};
    std::string body = "\x01\x02\x03\x04\x05";
    ASSERT_TRUE(riff::WriteFile("w.wav", mulaw, 18, body.data(), static_cast<DWORD>(body.size())));
    std::string file = testenv::ReadFile("w.wav");
    EXPECT_EQ(file, Str(riff::Header(mulaw, 18, 5)) + body);
    riff::WaveInfo info;
    std::vector<uint8_t> data;
    ASSERT_TRUE(riff::ReadFile("w.wav", info, data));
    EXPECT_EQ(info.fmtSize, 18u);
    EXPECT_EQ(Str(data), body);
    EXPECT_FALSE(riff::WriteFile("no/such/dir/w.wav", mulaw, 18, body.data(), 5));
}

}  // namespace
