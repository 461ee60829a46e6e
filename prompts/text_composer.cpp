#include "prompts/text_composer.h"

#include <new>

#include "audio/wav_reader.h"
#include "control/core/automation_error.h"
#include "prompts/number_reading.h"

namespace {

bool IsNumberChar(unsigned char c) { return c > '-' && c < ':'; }
bool IsLetter(unsigned char c) { return c >= 0x41 && c <= 0x7A; }
bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }


}  // namespace

TextComposer::TextComposer(Core& core, Line& line, Playback& playback, PlaySequencer& list)
    : core_(core), line_(line), playback_(playback), list_(list), index_(core) {
    list_.continuation = [this](ControlSite& site) { return PlayNextQueued(site); };
}

LONG TextComposer::ChooseDevice(ControlSite& site, LONG Dev) {
    const LONG id = Dev == 0 ? line_.GetLineDeviceId(LINECALLSELECT_CALL, "wave/out") : -1;
    playback_.deviceId = id;
    site.SetOutID(id);
    return id;
}

std::string TextComposer::ReadNumbers(const std::string& text) {
    std::string t = text;
    std::string run;
    size_t runStart = 0;
    size_t i = 0;
    // One position beyond the last byte, so that a number at the end closes.
    while (i <= t.size()) {
        if (i < t.size() && IsNumberChar(static_cast<unsigned char>(t[i]))) {
            core_.WriteLog(std::string("发现数字:") + t[i]);
            if (run.empty()) runStart = i;
            run += t[i];
            ++i;
            continue;
        }
        if (!run.empty()) {
            core_.WriteLog("数字" + run);
            const std::string words = NumberToChinese(core_, DigitWords, run);
            t = t.substr(0, runStart) + words + t.substr(i);
            core_.WriteLog("转换后" + t);
            run.clear();
            i = runStart + words.size();
            continue;
        }
        ++i;
    }
    return t;
}

bool TextComposer::AddSoundItem(const std::string& character) {
    core_.WriteLog("汉字:" + character);
    // A lead byte that ends the text is no character: the "_long" sound.
    const bool whole = character.size() == 2 && character[1] != 0;
    const std::string name = whole ? index_.GetSoundName(character) : SoundIndex::kMissing;
    const std::string path = "wav\\" + name + ".wav";
    core_.WriteLog("放音文件:" + path);
    SoundRef sound;
    if (ReadWav(core_, path.c_str(), sound) != 0) ReadWav(core_, "wu2.wav", sound);
    return list_.AddSound(path, std::move(sound));
}

void TextComposer::Segment(const std::string& t, LONG Dev) {
    const size_t n = t.size();
    auto full = [&] { return list_.ItemCount() >= static_cast<size_t>(PlaySequencer::MaxItems); };
    auto overflow = [&](size_t from, const char* text) {
        list_.PendingText = t.substr(from);
        list_.PendingDev = Dev;
        core_.WriteLog(text);
    };
    std::string run;
    size_t runStart = 0;
    size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(t[i]);
        if (IsLetter(c)) {
            if (run.empty()) runStart = i;
            run += t[i];
            if (i == n - 1) {
                if (full()) return overflow(runStart, "超过最大数，以后读1");
                core_.WriteLog("英语1:" + run);
                list_.AddEnglish(run);
                run.clear();
            }
            ++i;
            continue;
        }
        if (!run.empty()) {
            if (full()) return overflow(runStart, "超过最大数，以后读2");
            core_.WriteLog("英语2:" + run);
            list_.AddEnglish(run);
            run.clear();
        }
        if (IsLeadByte(c)) {
            if (full()) return overflow(i, "超过最大数，以后读3");
            AddSoundItem(t.substr(i, 2));
            i += 2;
            continue;
        }
        ++i;  // anything else is dropped
    }
    core_.WriteLog("存放空间(数组)够用了!!");
    list_.PendingText.clear();
}

LONG TextComposer::Compose(ControlSite& site, const std::string& text, LONG Dev, bool& started) {
    started = false;
    const LONG id = ChooseDevice(site, Dev);
    core_.WriteLog("传入数据:" + text);
    const std::string t = ReadNumbers(text);
    bool english = false;
    LONG r = 0;
    try {
        Segment(t, Dev);
        if (list_.ItemCount() == 0) {
            core_.WriteLog("nothing to play");
            return 0;
        }
        english = list_.ItemKinds[0] == "e";
        r = list_.Start(site, id, Dev == 0);
    } catch (const AutomationError&) {
        // The next call starts from an empty list.
        list_.EmptyItems();
        list_.PendingText.clear();
        throw;
    }
    if (r == 0) {
        if (english && Dev != 0) core_.WriteLog("SpeakEnglish 1");
        started = true;
    }
    return r;
}

LONG TextComposer::PlayStr(ControlSite& site, const std::string& text, LONG Dev) {
    if (list_.Busy()) {
        list_.queue.push_back({false, text, Dev});
        core_.WriteLog("PlayStr queued");
        return 0;
    }
    bool started = false;
    const LONG r = Compose(site, text, Dev, started);
    if (!started) {
        list_.MarkBusy();
        if (r == 0) {
            // Nothing to play: the end is reported after this call has
            // returned, by the poll timer's first idle tick (at once when
            // there is no window to tick).
            if (!SetTimer(site.Window(), SpeechTimer, SpeechTimerPeriod, nullptr)) list_.Finish(site);
        } else {
            list_.Finish(site);  // ends as a list whose sound could not be queued
        }
    }
    return r;
}

void TextComposer::SpeakAll(ControlSite& site, const std::string& Str, LONG Dev) {
    const LONG id = ChooseDevice(site, Dev);
    core_.WriteLog("开始说下列英语All:");
    core_.speech->SetDevice(id);
    core_.WriteLog("完成设备设置");
    core_.speech->Speak(Str);
    core_.WriteLog(Str);
    SetTimer(site.Window(), SpeechTimer, SpeechTimerPeriod, nullptr);
    core_.WriteLog("set timer ok!");
    list_.MarkBusy();
}

LONG TextComposer::PlayAllisEnglish(ControlSite& site, const std::string& Str, LONG Dev) {
    if (list_.Busy()) {
        list_.queue.push_back({true, Str, Dev});
        core_.WriteLog("PlayAllisEnglish queued");
        return 0;
    }
    SpeakAll(site, Str, Dev);
    return 0;
}

LONG TextComposer::PlayTxtFile(ControlSite& site, const std::string& FileName, LONG Dev) {
    core_.WriteLog("开始读给定文件...");
    HANDLE file =
        CreateFileA(FileName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        throw AutomationError(missing ? kFileNotFoundError : kPermissionDeniedError, FileName + ": the file cannot be opened");
    }
    // Read as a text-mode stream: CR LF becomes LF, Ctrl-Z ends the text.
    std::string text;
    bool ended = false, pendingCr = false, readFailed = false;
    try {
        char buf[65536];
        DWORD got = 0;
        while (!ended) {
            if (!ReadFile(file, buf, sizeof buf, &got, nullptr)) {
                readFailed = true;
                break;
            }
            if (got == 0) break;
            for (DWORD k = 0; k < got; ++k) {
                const char c = buf[k];
                if (c == 0x1A) {
                    ended = true;
                    break;
                }
                if (pendingCr && c != '\n') text += '\r';
                pendingCr = c == '\r';
                if (!pendingCr) text += c;
            }
        }
    } catch (const std::bad_alloc&) {
        CloseHandle(file);
        return -1;
    }
    CloseHandle(file);
    // A read error is a file error, as a failed open is: no part of the
    // text is spoken as if it were the whole.
    if (readFailed) throw AutomationError(kPermissionDeniedError, FileName + ": the file cannot be read");
    if (pendingCr) text += '\r';
    return PlayStr(site, text, Dev);
}

bool TextComposer::PlayNextQueued(ControlSite& site) {
    for (;;) {
        PlaySequencer::Queued next;
        if (!list_.PendingText.empty()) {
            core_.WriteLog("还有等待放音的数据");
            next = {false, list_.PendingText, list_.PendingDev};
            list_.PendingText.clear();
        } else if (!list_.queue.empty()) {
            next = list_.queue.front();
            list_.queue.pop_front();
        } else {
            return false;
        }
        try {
            if (next.english) {
                SpeakAll(site, next.text, next.dev);
                return true;
            }
            bool started = false;
            Compose(site, next.text, next.dev, started);
            if (started) return true;
        } catch (const AutomationError& e) {
            core_.WriteLog(e.what());  // that text is dropped; the next one plays
        }
    }
}
