#include <cmath>
#include <limits>
#include <set>

#include "control/front/automation.h"
#include "platform/code_page.h"
#include "tests/support/dispatch_cases.h"
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
    // There is no character sound index here: PlayStr raises a file error.
    Variant r = Variant::Long(5);
    ExcepInfo ex;
    EXPECT_EQ(Call("PlayStr", {Variant::String(u"你"), Variant::Long(1)}, &r, &ex), DISP_E_EXCEPTION);
    EXPECT_EQ(r.vt, VarType::Empty);  // no result
    EXPECT_EQ(static_cast<uint32_t>(ex.scode), 0x800A0035u);
    EXPECT_NE(ex.description.find(u"hanzi.dat"), std::u16string::npos);
    // Without an exception record the code is the same.
    EXPECT_EQ(Call("PlayStr", {Variant::String(u"你"), Variant::Long(1)}, &r, nullptr), DISP_E_EXCEPTION);
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

TEST_F(AutomationTest, LongsOutsideTheRangeAreAnOverflowAndTheMemberDoesNotRun) {
    MakeControl();
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (Variant big : {Variant::Double(2147483648.0), Variant::Double(4294967295.0), Variant::Double(-2147483649.0),
                        Variant::Double(1e300), Variant::Double(2147483647.5), Variant::Double(-2147483648.6),
                        Variant::Double(inf), Variant::Double(nan), Variant::String(u"2147483648"),
                        Variant::String(u"-1e10")}) {
        UINT argErr = 99;
        Variant r = Variant::Long(5);
        EXPECT_EQ(Call("InitLine", {big}, &r, nullptr, &argErr), DISP_E_OVERFLOW) << big.dblVal;
        EXPECT_EQ(argErr, 0u);
        EXPECT_EQ(r.vt, VarType::Empty);
        argErr = 99;
        EXPECT_EQ(Call("CallOut", {big, Variant::String(u"555")}, &r, nullptr, &argErr), DISP_E_OVERFLOW);
        EXPECT_EQ(argErr, 1u);
        argErr = 99;
        EXPECT_EQ(Call("OutID", {big}, nullptr, nullptr, &argErr, DISPATCH_PROPERTYPUT), DISP_E_OVERFLOW);
        EXPECT_EQ(argErr, 0u);
    }
    EXPECT_EQ(ctrl->m_outID, -1);
    // InitLine never ran: it would have logged the line's set-up.
    for (auto& text : LogTexts()) EXPECT_EQ(text.find("线路初始化"), std::string::npos) << text;
    // The edges themselves fit.
    EXPECT_EQ(Call("OutID", {Variant::Double(2147483647.0)}, nullptr, nullptr, nullptr, DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(ctrl->m_outID, 2147483647);
    EXPECT_EQ(Call("OutID", {Variant::Double(-2147483648.5)}, nullptr, nullptr, nullptr, DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(ctrl->m_outID, INT32_MIN);
}

TEST_F(AutomationTest, NumbersBooleansAndStringsConvertToLongAsVariantChangeTypeDoes) {
    MakeControl();
    auto put = [&](Variant v) -> HRESULT {
        ctrl->m_outID = 12345;
        return Call("OutID", {v}, nullptr, nullptr, nullptr, DISPATCH_PROPERTYPUT);
    };
    struct Case {
        Variant in;
        LONG out;
    };
    // Fractions round to the nearest integer, halves to the even one.
    for (const Case& c : {Case{Variant::Double(2.5), 2}, Case{Variant::Double(3.5), 4}, Case{Variant::Double(-2.5), -2},
                          Case{Variant::Double(-3.5), -4}, Case{Variant::Double(2.4999), 2},
                          Case{Variant::Double(2.5001), 3}, Case{Variant::Double(-0.4), 0},
                          Case{Variant::Bool(true), -1}, Case{Variant::Bool(false), 0}, Case{Variant::String(u"12"), 12},
                          Case{Variant::String(u" -3 "), -3}, Case{Variant::String(u"7.5"), 8},
                          Case{Variant::String(u"1e3"), 1000}, Case{Variant::String(u"+.5"), 0}, Case{Variant(), 0}}) {
        EXPECT_EQ(put(c.in), S_OK) << ToAnsi(c.in.bstrVal) << c.in.dblVal;
        EXPECT_EQ(ctrl->m_outID, c.out) << ToAnsi(c.in.bstrVal) << c.in.dblVal;
    }
    for (Variant bad : {Variant::String(u""), Variant::String(u"  "), Variant::String(u"12abc"), Variant::String(u"abc"),
                        Variant::String(u"True"), Variant::String(u"1e"), Variant::String(u"."), Variant::Null()}) {
        EXPECT_EQ(put(bad), DISP_E_TYPEMISMATCH) << ToAnsi(bad.bstrVal);
        EXPECT_EQ(ctrl->m_outID, 12345);
    }
}

TEST_F(AutomationTest, BooleanAndStringParametersConvertOrRefuseConsistently) {
    MakeControl();
    auto putBool = [&](Variant v) { return Call("MonitorDtmf", {v}, nullptr, nullptr, nullptr, DISPATCH_PROPERTYPUT); };
    EXPECT_EQ(putBool(Variant::Double(0.5)), S_OK);
    EXPECT_EQ(ctrl->m_monitorDtmf, TRUE);
    EXPECT_EQ(putBool(Variant::String(u"FALSE")), S_OK);
    EXPECT_EQ(ctrl->m_monitorDtmf, FALSE);
    EXPECT_EQ(putBool(Variant::String(u"true")), S_OK);
    EXPECT_EQ(ctrl->m_monitorDtmf, TRUE);
    EXPECT_EQ(putBool(Variant::String(u"0")), S_OK);
    EXPECT_EQ(ctrl->m_monitorDtmf, FALSE);
    EXPECT_EQ(putBool(Variant::Long(7)), S_OK);
    EXPECT_EQ(ctrl->m_monitorDtmf, TRUE);
    EXPECT_EQ(putBool(Variant::String(u"yes")), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(putBool(Variant::Null()), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(ctrl->m_monitorDtmf, TRUE);
    // A string parameter takes any number or boolean; null is refused.
    Variant r;
    UINT argErr = 99;
    EXPECT_EQ(Call("ChangeCall", {Variant::Long(1), Variant::Double(2.5)}, &r), S_OK);
    EXPECT_EQ(Call("ChangeCall", {Variant::Long(1), Variant::Bool(true)}, &r), S_OK);
    EXPECT_EQ(Call("ChangeCall", {Variant::Long(1), Variant::Null()}, &r, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
}

TEST(AutomationTable, ParameterAtNamesTheArgumentAnArgErrPointsAt) {
    DISPID id = 0;
    ASSERT_EQ(automation::GetIDOfName(std::string("RecordWav"), &id), S_OK);
    const MemberInfo& record = *automation::FindMember(id);
    EXPECT_STREQ(automation::ParameterAt(record, 3, 0).name, "Time");
    EXPECT_STREQ(automation::ParameterAt(record, 3, 1).name, "FileName");
    EXPECT_EQ(automation::ParameterAt(record, 3, 1).type, ParamType::String);
    EXPECT_STREQ(automation::ParameterAt(record, 3, 2).name, "Dev");
    EXPECT_EQ(automation::ParameterAt(record, 3, 3).type, ParamType::Void);  // out of range
    EXPECT_EQ(automation::ParameterAt(record, 2, 0).type, ParamType::Void);  // wrong count
    const MemberInfo& outId = *automation::FindMember(2);
    EXPECT_STREQ(automation::ParameterAt(outId, 1, 0).name, "OutID");
    EXPECT_EQ(automation::ParameterAt(outId, 1, 0).type, ParamType::Long);
}

TEST(CodePageHelper, ConvertsBetweenCodePagesThroughUtf16) {
    const std::string gbk = "\xCF\xDF\xC2\xB7";                  // 线路
    const std::string utf8 = "\xE7\xBA\xBF\xE8\xB7\xAF";          // 线路
    const std::string big5 = "\xC1\xC2\xC1\xC2\xB1\x7A";          // 謝謝您
    EXPECT_EQ(codepage::ToWide(936, gbk), u"线路");
    EXPECT_EQ(codepage::ToWide(CP_UTF8, utf8), u"线路");
    EXPECT_EQ(codepage::FromWide(936, u"线路"), gbk);
    EXPECT_EQ(codepage::FromWide(CP_UTF8, u"线路"), utf8);
    EXPECT_EQ(codepage::ToWide(950, big5), u"謝謝您");
    EXPECT_EQ(codepage::Convert(big5, 950, CP_UTF8), "\xE8\xAC\x9D\xE8\xAC\x9D\xE6\x82\xA8");
    EXPECT_EQ(codepage::Convert(utf8, CP_UTF8, CP_ACP), gbk);
    // Embedded zero bytes are kept: the length is explicit.
    EXPECT_EQ(codepage::ToWide(CP_UTF8, std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(codepage::FromWide(936, u"a\u0E01b"), "a?b");
    EXPECT_EQ(codepage::ToWide(936, ""), u"");
    EXPECT_EQ(codepage::FromWide(936, u""), "");
    EXPECT_EQ(codepage::ToWide(12345, "abc"), u"");  // unknown code page
    EXPECT_EQ(codepage::FromWide(12345, u"abc"), "");
}

namespace {

Variant Portable(const dispatch_cases::Arg& a) {
    using dispatch_cases::Kind;
    switch (a.kind) {
        case Kind::Long: return Variant::Long(static_cast<LONG>(a.number));
        case Kind::Double: return Variant::Double(a.number);
        case Kind::Float: return Variant::Float(static_cast<float>(a.number));
        case Kind::String: return Variant::String(a.text);
        case Kind::Bool: return Variant::Bool(a.number != 0);
        case Kind::Null: return Variant::Null();
        case Kind::Empty: return Variant();
        case Kind::Missing: return Variant::Missing();
        case Kind::Error: return Variant::Error(static_cast<SCODE>(a.number));
        case Kind::Array: return Variant::Of(VarType::Array);
        case Kind::Object: return Variant::Of(VarType::Object);
    }
    return Variant();
}

}  // namespace

// The same table runs through MARLUNE.OCX's IDispatch under Wine.
TEST_F(AutomationTest, ArgumentsConvertOrAreRefusedAsTheWindowsControlDoes) {
    MakeControl();
    int index = 0;
    for (const auto& c : dispatch_cases::Cases()) {
        SCOPED_TRACE(std::string(c.member) + " case " + std::to_string(index++));
        std::vector<Variant> args;
        for (const auto& a : c.args) args.push_back(Portable(a));
        UINT argErr = dispatch_cases::kArgErrUnset;
        Variant r;
        EXPECT_EQ(Call(c.member, args, &r, nullptr, &argErr, c.put ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD), c.hr);
        EXPECT_EQ(argErr, c.argErr);
        if (c.put) {
            EXPECT_EQ(Call(c.member, {}, &r, nullptr, nullptr, DISPATCH_PROPERTYGET), S_OK);
        }
        if (c.result != dispatch_cases::kNoResult) {
            EXPECT_EQ(r, Variant::Long(c.result));
        }
        const auto log = LogTexts();
        if (c.logged) {
            EXPECT_TRUE(Logged(log, c.logged)) << c.logged;
        }
        if (c.notLogged) {
            for (const auto& text : log) EXPECT_EQ(text.find(c.notLogged), std::string::npos) << text;
        }
    }
}
