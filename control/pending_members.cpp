// Members whose subsystem is not built yet. Each answers the automation
// call with a clear "not available yet" error instead of a made-up result;
// a subsystem removes its members from here when it defines them.
#include "control/marlune_ctrl.h"

LONG CMarluneCtrl::PlayStr(const std::string&, LONG) { RaiseNotAvailable("PlayStr"); }
LONG CMarluneCtrl::PlayTxtFile(const std::string&, LONG) { RaiseNotAvailable("PlayTxtFile"); }
LONG CMarluneCtrl::PlayAllisEnglish(const std::string&, LONG) { RaiseNotAvailable("PlayAllisEnglish"); }
LONG CMarluneCtrl::SendData(const std::string&) { RaiseNotAvailable("SendData"); }
LONG CMarluneCtrl::SendFile(const std::string&) { RaiseNotAvailable("SendFile"); }
