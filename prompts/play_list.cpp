// The play-list sequencer: advances a list of sounds and English phrases
// on the device's done notifications and the speech poll timer.
#include "control/marlune_ctrl.h"
#include "control/text_to_speech.h"

void CMarluneCtrl::OnTimer(UINT_PTR) {
    Module& m = module_;
    if (m.speech->GetStatus() != 0) return;  // still speaking
    m.WriteLog("放音完毕");
    KillTimer(hwnd_, SpeechTimer);
    PlayList& list = m.playList;
    // No item left: the list has ended.
    list.ThisF = 1;
    list.ItemKinds.clear();
    list.ItemTexts.clear();
    m.WriteLog("取得放音消息......所有缓冲放音完毕");
    FireEndPlayAll();
}
