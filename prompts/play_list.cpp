// The play-list sequencer: advances a list of sounds and English phrases
// on the device's done notifications and the speech poll timer.
#include "prompts/play_list.h"

#include <string>

#include "audio/playback.h"
#include "control/automation_error.h"
#include "control/marlune_ctrl.h"
#include "control/text_to_speech.h"

namespace {

constexpr UINT kHeaderSize = sizeof(WAVEHDR);

// Releases what a finished list holds: the items' sounds and, when the list
// ended on a played buffer, the device (reset, and closed: the one that
// returned the buffer, else the one last opened) and the playback header.
// A list that ended after a phrase has no device open, and a device that is
// open then belongs to someone else (a PlayWav during Test): left alone.
void ReleasePlayback(Module& m, HWAVEOUT out, bool releaseDevice) {
    PlaybackState& p = m.playback;
    m.playList.ReleaseSounds();
    if (!m.sound.owned) m.sound.Clear();
    if (!releaseDevice) return;
    waveOutReset(p.hWaveOut);
    MMRESULT closed = waveOutClose(out ? out : p.hWaveOut);
    // A device StopPlayWav has closed already is no failure.
    if (closed != MMSYSERR_NOERROR && closed != MMSYSERR_INVALHANDLE) m.WriteLog("free err");
    if (p.header) {
        if (out) waveOutUnprepareHeader(out, p.header, kHeaderSize);
        p.ReleaseHeader();
    }
}

void FireEnd(CMarluneCtrl& c, Module& m) {
    try {
        c.FireEndPlayAll();
    } catch (...) {
        m.WriteLog("FireEndPlayAll ERR");
    }
}

// The list has run out (or cannot go on): the pending text is played next,
// or everything is released and EndPlayAll fired.
void EndOfList(CMarluneCtrl& c, Module& m, HWAVEOUT out, bool releaseDevice) {
    PlayList& list = m.playList;
    m.WriteLog("取得放音消息......所有缓冲放音完毕");
    list.ItemKinds.clear();
    list.ItemTexts.clear();
    list.ThisF = 1;
    ReleasePlayback(m, out, releaseDevice);
    if (!list.PendingText.empty()) {
        m.WriteLog("还有等待放音的数据");
        const std::string text = list.PendingText;
        const LONG dev = list.PendingDev;
        list.PendingText.clear();
        try {
            c.PlayStr(text, dev);
            list.ThisF = 1;
            return;
        } catch (const AutomationError& e) {
            // Nothing was started: end as if nothing had been pending.
            m.WriteLog(e.what());
            list.ItemKinds.clear();
            list.ItemTexts.clear();
            list.ThisF = 1;
            list.ReleaseSounds();
        }
    }
    FireEnd(c, m);
}

}  // namespace

LONG SpeakEnglish(Module& m, HWND window, LONG device, const std::string& text) {
    m.WriteLog("开始说下列英语:");
    m.speech->SetDevice(device);
    m.WriteLog("完成设备设置");
    m.speech->Speak(text);
    m.WriteLog(text);
    SetTimer(window, SpeechTimer, SpeechTimerPeriod, nullptr);
    m.WriteLog("set timer ok!");
    return 0;
}

LRESULT CMarluneCtrl::OnWomDone(WPARAM wParam, LPARAM lParam) {
    Module& m = module_;
    PlayList& list = m.playList;
    auto out = reinterpret_cast<HWAVEOUT>(wParam);
    auto* header = reinterpret_cast<WAVEHDR*>(lParam);
    KillTimer(hwnd_, SpeechTimer);
    if (header) waveOutUnprepareHeader(out, header, kHeaderSize);
    m.WriteLog("单个播放完毕");
    if (list.ThisF >= 1 && list.ThisF < static_cast<LONG>(list.ItemKinds.size())) {
        const size_t k = static_cast<size_t>(list.ThisF);
        if (list.ItemKinds[k] == "e") {
            waveOutClose(out);
            // The closed device's header is done with; its data stays the list's.
            if (header == m.playback.header) m.playback.ReleaseHeader();
            m.WriteLog("英语继续...");
            try {
                SpeakEnglish(m, hwnd_, m.playback.deviceId, list.ItemTexts[k]);
            } catch (const AutomationError& e) {
                m.WriteLog(e.what());
                EndOfList(*this, m, nullptr, false);
                return 0;
            }
            ++list.ThisF;
            return 0;
        }
        if (list.lpWaveData1[k]) {
            m.WriteLog("汉字继续...");
            m.WriteLog(std::to_string(list.ThisF));
            m.sound.data = list.lpWaveData1[k];
            m.sound.dataSize = list.ItemSizes[k];
            m.sound.format = list.ItemFormats[k];
            m.sound.formatSize = list.ItemFormatSizes[k];
            m.sound.owned = false;
            ++list.ThisF;
            // A sound that cannot be queued brings no MM_WOM_DONE: end here.
            if (!WriteCurrentSound(m)) EndOfList(*this, m, out, true);
            return 0;
        }
        m.WriteLog("lpWaveData1[ThisF]==NULL");
    }
    EndOfList(*this, m, out, true);
    return 0;
}

void CMarluneCtrl::OnTimer(UINT_PTR) {
    Module& m = module_;
    PlayList& list = m.playList;
    LONG status = 0;
    try {
        status = m.speech->GetStatus();
    } catch (const AutomationError& e) {
        m.WriteLog(e.what());  // a broken engine must not keep the poll alive
    }
    if (status != 0) return;  // still speaking
    m.WriteLog("放音完毕");
    KillTimer(hwnd_, SpeechTimer);
    if (list.ThisF >= 1 && list.ThisF < static_cast<LONG>(list.ItemKinds.size())) {
        const size_t k = static_cast<size_t>(list.ThisF);
        const LONG device = m.playback.deviceId;
        if (list.ItemKinds[k] == "e") {
            try {
                SpeakEnglish(m, hwnd_, device, list.ItemTexts[k]);
            } catch (const AutomationError& e) {
                m.WriteLog(e.what());
                EndOfList(*this, m, nullptr, false);
                return;
            }
            m.WriteLog("英语继续...");
            ++list.ThisF;
            return;
        }
        // The device is reopened with the next sound item's own format.
        m.sound.format = list.ItemFormats[k];
        m.sound.formatSize = list.ItemFormatSizes[k];
        m.sound.owned = false;
        LONG opened = device == -1 ? OpenDefaultWaveOut(m, hwnd_) : OpenLineWaveOut(m, hwnd_, device);
        if (opened != 0) {
            m.WriteLog(device == -1 ? "取语音输出设备失败11!" : "取语音输出设备失败111!");
            waveOutReset(m.playback.hWaveOut);
            EndOfList(*this, m, nullptr, false);
            return;
        }
        OnWomDone(0, 0);
        return;
    }
    EndOfList(*this, m, nullptr, false);
}
