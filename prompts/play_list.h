// The play-list sequencer: a list of prerecorded sounds and English phrases
// spoken one after the other, driven by the output device's buffer-done
// notifications and the speech poll timer. The composer fills the list and
// starts item 0; each finished item starts the next.
#pragma once

#include <string>
#include <vector>

#include "audio/playback.h"
#include "control/core.h"
#include "control/sound_buffer.h"

class PlaySequencer : public PlaybackClient {
public:
    static constexpr int MaxItems = 9999;

    PlaySequencer(Core& core, Playback& playback) : core_(core), playback_(playback) {}
    PlaySequencer(const PlaySequencer&) = delete;
    PlaySequencer& operator=(const PlaySequencer&) = delete;

    LONG ThisF = 1;                      // index of the next item to play
    std::vector<std::string> ItemKinds;  // "e" for English, else a sound path
    std::vector<std::string> ItemTexts;  // English text, "" for a sound
    std::vector<SoundRef> ItemSounds;    // per item: its sound (none for English)
    std::string PendingText;
    LONG PendingDev = 0;

    // ---- filling the list (the composer) -----------------------------
    // False when the list is full (MaxItems items).
    bool AddSound(const std::string& path, SoundRef sound);
    bool AddEnglish(const std::string& text);
    size_t ItemCount() const { return ItemKinds.size(); }
    // Starts item 0 on `device` (-1: the default device): a phrase is handed
    // to the speech engine, a sound is queued on a freshly opened device.
    // 0 when started; the open's result when the device would not open, -8
    // when the sound could not be queued (the list is ended then).
    LONG Start(ControlSite& site, LONG device);

    // Hands one phrase to the speech engine for `device` and starts the
    // poll timer. An error of the engine is raised as AutomationError.
    LONG SpeakEnglish(ControlSite& site, LONG device, const std::string& text);

    // Empties the list and forgets the pending text.
    void Clear();

    // ---- notifications -------------------------------------------------
    void OnBufferDone(ControlSite& site, HWAVEOUT out, bool stopped) override;
    void OnTimer(ControlSite& site);

    // What plays the pending text when a list ends; set by the composer.
    using PendingPlayer = LONG (*)(ControlSite& site, const std::string& text, LONG dev);
    PendingPlayer playPending = nullptr;

private:
    // Plays item ThisF (or ends the list), after a buffer came back on `out`
    // or after a phrase (out null).
    void PlayNext(ControlSite& site, HWAVEOUT out);
    void EndOfList(ControlSite& site, HWAVEOUT out);

    Core& core_;
    Playback& playback_;
};
