// Speaking text: PlayStr composes a GBK text into a play list (numbers read
// as Chinese words, each Chinese character one prerecorded sound found
// through the character sound index, each run of letters an English phrase)
// and starts it; PlayTxtFile speaks a text file the same way;
// PlayAllisEnglish hands a whole text to the speech engine. A text asked for
// while something plays is queued and spoken when that has ended.
#pragma once

#include <string>
#include <vector>

#include "audio/playback.h"
#include "control/core/core.h"
#include "prompts/play_list.h"
#include "prompts/sound_index.h"
#include "telephony/line.h"

class TextComposer {
public:
    TextComposer(Core& core, Line& line, Playback& playback, PlaySequencer& list);
    TextComposer(const TextComposer&) = delete;
    TextComposer& operator=(const TextComposer&) = delete;

    std::vector<std::string> DigitWords;

    // ---- automation members ------------------------------------------
    LONG PlayStr(ControlSite& site, const std::string& text, LONG Dev);
    LONG PlayTxtFile(ControlSite& site, const std::string& FileName, LONG Dev);
    LONG PlayAllisEnglish(ControlSite& site, const std::string& Str, LONG Dev);

    std::string GetSoundName(const std::string& character) { return index_.GetSoundName(character); }
    // The text after the number pass: every number run replaced by its reading.
    std::string ReadNumbers(const std::string& text);

private:
    LONG ChooseDevice(ControlSite& site, LONG Dev);
    // Composes `text` into the (idle) play list and starts item 0. `started`
    // tells whether something now plays.
    LONG Compose(ControlSite& site, const std::string& text, LONG Dev, bool& started);
    // Fills the list from `text`; the rest that does not fit becomes the
    // pending text.
    void Segment(const std::string& text, LONG Dev);
    bool AddSoundItem(const std::string& character);
    void SpeakAll(ControlSite& site, const std::string& Str, LONG Dev);
    // The sequencer's continuation: the pending text, then the queue.
    bool PlayNextQueued(ControlSite& site);

    Core& core_;
    Line& line_;
    Playback& playback_;
    PlaySequencer& list_;
    SoundIndex index_;
};
