// Corrections to espeak-ng's sounds before they go in the pack: the DC
// offset, and the pitch of a voiced onset.
#pragma once

#include "tools/voice_pack/audio.h"

namespace voice_pack {

constexpr double kMaxDcPercent = 0.5;  // the mean sample, in % of full scale

// The mean sample in % of full scale (signed).
double DcPercent(const Samples& s);

// A zero-phase high-pass at 50 Hz (a second-order Butterworth run forward
// and backward), then the mean that remains taken out: no DC offset, the
// speech untouched.
Samples RemoveDc(const Samples& s, int rate);

// espeak-ng starts every syllable's contour about 4 semitones low and rises
// over its first 100 ms. Behind a voiceless initial the rise goes unheard;
// behind a voiced one (l, n, m, r, the glides of y- and w-) tone 1 rises
// instead of staying level and tone 4 rises before it falls. Raises the
// pitch of the voiced frames before the contour's top to the top, by
// pitch-synchronous overlap-add (the length and the spectrum's envelope
// stay): for tone 1 the top is the median pitch of the second half, for
// tone 4 the highest pitch. Other tones are returned as they are.
Samples LevelOnset(const Samples& s, int rate, int tone);

}  // namespace voice_pack
