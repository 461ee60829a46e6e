// The sound card of a real-time session: audible through ALSA unless
// --no-sound; a reason it is not audible is printed once on stderr.
#pragma once

// Before the session: whether the sound card plays through ALSA, or with
// `listen` the line instead (what the caller hears).
void SetUpSoundCard(bool audible, bool listen = false);
// After the control is gone: lets the writer play out and close the PCM.
void FinishSoundCard();
