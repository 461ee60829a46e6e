// Members whose subsystem is not built yet. Each answers the automation
// call with a clear "not available yet" error instead of a made-up result;
// a subsystem removes its members from here when it defines them.
#include "control/marlune_ctrl.h"

LONG CMarluneCtrl::PlayWav(const std::string&, LONG) { RaiseNotAvailable("PlayWav"); }
LONG CMarluneCtrl::RecordWav(LONG, const std::string&, LONG) { RaiseNotAvailable("RecordWav"); }
LONG CMarluneCtrl::StopPlayWav() { RaiseNotAvailable("StopPlayWav"); }
LONG CMarluneCtrl::StopRecord() { RaiseNotAvailable("StopRecord"); }
LRESULT CMarluneCtrl::OnWomDone(WPARAM, LPARAM) { return 0; }
LRESULT CMarluneCtrl::OnWimOpen(WPARAM, LPARAM) { return 0; }
LRESULT CMarluneCtrl::OnWimData(WPARAM, LPARAM) { return 0; }

LONG CMarluneCtrl::PlayStr(const std::string&, LONG) { RaiseNotAvailable("PlayStr"); }
LONG CMarluneCtrl::PlayTxtFile(const std::string&, LONG) { RaiseNotAvailable("PlayTxtFile"); }
LONG CMarluneCtrl::PlayAllisEnglish(const std::string&, LONG) { RaiseNotAvailable("PlayAllisEnglish"); }
LONG CMarluneCtrl::SendData(const std::string&) { RaiseNotAvailable("SendData"); }
LONG CMarluneCtrl::SendFile(const std::string&) { RaiseNotAvailable("SendFile"); }
