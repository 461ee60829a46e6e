// PlayTxtFile and PlayAllisEnglish.
#include "tests/prompts/prompts_fixture.h"

namespace {

class TextFileTest : public PromptsTest {
protected:
    void SetUp() override {
        PromptsTest::SetUp();
        MakePack({{"你", "ni3"}, {"好", "hao3"}, {"一", "yi1"}, {"点", "dian3"}, {"零", "ling2"}});
    }
};

TEST_F(TextFileTest, TextModeReadDropsCarriageReturnsAndEndsAtCtrlZ) {
    wav::Save("t.txt", std::string("你\r\n好\r\r1\x1A一一一"));
    MarkLog();
    ASSERT_EQ(ctrl->PlayTxtFile("t.txt", 1), 0);
    auto log = NewLog();
    EXPECT_EQ(log.front(), "开始读给定文件...");
    ASSERT_GE(log.size(), 2u);
    // The text reaches PlayStr with LF for CR LF, lone CRs kept, and nothing after Ctrl-Z.
    EXPECT_EQ(log[1].substr(0, 9), "传入数据:");
    EXPECT_EQ(log[1].find("一一"), std::string::npos);
    EXPECT_NE(log[1].find("\r\r1"), std::string::npos);
    EXPECT_EQ(Kinds(), (Texts{"wav\\ni3.wav", "wav\\hao3.wav", "wav\\yi1.wav", "wav\\dian3.wav", "wav\\ling2.wav",
                              "wav\\ling2.wav"}));
    ASSERT_TRUE(RunToEnd());
}

TEST_F(TextFileTest, FilesThatCannotBeOpenedAndResultsPassedOn) {
    try {
        ctrl->PlayTxtFile("missing.txt", 1);
        FAIL() << "no error";
    } catch (const AutomationError& e) {
        EXPECT_EQ(static_cast<uint32_t>(e.code()), 0x800A0035u);
        EXPECT_NE(std::string(e.what()).find("missing.txt"), std::string::npos);
    }
    // A read-only file is read; a folder name is refused.
    wav::Save("ro.txt", "你");
    chmod("ro.txt", 0444);
    ASSERT_EQ(ctrl->PlayTxtFile("ro.txt", 1), 0);
    ASSERT_TRUE(RunToEnd());
    mkdir("dir.txt", 0777);
    EXPECT_THROW(ctrl->PlayTxtFile("dir.txt", 1), AutomationError);
    EXPECT_FALSE(module->playList.Busy());
    // PlayStr's failure is PlayTxtFile's result.
    sim::FailWave("waveOutOpen", MMSYSERR_ALLOCATED);
    EXPECT_EQ(ctrl->PlayTxtFile("ro.txt", 1), -2);
}

TEST_F(TextFileTest, PlayAllisEnglishHandsTheWholeTextOver) {
    MarkLog();
    ASSERT_EQ(ctrl->PlayAllisEnglish("Call 911 now", 1), 0);
    EXPECT_EQ(ctrl->m_outID, -1);
    EXPECT_EQ(NewLog(), (Texts{"开始说下列英语All:", "完成设备设置", "Call 911 now", "set timer ok!"}));
    EXPECT_TRUE(Kinds().empty()) << "the list is not touched";
    EXPECT_NE(module->core.speech->GetStatus(), 0);
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
}

}  // namespace
