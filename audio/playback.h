// Wave playback: the output devices, the current sound, PlayWav and
// StopPlayWav, and the end of a single file's playback. The play list
// queues its sounds through the same operations as a client that hears of
// each buffer's end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "control/core/core.h"
#include "control/core/sound_buffer.h"
#include "telephony/line.h"

class PlaybackClient {
public:
    // The buffer this client queued came back on `out`: played out, or
    // returned early because the device was stopped (`stopped`).
    virtual void OnBufferDone(ControlSite& site, HWAVEOUT out, bool stopped) = 0;

protected:
    ~PlaybackClient() = default;
};

class Playback {
public:
    Playback(Core& core, Line& line) : core_(core), line_(line) {}
    ~Playback();
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    LONG deviceId = 0;            // the last choice; -1: the default device (WAVE_MAPPER)
    HWAVEOUT hWaveOut = nullptr;  // as last opened; not cleared on close
    SoundRef sound;               // the current sound: what the next open and write use

    // ---- automation members ------------------------------------------
    LONG PlayWav(ControlSite& site, const std::string& FileName, LONG Dev);
    LONG StopPlayWav();

    // ---- building blocks, shared with the play list ------------------
    // Opens the call's device `id` (its low 16 bits, through the mapper) or
    // the default device for the current sound's format, notifying
    // `window`. An open output on the other device is stopped first. 0 when
    // open; -1 to -7 otherwise (logged).
    LONG OpenLineWaveOut(HWND window, LONG id);
    LONG OpenDefaultWaveOut(HWND window);
    // Queues the current sound on the device opened last. Its handle when
    // queued; null otherwise (after a failed prepare or write the buffer is
    // released and the device stays open).
    HWAVEOUT WriteCurrentSound(PlaybackClient* client = nullptr);
    // Resets the device opened last (its buffer comes back as stopped).
    void ResetLast();
    // The end of playback on `out`: reset and close that device (only it)
    // and release its buffer. False when the close failed ("free err").
    bool ReleaseOutput(HWAVEOUT out);
    // Closes the device opened last when it holds no buffer (a start that
    // queued nothing).
    void ReleaseIdle();
    // Fires EndPlayAll; an error out of the firing is logged.
    void FireEndPlayAll(ControlSite& site) const;

    // ---- notifications -------------------------------------------------
    LRESULT OnWomDone(ControlSite& site, HWAVEOUT out, WAVEHDR* header);

    // Stops every device and forgets every buffer (the module is going
    // away and their notifications will not arrive).
    void Shutdown();
    // The same for the devices that report to `window`, which is going away.
    void Abandon(HWND window);

private:
    friend struct PlaybackProbe;  // tests read the outputs list

    struct Output {
        HWAVEOUT handle = nullptr;
        LONG deviceId = 0;
        HWND window = nullptr;            // where its notifications go
        std::unique_ptr<WAVEHDR> header;  // the one header of this open
        SoundRef playing;                 // the sound the queued header carries
        PlaybackClient* client = nullptr;
        bool queued = false;
        bool stopped = false;
        bool closed = false;
    };

    LONG Open(HWND window, LONG id, bool line);
    void StopOthers(LONG id);
    void Stop(Output& o);
    MMRESULT Close(Output& o);
    Output* Find(HWAVEOUT handle);
    void Prune();

    Core& core_;
    Line& line_;
    std::vector<Output> outputs_;
};
