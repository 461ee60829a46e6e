#include <set>

#include "control/automation.h"
#include "tests/support/test_env.h"

using automation::Invoke;

class AutomationTest : public MarluneTest {
protected:
    HRESULT Call(const char* name, std::vector<Variant> args, Variant* result = nullptr, ExcepInfo* ex = nullptr,
                 UINT* argErr = nullptr, WORD flags = DISPATCH_METHOD) {
        DISPID id;
        HRESULT hr = automation::GetIDOfName(std::string(name), &id);
        if (FAILED(hr)) return hr;
        return Invoke(*ctrl, id, flags, args, result, ex, argErr);
    }
};

TEST(AutomationTable, HasTwoPropertiesTwentyEightMethodsAndElevenEvents) {
    int properties = 0, methods = 0;
    std::set<DISPID> ids;
    for (auto& m : automation::Members()) {
        (m.kind == MemberKind::Property ? properties : methods)++;
        EXPECT_TRUE(ids.insert(m.dispid).second) << m.name;
    }
    EXPECT_EQ(properties, 2);
    EXPECT_EQ(methods, 28);
    std::set<DISPID> expected;
    for (DISPID i = 1; i <= 31; ++i)
        if (i != 22) expected.insert(i);
    EXPECT_EQ(ids, expected);
    ASSERT_EQ(automation::Events().size(), 11u);
    for (size_t i = 0; i < automation::Events().size(); ++i)
        EXPECT_EQ(automation::Events()[i].dispid, static_cast<DISPID>(i + 1));
}

TEST(AutomationTable, KeepsTheNamesLetterForLetter) {
    auto m = [](DISPID id) { return automation::FindMember(id); };
    EXPECT_STREQ(m(1)->name, "MonitorDtmf");
    EXPECT_EQ(m(1)->result, ParamType::Bool);
    EXPECT_STREQ(m(5)->name, "AnswerTp");
    EXPECT_STREQ(m(6)->name, "GetTPNO");
    EXPECT_EQ(m(6)->result, ParamType::String);
    EXPECT_STREQ(m(12)->name, "ClearDTMF");
    EXPECT_STREQ(m(14)->name, "RecordWav");
    ASSERT_EQ(m(14)->params.size(), 3u);
    EXPECT_STREQ(m(14)->params[0].name, "Dev");
    EXPECT_STREQ(m(14)->params[1].name, "FileName");
    EXPECT_STREQ(m(14)->params[2].name, "Time");
    EXPECT_STREQ(m(17)->params[0].name, "PlayStr");
    EXPECT_STREQ(m(21)->name, "PlayAllisEnglish");
    EXPECT_STREQ(m(29)->params[0].name, "cannel");
    EXPECT_STREQ(m(30)->name, "listen");
    EXPECT_STREQ(m(30)->params[0].name, "BusChannnel1");
    EXPECT_STREQ(m(30)->params[1].name, "BusChannnel2");
    EXPECT_STREQ(m(31)->name, "StopRecord");
    EXPECT_EQ(automation::FindMember(22), nullptr);
    EXPECT_STREQ(automation::FindEvent(4)->name, "DtmfIn");
    EXPECT_STREQ(automation::FindEvent(4)->params[1].name, "DTMF");
    EXPECT_STREQ(automation::FindEvent(9)->params[0].name, "RingNumber");
}

TEST(AutomationTable, NamesResolveWithoutRegardToCase) {
    DISPID id = 0;
    EXPECT_EQ(automation::GetIDOfName(std::string("initline"), &id), S_OK);
    EXPECT_EQ(id, 3);
    EXPECT_EQ(automation::GetIDOfName(std::u16string(u"STOPRECORD"), &id), S_OK);
    EXPECT_EQ(id, 31);
    EXPECT_EQ(automation::GetIDOfName(std::string("Nope"), &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    EXPECT_EQ(automation::GetIDOfName(std::u16string(u"线路"), &id), DISP_E_UNKNOWNNAME);
}

TEST_F(AutomationTest, PropertiesReadAndWriteThroughDispatch) {
    MakeControl();
    Variant r;
    EXPECT_EQ(Call("MonitorDtmf", {}, &r, nullptr, nullptr, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(r, Variant::Bool(false));
    EXPECT_EQ(Call("MonitorDtmf", {Variant::Bool(true)}, nullptr, nullptr, nullptr, DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(ctrl->m_monitorDtmf, TRUE);
    EXPECT_EQ(Call("OutID", {Variant::Long(7)}, nullptr, nullptr, nullptr, DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(Call("OutID", {}, &r, nullptr, nullptr, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(r, Variant::Long(7));
    UINT argErr = 99;
    EXPECT_EQ(Call("OutID", {Variant::String(u"x")}, nullptr, nullptr, &argErr, DISPATCH_PROPERTYPUT),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(Call("OutID", {}, nullptr, nullptr, nullptr, DISPATCH_PROPERTYPUT), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call("OutID", {}, nullptr, nullptr, nullptr, DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND);
}

TEST_F(AutomationTest, MethodsCheckArgumentCountAndTypes) {
    MakeControl();
    Variant r;
    EXPECT_EQ(Call("ChangeCall", {Variant::Long(1)}, &r), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call("GetDialogicVbus", {Variant::Long(1)}, &r), DISP_E_BADPARAMCOUNT);
    UINT argErr = 99;
    // IDispatch counts argErr from the last argument.
    EXPECT_EQ(Call("ChangeCall", {Variant::String(u"one"), Variant::String(u"555")}, &r, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);
    EXPECT_EQ(Call("listen", {Variant::Long(1), Variant::String(u"x")}, &r, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    // Coercions automation performs: a numeric string to long, a long to string.
    EXPECT_EQ(Call("ChangeCall", {Variant::String(u"12"), Variant::Long(5551234)}, &r), S_OK);
    EXPECT_EQ(r, Variant::Long(0));
    EXPECT_EQ(Invoke(*ctrl, 22, DISPATCH_METHOD, {}, &r, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(*ctrl, 99, DISPATCH_METHOD, {}, &r, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
}

TEST_F(AutomationTest, TestAndTheBoardMethodsAnswerThroughDispatch) {
    MakeControl();
    Variant r;
    EXPECT_EQ(Call("Test", {}, &r), S_OK);
    EXPECT_EQ(r, Variant::Long(0));
    sim::RunFor(5 * sim::kMilli);
    EXPECT_EQ(sink.count(EVENT_EndPlayAll), 1);
    for (const char* name : {"GetDialogicVbus", "GetDialogicNbus"}) {
        EXPECT_EQ(Call(name, {}, &r), S_OK);
        EXPECT_EQ(r, Variant::Long(0));
    }
    EXPECT_EQ(Call("InitSetCard", {Variant::String(u"dxxxB1")}, &r), S_OK);
    EXPECT_EQ(r, Variant::Long(0));
    EXPECT_EQ(Call("MakeParty", {Variant::Long(3)}, &r), S_OK);
    EXPECT_EQ(r, Variant::Long(0));
}

TEST_F(AutomationTest, AMembersErrorBecomesDispExceptionWithCodeAndDescription) {
    MakeControl();
    // PlayStr belongs to a part this build does not have yet.
    Variant r = Variant::Long(5);
    ExcepInfo ex;
    EXPECT_EQ(Call("PlayStr", {Variant::String(u"AT"), Variant::Long(0)}, &r, &ex), DISP_E_EXCEPTION);
    EXPECT_EQ(r.vt, VarType::Empty);  // no result
    EXPECT_EQ(ex.scode, E_NOTIMPL);
    EXPECT_NE(ex.description.find(u"PlayStr"), std::u16string::npos);
    EXPECT_NE(ex.description.find(u"not available yet"), std::u16string::npos);
    // Without an exception record the code is the same.
    EXPECT_EQ(Call("PlayStr", {Variant::String(u"AT"), Variant::Long(0)}, &r, nullptr), DISP_E_EXCEPTION);
}

TEST(AutomationText, ConvertsBetweenUtf16AndGbk) {
    EXPECT_EQ(ToAnsi(u"线路打开成功"), "线路打开成功");  // GBK literal in this file
    EXPECT_EQ(ToAnsi(u"线路打开成功").size(), 12u);
    EXPECT_EQ(FromAnsi("您的余额是12.5元"), u"您的余额是12.5元");
    EXPECT_EQ(ToAnsi(u""), "");
    EXPECT_EQ(FromAnsi(""), u"");
    // A character GBK cannot hold becomes '?', never a dropped byte sequence.
    EXPECT_EQ(ToAnsi(u"a\u0E01b"), "a?b");
}
