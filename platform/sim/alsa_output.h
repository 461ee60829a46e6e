// The sound card heard through ALSA. In real-time mode the sound-card output
// device (kSoundCardDevice) also plays what it outputs on the ALSA PCM named
// by MARLUNE_ALSA_DEVICE ("default" when unset). A writer thread owns the
// PCM and feeds it each buffer's samples as they become due on the device's
// clock, as 16-bit PCM in the stream's own channels, at the stream's rate
// when the PCM takes it as it is, else converted here (libsoxr) to 48 or
// 44.1 kHz: ALSA's own rate plugins are not used. The device keeps its own clock and buffer-done timing;
// a PCM that cannot be opened or fails leaves it working virtually.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "win32/mmsystem.h"
#include "sim.h"
#include "wave_format.h"

namespace sim {

// On by default; off: the sound card stays virtual in real-time mode too.
void SetSoundCardAudible(bool on);
bool SoundCardAudible();
// The output device ALSA plays: the sound card (the default), or the line
// (kLineDevice) to listen in on calls; set before the device opens.
void SetAudibleDevice(UINT device);

// Called with one line saying why sound-card output is not audible, once per
// distinct reason (from the writer thread).
void SetSoundCardNotice(std::function<void(const std::string& reason)> notice);

struct SoundCardFeed {
    uint64_t streams = 0;  // PCMs opened
    uint64_t frames = 0;   // frames handed to ALSA
    unsigned rate = 0;     // the rate of the last PCM opened
    std::string problem;   // the last reason it was not audible ("" when none)
};
SoundCardFeed SoundCardFeedState();

// Waits on the wall clock until the writer has played out and closed what
// the device gave it (the device closed); false after `limit`.
bool WaitSoundCardIdle(Micros limit);

}  // namespace sim

namespace wavesim {

// Hooks of the sound-card output device: opened or closed, a buffer queued
// to start playing at clock time `start`, reset.
void CardStream(UINT device, const Layout& l, bool on);
void CardPlay(UINT device, const Layout& l, const WAVEHDR& h, sim::Micros start);
void CardFlush(UINT device);

}  // namespace wavesim
