// The voice format from a modem's +VSM=? answer, as the command references
// of the common families print it, and the conversions both ways.
#include <gtest/gtest.h>

#include "peers/at_modem/voice_format.h"
#include "platform/sim/g711.h"

using namespace atmodem;

TEST(VoiceFormat, TheFormatIsChosenByNameFromTheModemsOwnList) {
    struct Case {
        const char* what;
        std::vector<std::string> list;
        int code;
        Coding coding;
    } cases[] = {
        {"host-processed soft modem (+VSM: prefix, ranges in parentheses)",
         {"+VSM: 1,\"UNSIGNED PCM\",8,0,(7200,8000),(0),(0)", "128,\"8-BIT LINEAR\",8,0,(7200,8000),(0),(0)",
          "129,\"ADPCM\",4,0,(7200,8000),(0),(0)", "130,\"UNSIGNED PCM\",8,0,(7200,8000),(0),(0)",
          "131,\"ULAW\",8,0,(7200,8000),(0),(0)", "132,\"ALAW\",8,0,(7200,8000),(0),(0)",
          "133,\"LINEAR\",16,0,(7200,8000),(0),(0)"},
         131, Coding::MuLaw},
        {"controller chipset: unsigned PCM and ADPCM only, bare rate",
         {"1,\"UNSIGNED PCM\",8,0,8000,0,0", "129,\"IMA ADPCM\",4,0,8000,0,0", "130,\"UNSIGNED PCM\",8,0,8000,0,00",
          "140,\"2 Bit ADPCM\",2,0,8000,0,0", "141,\"4 Bit ADPCM\",4,0,8000,0,0"},
         1, Coding::Unsigned8},
        {"A-law before linear",
         {"128,\"8-BIT LINEAR\",8,0,(8000),(0),(0)", "132,\"ALAW\",8,0,(8000),(0),(0)",
          "133,\"LINEAR\",16,0,(8000),(0),(0)"},
         132, Coding::ALaw},
        {"16-bit before 8-bit", {"128,\"8-BIT LINEAR\",8,0,(8000),(0),(0)", "133,\"LINEAR\",16,0,(7200-11025),(0),(0)"},
         133, Coding::Linear16},
        {"8-bit linear not named unsigned is signed", {"128,\"8-BIT LINEAR\",8,0,(7200,8000),(0),(0)"}, 128,
         Coding::Signed8},
        {"mu-law only at 7200 Hz is passed over",
         {"131,\"ULAW\",8,0,(7200),(0),(0)", "130,\"UNSIGNED PCM\",8,0,(8000),(0),(0)"}, 130, Coding::Unsigned8},
        {"Intel's list as a modem prints it: CL1 (A-law), never method 1 (16-bit unsigned)",
         {"0,\"LIN1\",8,0,(4800,7200,8000,11025),(0),(0)", "1,\"LIN2\",16,0,(4800,7200,8000,11025),(0),(0)",
          "2,\"AD4\",4,0,(4800,7200,8000,11025),(0),(0)", "128,\"LIN1\",8,0,(4800,7200,8000,11025),(0),(0)",
          "129,\"LIN2\",16,0,(4800,7200,8000,11025),(0),(0)", "132,\"AD4\",4,0,(4800,7200,8000,11025),(0),(0)",
          "140,\"CL1\",8,0,(4800,7200,8000,11025),(0),(0)", "141,\"AD3\",3,0,(4800,7200,8000,11025),(0),(0)"},
         140, Coding::ALaw},
        {"Intel's list with nothing after the bits",
         {"0,\"LIN1\",8", "1,\"LIN2\",16", "2,\"AD4\",4", "128,\"LIN1\",8", "129,\"LIN2\",16", "132,\"AD4\",4",
          "140,\"CL1\",8", "141,\"AD3\",3"},
         140, Coding::ALaw},
        {"Intel without CL1: LIN1, two's complement", {"1,\"LIN2\",16", "128,\"LIN1\",8", "2,\"AD4\",4"}, 128,
         Coding::Signed8},
        {"unknown names: the name's kind at a width that fits it",
         {"5,\"VOICE\",8", "6,\"LIN16\",16", "7,\"PCM8 UNSIGNED\",8"}, 6, Coding::Linear16},
        {"unknown names: an unsigned 16-bit one is passed over",
         {"5,\"UNSIGNED LINEAR\",16", "7,\"MY PCM\",8"}, 7, Coding::Signed8},
    };
    for (const Case& c : cases) {
        std::vector<Method> methods;
        VoiceFormat f;
        ASSERT_TRUE(ParseMethods(c.list, methods)) << c.what;
        ASSERT_TRUE(ChooseFormat(methods, f)) << c.what;
        EXPECT_EQ(f.code, c.code) << c.what;
        EXPECT_EQ(f.coding, c.coding) << c.what;
    }
}

TEST(VoiceFormat, NoFormatIsChosenWhoseListedWidthContradictsItsMeaning) {
    const std::vector<std::vector<std::string>> lists = {
        // Names known, widths that are not theirs.
        {"1,\"ULAW\",16,0,(8000),(0),(0)", "2,\"ALAW\",4,0,(8000),(0),(0)", "3,\"8-BIT LINEAR\",16,0,(8000),(0),(0)",
         "4,\"CL1\",16,0,(8000),(0),(0)", "5,\"LIN1\",16,0,(8000),(0),(0)", "6,\"16-BIT PCM\",8,0,(8000),(0),(0)"},
        // Unknown names: a kind that does not take the width, or no kind at all.
        {"1,\"LIN-X\",4,0,(8000),(0),(0)", "2,\"PCM\",12,0,(8000),(0),(0)", "3,\"VOICE\",8,0,(8000),(0),(0)",
         "4,\"LAW\",8,0,(8000),(0),(0)", "5,\"AD2\",8,0,(8000),(0),(0)", "6,\"UNSIGNED PCM\",16,0,(8000),(0),(0)"},
        // Intel's codes with nothing the library carries.
        {"1,\"LIN2\",16", "2,\"AD4\",4", "141,\"AD3\",3"},
    };
    for (const auto& list : lists) {
        std::vector<Method> methods;
        VoiceFormat f;
        ASSERT_TRUE(ParseMethods(list, methods)) << list.front();
        EXPECT_EQ(methods.size(), list.size());
        EXPECT_FALSE(ChooseFormat(methods, f)) << list.front() << ": chose " << f.code;
    }
}

TEST(VoiceFormat, AListThatDoesNotReadFallsBackToTheFamilysDocumentedList) {
    std::vector<Method> methods;
    EXPECT_FALSE(ParseMethods({"1;CELP;1;0;(9600)", "2;ADPCM;2;0;(9600)", "OK?"}, methods));
    VoiceFormat f;
    ASSERT_TRUE(ChooseFormat(DocumentedMethods("Marlune SimVoice RC56"), f));
    EXPECT_EQ(f.coding, Coding::Unsigned8);
    ASSERT_TRUE(ChooseFormat(DocumentedMethods("HSF 56K Data Fax Voice"), f));
    EXPECT_EQ(f.code, 131);
    EXPECT_EQ(f.coding, Coding::MuLaw);
    ASSERT_TRUE(ChooseFormat(DocumentedMethods("Intel 537EP V.92 Data Fax Voice"), f));
    EXPECT_EQ(f.code, 140);
    EXPECT_EQ(f.coding, Coding::ALaw);
    EXPECT_TRUE(DocumentedMethods("Some Modem 2000").empty());
}

TEST(VoiceFormat, SamplesGoBothWaysInEachCoding) {
    const int16_t samples[] = {0, 256, -256, 32512, -32768, 1000};
    struct Case {
        Coding coding;
        std::string bytes;  // what the modem takes for `samples`
    } cases[] = {
        {Coding::Unsigned8, std::string("\x80\x81\x7f\xff\x00\x83", 6)},
        {Coding::Signed8, std::string("\x00\x01\xff\x7f\x80\x03", 6)},
        {Coding::Linear16, std::string("\x00\x00\x00\x01\x00\xff\x00\x7f\x00\x80\xe8\x03", 12)},
        // G.711 reference points: 0 -> 0xFF (mu) / 0xD5 (A); full scale -> 0x80 / 0x2A
        {Coding::MuLaw, std::string("\xff\xe7\x67\x80\x00\xce", 6)},
        {Coding::ALaw, std::string("\xd5\xc5\x5a\xaa\x2a\xfa", 6)},
    };
    for (const Case& c : cases) {
        std::string bytes = EncodeSamples(c.coding, samples, 6);
        EXPECT_EQ(bytes, c.bytes) << CodingName(c.coding);
        // Back, in two pieces split inside a sample.
        std::string carry;
        std::vector<int16_t> back;
        DecodeBytes(c.coding, bytes.substr(0, 3), carry, back);
        DecodeBytes(c.coding, bytes.substr(3), carry, back);
        ASSERT_EQ(back.size(), 6u) << CodingName(c.coding);
        if (c.coding == Coding::Linear16) EXPECT_EQ(back, std::vector<int16_t>(samples, samples + 6));
        for (size_t i = 0; i < 6; ++i) EXPECT_NEAR(back[i], samples[i], 1024) << CodingName(c.coding) << " " << i;
    }
}
