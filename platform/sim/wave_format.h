// What a wave format record says about the bytes of a buffer: the sample
// type, its container and valid bits, channels and rate, read from the
// plain record or from an extensible one's sub-format, and the decoding of
// frames into samples on the 16-bit scale.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mmreg.h"
#include "win32/mmsystem.h"

namespace wavesim {

enum class SampleKind { Int, Float, MuLaw, ALaw };

struct Layout {
    SampleKind kind = SampleKind::Int;
    WORD tag = 0;         // WAVE_FORMAT_PCM, _IEEE_FLOAT, _MULAW or _ALAW (an extensible record's sub-format)
    bool extensible = false;
    WORD channels = 0;
    DWORD rate = 0;
    WORD bits = 0;        // container bits per sample
    WORD validBits = 0;   // bits that carry the sample (the container's unless extensible says fewer)
    DWORD channelMask = 0;
    DWORD FrameBytes() const { return static_cast<DWORD>(channels) * (bits / 8); }
};

// Reads the record. An extensible record (cbSize 22 or more) is read past
// its first 18 bytes. False for a sample type this layer cannot decode.
bool ReadLayout(const WAVEFORMATEX& f, Layout& out);

// The record is self-consistent: whole-byte containers the valid bits fit,
// nBlockAlign one frame, nAvgBytesPerSec a second of frames.
bool Consistent(const WAVEFORMATEX& f, const Layout& l);

// Frames [from, from + n) of `data` mixed to mono (the channels' mean), on
// the 16-bit scale (full scale 32768). 8- and 16-bit integers and G.711 give
// the truncated integer mean, as an integer mixer does.
void MixMono(const Layout& l, const uint8_t* data, uint64_t from, size_t n, float* out);
// The same frames, every channel kept, interleaved.
void Decode(const Layout& l, const uint8_t* data, uint64_t from, size_t n, float* out);

// Rounded to the nearest 16-bit value, clipped.
int16_t ToS16(float v);

}  // namespace wavesim
