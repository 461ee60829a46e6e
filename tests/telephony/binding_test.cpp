// Run-time binding of the telephony library: lazy, per function, cached,
// and LINEERR_OPERATIONUNAVAIL for what is missing.
#include "telephony/tapi_binding.h"

#include "telephony_fixture.h"

namespace {

constexpr LONG kUnavailable = static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);

class BindingTest : public TelephonyTest {};

TEST_F(BindingTest, NothingIsLoadedBeforeTheFirstTelephonyCall) {
    EXPECT_EQ(sim::LoadAttempts("TAPI32.DLL"), 0);
    EXPECT_EQ(ctrl->GetDtmf(), "");
    EXPECT_EQ(ctrl->GetOutID(1), -1);
    EXPECT_EQ(sim::LoadAttempts("TAPI32.DLL"), 0);
    ctrl->InitLine(0);
    EXPECT_EQ(sim::LoadAttempts("TAPI32.DLL"), 1);
    // Only the functions used so far are bound.
    EXPECT_NE(module->line.tapi.entry[kLineInitializeExA], nullptr);
    EXPECT_EQ(module->line.tapi.entry[kLineOpenA], nullptr);
}

TEST_F(BindingTest, WithoutTheLibraryEveryMethodFailsAndTheLibraryIsAskedForOnce) {
    vmodem_HideLibrary(1);
    MarkLog();
    EXPECT_EQ(ctrl->InitLine(0), "-1");
    EXPECT_EQ(NewLog(), Texts{});  // no failure text of its own

    MarkLog();
    EXPECT_EQ(ctrl->OpenLine(0), -1);
    EXPECT_EQ(NewLog(), (Texts{"线路句柄为空", "线路打开失败"}));

    EXPECT_EQ(ctrl->CloseLine(), kUnavailable);
    EXPECT_EQ(ctrl->AnswerTp(), -1);
    EXPECT_EQ(ctrl->BeginMonitorDtmf(0), -1);
    EXPECT_EQ(ctrl->CancelMonitor(0), -1);
    EXPECT_EQ(ctrl->HandUp(), 0);
    EXPECT_EQ(ctrl->GetOutID(0), -1);
    EXPECT_EQ(module->line.GetLineDeviceId(LINECALLSELECT_CALL, "wave/in"), -1);
    EXPECT_EQ(ctrl->CallOut(0, "5551234"), -2);
    EXPECT_EQ(sim::LoadAttempts("TAPI32.DLL"), 1);

    // Installing it later changes nothing for this module.
    vmodem_HideLibrary(0);
    EXPECT_EQ(ctrl->InitLine(0), "-1");
    EXPECT_EQ(sim::LoadAttempts("TAPI32.DLL"), 1);
    EXPECT_EQ(module->line.tapi.library, TapiUnavailableLibrary());
}

TEST_F(BindingTest, BindEntryReportsAMissingFunctionWithoutDisturbingOthers) {
    FARPROC slot = nullptr;
    EXPECT_EQ(module->line.tapi.Bind("lineNoSuchFunction", slot), kUnavailable);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(module->line.tapi.Bind("lineClose", slot), 0);
    EXPECT_NE(slot, nullptr);
    EXPECT_EQ(sim::LoadAttempts("TAPI32.DLL"), 1);
}

TEST_F(BindingTest, AMissingFunctionFailsOnlyTheMethodsThatUseIt) {
    vmodem_HideExport("lineMonitorDigits", 1);
    OpenDefaultLine();
    ConnectIncoming();
    MarkLog();
    EXPECT_EQ(ctrl->BeginMonitorDtmf(0), -1);
    EXPECT_EQ(NewLog(), Texts{"监视dtmf bad"});
    EXPECT_EQ(ctrl->GetOutID(0), 1);  // other functions still work
    EXPECT_EQ(module->line.tapi.entry[kLineMonitorDigits], TapiUnavailableEntry());

    // Unavailable for good, even once the export is back.
    vmodem_HideExport("lineMonitorDigits", 0);
    EXPECT_EQ(ctrl->CancelMonitor(0), -1);
    EXPECT_EQ(vmodem_CallCount("lineMonitorDigits"), 0);
    EXPECT_EQ(sim::LoadAttempts("TAPI32.DLL"), 1);
}

TEST_F(BindingTest, WrappersPassArgumentsAndResultsUnchanged) {
    OpenDefaultLine();
    vmodem_Refuse("lineClose", static_cast<LONG>(0x80001234));
    EXPECT_EQ(ctrl->CloseLine(), static_cast<LONG>(0x80001234));
    vmodem_Refuse("lineClose", 0);
    EXPECT_EQ(ctrl->CloseLine(), 0);
    EXPECT_EQ(vmodem_OpenLine(0), 0u);
}

}  // namespace
