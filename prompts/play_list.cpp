// The play-list sequencer: advances a list of sounds and English phrases
// on the device's done notifications and the speech poll timer.
#include "prompts/play_list.h"

#include "control/core/automation_error.h"

bool PlaySequencer::AddSound(const std::string& path, SoundRef sound) {
    if (ItemKinds.size() >= static_cast<size_t>(MaxItems)) return false;
    ItemKinds.push_back(path);
    ItemTexts.emplace_back();
    ItemSounds.push_back(std::move(sound));
    return true;
}

bool PlaySequencer::AddEnglish(const std::string& text) {
    if (ItemKinds.size() >= static_cast<size_t>(MaxItems)) return false;
    ItemKinds.push_back("e");
    ItemTexts.push_back(text);
    ItemSounds.emplace_back();
    return true;
}

void PlaySequencer::EmptyItems() {
    ItemKinds.clear();
    ItemTexts.clear();
    ItemSounds.clear();
    ThisF = 1;
}

void PlaySequencer::Reset() {
    Clear();
    busy_ = false;
}

void PlaySequencer::Clear() {
    EmptyItems();
    PendingText.clear();
    queue.clear();
}

LONG PlaySequencer::SpeakEnglish(ControlSite& site, LONG device, const std::string& text) {
    core_.WriteLog("开始说下列英语:");
    core_.speech->SetDevice(device);
    core_.WriteLog("完成设备设置");
    core_.speech->Speak(text);
    core_.WriteLog(text);
    SetTimer(site.Window(), SpeechTimer, SpeechTimerPeriod, nullptr);
    core_.WriteLog("set timer ok!");
    return 0;
}

LONG PlaySequencer::Start(ControlSite& site, LONG device, bool line) {
    playback_.deviceId = device;
    ThisF = 1;
    if (ItemKinds.empty()) return 0;
    if (ItemKinds[0] == "e") {
        SpeakEnglish(site, device, ItemTexts[0]);
        busy_ = true;
        return 0;
    }
    playback_.sound = ItemSounds[0];
    bool opened = true;
    if (line) {
        if (playback_.OpenLineWaveOut(site.Window(), device) != 0) {
            core_.WriteLog("取语音输出设备失败1!");
            playback_.ResetLast();
            opened = false;
        }
    } else if (playback_.OpenDefaultWaveOut(site.Window()) != 0) {
        core_.WriteLog("取语音输出设备失败2!");
        playback_.ResetLast();
        EmptyItems();
        playback_.sound.reset();
        return -2;
    }
    // Without its own device the sound is not queued on another one.
    HWAVEOUT queued = nullptr;
    if (opened) {
        queued = playback_.WriteCurrentSound(this);
    } else {
        core_.WriteLog("设备未响应");
    }
    if (!queued) {
        // Nothing plays: the device this start opened goes again.
        EmptyItems();
        playback_.sound.reset();
        playback_.ReleaseIdle();
        return line ? -1 : -2;
    }
    busy_ = true;
    return 0;
}

void PlaySequencer::OnBufferDone(ControlSite& site, HWAVEOUT out, bool stopped) {
    KillTimer(site.Window(), SpeechTimer);
    // A stopped device ends the list: nothing after it is played.
    if (stopped) Clear();
    PlayNext(site, out);
}

void PlaySequencer::PlayNext(ControlSite& site, HWAVEOUT out) {
    if (ThisF >= 1 && ThisF < static_cast<LONG>(ItemKinds.size())) {
        const size_t k = static_cast<size_t>(ThisF);
        if (ItemKinds[k] == "e") {
            if (out) playback_.ReleaseOutput(out);
            core_.WriteLog("英语继续...");
            try {
                SpeakEnglish(site, playback_.deviceId, ItemTexts[k]);
            } catch (const AutomationError& e) {
                core_.WriteLog(e.what());
                EndOfList(site, nullptr);
                return;
            }
            ++ThisF;
            return;
        }
        if (ItemSounds[k]) {
            core_.WriteLog("汉字继续...");
            core_.WriteLog(std::to_string(ThisF));
            playback_.sound = ItemSounds[k];
            ++ThisF;
            // A sound that cannot be queued brings no MM_WOM_DONE: end here.
            if (!playback_.WriteCurrentSound(this)) EndOfList(site, out ? out : playback_.hWaveOut);
            return;
        }
        core_.WriteLog("lpWaveData1[ThisF]==NULL");
    }
    EndOfList(site, out);
}

void PlaySequencer::OnTimer(ControlSite& site) {
    LONG status = 0;
    try {
        status = core_.speech->GetStatus();
    } catch (const AutomationError& e) {
        core_.WriteLog(e.what());  // a broken engine must not keep the poll alive
    }
    if (status != 0) return;  // still speaking
    core_.WriteLog("放音完毕");
    KillTimer(site.Window(), SpeechTimer);
    if (ThisF >= 1 && ThisF < static_cast<LONG>(ItemKinds.size())) {
        const size_t k = static_cast<size_t>(ThisF);
        const LONG device = playback_.deviceId;
        if (ItemKinds[k] == "e") {
            try {
                SpeakEnglish(site, device, ItemTexts[k]);
            } catch (const AutomationError& e) {
                core_.WriteLog(e.what());
                EndOfList(site, nullptr);
                return;
            }
            core_.WriteLog("英语继续...");
            ++ThisF;
            return;
        }
        // The device is reopened with the next sound item's own format.
        playback_.sound = ItemSounds[k];
        LONG opened = device == -1 ? playback_.OpenDefaultWaveOut(site.Window())
                                   : playback_.OpenLineWaveOut(site.Window(), device);
        if (opened != 0) {
            core_.WriteLog(device == -1 ? "取语音输出设备失败11!" : "取语音输出设备失败111!");
            playback_.ResetLast();
            EndOfList(site, nullptr);
            return;
        }
        core_.WriteLog("单个播放完毕");
        PlayNext(site, nullptr);
        return;
    }
    EndOfList(site, nullptr);
}

// The list has run out (or cannot go on): what the device held is
// released, then the next text plays or EndPlayAll is fired.
void PlaySequencer::EndOfList(ControlSite& site, HWAVEOUT out) {
    core_.WriteLog("取得放音消息......所有缓冲放音完毕");
    EmptyItems();
    playback_.sound.reset();
    if (out) playback_.ReleaseOutput(out);
    Finish(site);
}

void PlaySequencer::Finish(ControlSite& site) {
    if (continuation && continuation(site)) return;
    busy_ = false;
    playback_.FireEndPlayAll(site);
}
