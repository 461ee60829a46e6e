// The play-list sequencer: a list of prerecorded sounds and English phrases
// spoken one after the other, driven by the output device's buffer-done
// notifications and the speech poll timer. The composer fills the list and
// starts item 0; each finished item starts the next.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "audio/playback.h"
#include "control/core/core.h"
#include "control/core/sound_buffer.h"

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
    std::string PendingText;  // the rest of a text that did not fit
    LONG PendingDev = 0;

    // Texts asked for while something plays, spoken in call order when it
    // has ended: a composed text, or a whole phrase for the speech engine.
    struct Queued {
        bool english = false;
        std::string text;
        LONG dev = 0;
    };
    std::deque<Queued> queue;

    // ---- filling the list (the composer) -----------------------------
    // False when the list is full (MaxItems items).
    bool AddSound(const std::string& path, SoundRef sound);
    bool AddEnglish(const std::string& text);
    size_t ItemCount() const { return ItemKinds.size(); }
    // Starts item 0 on output device `device` (-1: the default device; `line`
    // when the caller asked for the call's device): a phrase is handed to the
    // speech engine, a sound is queued on a freshly opened device. 0 when
    // started; -1 (the line) or -2 (the default device) when the sound could
    // not be queued: the list is emptied and what was opened released, and
    // the caller ends it (Finish) or goes on with the next text.
    LONG Start(ControlSite& site, LONG device, bool line);
    // Something plays (a list, or a phrase of the whole-English call).
    bool Busy() const { return busy_; }
    void MarkBusy() { busy_ = true; }
    // The end of everything that played: the continuation may start the
    // next text; otherwise EndPlayAll is fired.
    void Finish(ControlSite& site);

    // Hands one phrase to the speech engine for `device` and starts the
    // poll timer. An error of the engine is raised as AutomationError.
    LONG SpeakEnglish(ControlSite& site, LONG device, const std::string& text);

    // Empties the list (ThisF back to 1).
    void EmptyItems();
    // Empties the list and forgets the pending and queued texts.
    void Clear();
    // Clear, and nothing plays any more (the control that played is gone).
    void Reset();

    // ---- notifications -------------------------------------------------
    void OnBufferDone(ControlSite& site, HWAVEOUT out, bool stopped) override;
    void OnTimer(ControlSite& site);

    // Called when a list or phrase has ended: starts the pending or next
    // queued text and answers true, or answers false when nothing started.
    std::function<bool(ControlSite&)> continuation;

private:
    // Plays item ThisF (or ends the list), after a buffer came back on `out`
    // or after a phrase (out null).
    void PlayNext(ControlSite& site, HWAVEOUT out);
    void EndOfList(ControlSite& site, HWAVEOUT out);

    Core& core_;
    Playback& playback_;
    bool busy_ = false;
};
