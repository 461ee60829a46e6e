#include "control/front/destruction_notice.h"
#include "control/core/text_to_speech.h"
#include "platform/code_page.h"
#include "platform/sim/component.h"
#include "tests/support/test_env.h"

using testenv::RecordingSink;

class ControlObjectTest : public MarluneTest {};

TEST_F(ControlObjectTest, ConstructionResetsTheSharedListsButNotTheLine) {
    module->line.DtmfDigits = "12#";
    module->line.CallerNumber = "5551234";
    module->line.hCall = 77;
    module->playList.ThisF = 5;
    module->playList.ItemKinds = {"e", "wav/a.wav"};
    module->playList.ItemTexts = {"hello", ""};
    module->composer.DigitWords = {"一"};
    CMarluneCtrl c(*module);
    EXPECT_TRUE(module->core.log.enabled());
    EXPECT_EQ(module->line.DtmfDigits, "");
    EXPECT_EQ(module->playList.ThisF, 1);
    EXPECT_TRUE(module->playList.ItemKinds.empty());
    EXPECT_TRUE(module->playList.ItemTexts.empty());
    EXPECT_TRUE(module->composer.DigitWords.empty());
    EXPECT_EQ(module->line.CallerNumber, "5551234");
    EXPECT_EQ(module->line.hCall, 77u);
    ASSERT_NE(module->core.speech, nullptr);
    EXPECT_FALSE(module->core.speech->IsCreated());  // no window yet
    EXPECT_EQ(module->core.ActiveControl, nullptr);
}

TEST_F(ControlObjectTest, WindowCreationHostsTheSpeechEngineChildAndBecomesActive) {
    CMarluneCtrl& c = MakeControl();
    ASSERT_NE(c.GetSafeHwnd(), nullptr);
    EXPECT_EQ(module->core.ActiveControl, &c);
    ASSERT_TRUE(module->core.speech->IsCreated());
    sim::WindowInfo info;
    ASSERT_TRUE(sim::GetWindowInfo(module->core.speech->GetSafeHwnd(), &info));
    EXPECT_EQ(info.parent, c.GetSafeHwnd());
    EXPECT_EQ(info.style, 0x58000000u);
    EXPECT_EQ(info.childId, 1000u);
    EXPECT_EQ(info.text, "1");
    EXPECT_EQ(info.rect.right - info.rect.left, 0);
    EXPECT_EQ(info.rect.bottom - info.rect.top, 0);
}

class FailingFrameworkCtrl : public CMarluneCtrl {
public:
    using CMarluneCtrl::CMarluneCtrl;

protected:
    int FrameworkOnCreate(LPCREATESTRUCTA) override { return -1; }
};

TEST_F(ControlObjectTest, AFrameworkFailureEndsCreationWithoutSpeechOrActivation) {
    CMarluneCtrl& first = MakeControl();
    FailingFrameworkCtrl failing(*module);
    EXPECT_EQ(failing.CreateControlWindow(nullptr, RECT{0, 0, 10, 10}), nullptr);
    EXPECT_EQ(module->core.ActiveControl, &first);
    EXPECT_FALSE(module->core.speech->IsCreated());  // the new wrapper never got a window
}

TEST_F(ControlObjectTest, ASecondControlTakesOverEventsAndEmptiesTheSharedLists) {
    CMarluneCtrl& first = MakeControl();
    module->line.DtmfDigits = "9";
    module->playList.ItemKinds = {"e"};
    module->playList.ItemTexts = {"x"};
    CMarluneCtrl second(*module);
    EXPECT_EQ(module->line.DtmfDigits, "");
    EXPECT_TRUE(module->playList.ItemKinds.empty());
    EXPECT_EQ(module->core.ActiveControl, &first);  // until its window exists
    RecordingSink secondSink;
    second.Advise(&secondSink);
    second.CreateControlWindow(nullptr, RECT{0, 0, 10, 10});
    EXPECT_EQ(module->core.ActiveControl, &second);
    module->core.FireActive(EVENT_Ring, {Variant::Long(1)});
    EXPECT_EQ(secondSink.count(EVENT_Ring), 1);
    EXPECT_EQ(sink.count(EVENT_Ring), 0);
}

TEST_F(ControlObjectTest, DestructionShowsTheBig5NoticeOnceAndForgetsTheActiveControl) {
    MakeControl();
    module->line.DtmfDigits = "1";
    module->playList.ThisF = 3;
    module->composer.DigitWords = {"二"};
    ctrl.reset();
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    const auto& box = sim::MessageBoxes()[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(box.caption, kNoticeCaption);
    EXPECT_EQ(box.text, kNoticeText);
    // The caption reads 謝謝您!!!! in code page 950.
    EXPECT_EQ(codepage::ToWide(950, box.caption), u"謝謝您!!!!");
    EXPECT_EQ(module->core.ActiveControl, nullptr);
    EXPECT_EQ(module->line.DtmfDigits, "");
    EXPECT_EQ(module->playList.ThisF, 1);
    EXPECT_TRUE(module->composer.DigitWords.empty());
    EXPECT_EQ(sim::WindowCount(), 0u);  // the control's window and the speech child are gone
}

TEST_F(ControlObjectTest, DestroyingAControlThatNeverHadAWindowStillShowsTheNotice) {
    { CMarluneCtrl c(*module); }
    { CMarluneCtrl c(*module); }
    EXPECT_EQ(sim::MessageBoxes().size(), 2u);
}

TEST_F(ControlObjectTest, DestroyingAnInactiveControlLeavesTheActiveOneInPlace) {
    auto first = std::make_unique<CMarluneCtrl>(*module);
    first->CreateControlWindow(nullptr, RECT{0, 0, 10, 10});
    CMarluneCtrl& second = MakeControl();
    first.reset();
    EXPECT_EQ(module->core.ActiveControl, &second);
}

TEST_F(ControlObjectTest, DrawsTheIconOnlyInDesignMode) {
    CMarluneCtrl& c = MakeControl();
    RECT bounds{0, 0, 100, 50};
    {
        sim::RecordingDC dc;
        c.SetAmbientUserMode(false);
        c.OnDraw(dc.hdc(), bounds, bounds);
        const auto& ops = dc.ops();
        ASSERT_EQ(ops.size(), 5u);
        EXPECT_EQ(ops[0].op, "FillRect");
        EXPECT_EQ(ops[0].color, RGB(255, 255, 255));
        EXPECT_EQ(ops[1].op, "Ellipse");
        EXPECT_EQ(ops[1].rect.right, 100);
        EXPECT_EQ(ops[2].op, "FillRect");
        EXPECT_EQ(ops[2].color, GetSysColor(COLOR_BTNFACE));
        EXPECT_EQ(ops[2].rect.right, 100);
        EXPECT_EQ(ops[2].rect.bottom, 50);
        EXPECT_EQ(ops[3].op, "SetBkMode");
        EXPECT_EQ(ops[3].value, TRANSPARENT);
        EXPECT_EQ(ops[4].op, "DrawIcon");
        EXPECT_EQ(ops[4].value, 201);
        EXPECT_EQ(ops[4].rect.left, 10);
        EXPECT_EQ(ops[4].rect.top, 10);
    }
    {
        sim::RecordingDC dc;
        c.SetAmbientUserMode(true);
        c.OnDraw(dc.hdc(), bounds, bounds);
        ASSERT_EQ(dc.ops().size(), 4u);
        EXPECT_EQ(dc.ops().back().op, "SetBkMode");
    }
}

TEST_F(ControlObjectTest, AMissingIconDrawsNothingMore) {
    CMarluneCtrl& c = MakeControl();
    sim::SetModuleIcons({});
    sim::RecordingDC dc;
    c.SetAmbientUserMode(false);
    RECT bounds{0, 0, 40, 40};
    c.OnDraw(dc.hdc(), bounds, bounds);
    EXPECT_EQ(dc.ops().size(), 4u);
    sim::SetModuleIcons({201});
}

TEST_F(ControlObjectTest, MonitorDtmfPersistsWithTheVersionAndResetsToFalse) {
    CMarluneCtrl& c = MakeControl();
    c.m_monitorDtmf = TRUE;
    PropExchange::Bag bag;
    PropExchange save(bag, false);
    c.DoPropExchange(save);
    EXPECT_EQ(bag["_Version"].lVal, 0x00010000);
    EXPECT_EQ(bag["MonitorDtmf"], Variant::Bool(true));

    CMarluneCtrl other(*module);
    PropExchange load(bag, true);
    other.DoPropExchange(load);
    EXPECT_EQ(other.m_monitorDtmf, TRUE);
    DWORD version = 0;
    load.ExchangeVersion(version, 0x00020000, false);
    EXPECT_EQ(version, 0x00010000u);

    other.OnResetState();
    EXPECT_EQ(other.m_monitorDtmf, FALSE);

    PropExchange::Bag empty;
    PropExchange loadEmpty(empty, true);
    other.m_monitorDtmf = TRUE;
    other.DoPropExchange(loadEmpty);
    EXPECT_EQ(other.m_monitorDtmf, FALSE);  // the default
}

TEST_F(ControlObjectTest, EventsReachEverySinkInOrderDespiteAFailingOne) {
    CMarluneCtrl& c = MakeControl();  // `sink` is first
    RecordingSink failing, last;
    failing.answer = E_FAIL;
    c.Advise(&failing);
    DWORD lastCookie = c.Advise(&last);
    c.FireEvent(EVENT_Ring, {Variant::Long(3)});
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].dispid, EVENT_Ring);
    EXPECT_EQ(sink.events[0].args, std::vector<Variant>{Variant::Long(3)});
    EXPECT_EQ(failing.count(EVENT_Ring), 1);
    EXPECT_EQ(last.count(EVENT_Ring), 1);
    EXPECT_TRUE(c.Unadvise(lastCookie));
    EXPECT_FALSE(c.Unadvise(lastCookie));
    c.FireEvent(EVENT_CallIDIn, {});
    EXPECT_EQ(last.count(EVENT_CallIDIn), 0);
    EXPECT_EQ(sink.count(EVENT_CallIDIn), 1);
}

TEST_F(ControlObjectTest, EventStringsArriveAsUtf16) {
    MakeControl();
    module->line.OnDigit(42, "#");
    module->line.OnDigit(42, "一");
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[0].args[0], Variant::Long(42));
    EXPECT_EQ(sink.events[0].args[1], Variant::String(u"#"));
    EXPECT_EQ(sink.events[1].args[1], Variant::String(u"一"));
}

class ThrowingSink : public IEventSink {
public:
    HRESULT Invoke(DISPID, const std::vector<Variant>&) override { throw std::runtime_error("host failed"); }
};

TEST_F(ControlObjectTest, ASinkThatThrowsDoesNotStopTheOthers) {
    ThrowingSink bad;
    CMarluneCtrl c(*module);
    c.Advise(&bad);
    c.Advise(&sink);
    c.FireEvent(EVENT_LineIsFree, {Variant::Long(9)});
    EXPECT_EQ(sink.count(EVENT_LineIsFree), 1);
}

TEST_F(ControlObjectTest, TestStartsTheTimerAndTheFirstIdleTickEndsThePlayList) {
    CMarluneCtrl& c = MakeControl();
    EXPECT_EQ(c.Test(), 0);
    EXPECT_TRUE(sink.events.empty());  // nothing before the tick
    EXPECT_TRUE(sim::TimerRunning(c.GetSafeHwnd(), SpeechTimer));
    sim::RunFor(sim::kMilli);
    EXPECT_EQ(sink.dispids(), std::vector<DISPID>{EVENT_EndPlayAll});
    EXPECT_FALSE(sim::TimerRunning(c.GetSafeHwnd(), SpeechTimer));
    sim::RunFor(sim::kSecond);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    auto logs = LogTexts();
    ASSERT_GE(logs.size(), 2u);
    EXPECT_EQ(logs[logs.size() - 2], "放音完毕");
    EXPECT_EQ(logs.back(), "取得放音消息......所有缓冲放音完毕");
    EXPECT_EQ(module->playList.ThisF, 1);
}

TEST_F(ControlObjectTest, TestTwiceOnlyRestartsTheOneTimer) {
    CMarluneCtrl& c = MakeControl();
    c.Test();
    c.Test();
    sim::RunFor(10 * sim::kMilli);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
}

TEST_F(ControlObjectTest, BoardMethodsReturnZeroWhateverTheArguments) {
    CMarluneCtrl& c = MakeControl();
    EXPECT_EQ(c.ChangeCall(-5, "anything"), 0);
    EXPECT_EQ(c.listen(INT32_MIN, INT32_MAX), 0);
    EXPECT_EQ(c.InitSetCard(""), 0);
    EXPECT_EQ(c.MakeParty(123), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(c.GetDialogicVbus(), 0);
        EXPECT_EQ(c.GetDialogicNbus(), 0);
    }
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(ControlObjectTest, OutIDIsAPlainProperty) {
    CMarluneCtrl& c = MakeControl();
    EXPECT_EQ(c.m_outID, -1);
    c.m_outID = 1234;
    EXPECT_EQ(c.m_outID, 1234);
}
