// The automation members: each forwards to the subsystem that implements
// it.
#include "control/front/marlune_ctrl.h"

// ---- telephony --------------------------------------------------------------
std::string CMarluneCtrl::InitLine(LONG Index) { return module_.line.InitLine(Index); }
LONG CMarluneCtrl::OpenLine(LONG Index) {
    EnsureWindow();  // the line's notifications go to the ActiveControl
    return module_.line.OpenLine(Index);
}
LONG CMarluneCtrl::CloseLine() { return module_.line.CloseLine(); }
LONG CMarluneCtrl::GetOutID(LONG Dev) { return module_.line.GetOutID(Dev); }
LONG CMarluneCtrl::AnswerTp() { return module_.line.AnswerTp(); }
LONG CMarluneCtrl::HandUp() { return module_.line.HandUp(); }
std::string CMarluneCtrl::GetTPNO() { return module_.line.GetTPNO(); }
LONG CMarluneCtrl::CallOut(LONG Index, const std::string& szNumber) { return module_.line.CallOut(Index, szNumber); }
LONG CMarluneCtrl::BeginMonitorDtmf(LONG Index) { return module_.line.BeginMonitorDtmf(Index); }
LONG CMarluneCtrl::CancelMonitor(LONG Index) { return module_.line.CancelMonitor(Index); }
std::string CMarluneCtrl::GetDtmf() { return module_.line.GetDtmf(); }
LONG CMarluneCtrl::ClearDTMF(LONG Index) { return module_.line.ClearDTMF(Index); }

// ---- audio ------------------------------------------------------------------
LONG CMarluneCtrl::PlayWav(const std::string& FileName, LONG Dev) {
    EnsureWindow();
    return module_.playback.PlayWav(*this, FileName, Dev);
}

// Stopping ends a playing list and English being spoken too: the buffer the
// reset returns, or the poll that finds the speech ended, then ends playback
// with one EndPlayAll.
LONG CMarluneCtrl::StopPlayWav() {
    module_.playList.Clear();
    module_.core.speech->Stop();
    return module_.playback.StopPlayWav();
}

LONG CMarluneCtrl::RecordWav(LONG Dev, const std::string& FileName, LONG Time) {
    EnsureWindow();
    return module_.record.RecordWav(*this, Dev, FileName, Time);
}
LONG CMarluneCtrl::StopRecord() { return module_.record.StopRecord(); }

// ---- prompts ------------------------------------------------------------------
LONG CMarluneCtrl::Test() {
    EnsureWindow();
    SetTimer(hwnd_, SpeechTimer, SpeechTimerPeriod, nullptr);
    return 0;
}

LONG CMarluneCtrl::PlayStr(const std::string& PlayStr, LONG Dev) {
    EnsureWindow();
    return module_.composer.PlayStr(*this, PlayStr, Dev);
}
LONG CMarluneCtrl::PlayTxtFile(const std::string& FileName, LONG Dev) {
    EnsureWindow();
    return module_.composer.PlayTxtFile(*this, FileName, Dev);
}
LONG CMarluneCtrl::PlayAllisEnglish(const std::string& Str, LONG Dev) {
    EnsureWindow();
    return module_.composer.PlayAllisEnglish(*this, Str, Dev);
}

// ---- data link ------------------------------------------------------------------
LONG CMarluneCtrl::SendData(const std::string& SendStr) { return module_.datalink.SendData(SendStr); }
LONG CMarluneCtrl::SendFile(const std::string& FileName) { return module_.datalink.SendFile(FileName); }

// ---- the board functions of other line hardware ------------------------------
// Kept for hosts written against them. ChangeCall and listen share one
// implementation, as do InitSetCard and MakeParty.
LONG CMarluneCtrl::BoardNoOp2(LONG, const std::string&) { return 0; }
LONG CMarluneCtrl::BoardNoOp1() { return 0; }
LONG CMarluneCtrl::ChangeCall(LONG Index, const std::string& TpNumber) { return BoardNoOp2(Index, TpNumber); }
LONG CMarluneCtrl::listen(LONG BusChannnel1, LONG BusChannnel2) { return BoardNoOp2(BusChannnel1, std::string()); }
LONG CMarluneCtrl::InitSetCard(const std::string&) { return BoardNoOp1(); }
LONG CMarluneCtrl::MakeParty(LONG) { return BoardNoOp1(); }
LONG CMarluneCtrl::GetDialogicVbus() { return 0; }
LONG CMarluneCtrl::GetDialogicNbus() { return 0; }
