// RIFF/WAVE layout: the canonical header of a WAV file for a format record
// and a data size.
#pragma once

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace riff {

inline void PutU16(std::string& s, WORD v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

inline void PutU32(std::string& s, DWORD v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// "RIFF", size, "WAVE", "fmt " with `formatSize` bytes of `format` (16:
// without cbSize; 18: with it), "data" and `dataBytes`. The sizes are those
// of a file whose data follows the header.
inline std::string WaveHeader(const WAVEFORMATEX& format, size_t formatSize, DWORD dataBytes) {
    std::string h;
    h.reserve(28 + formatSize);
    h += "RIFF";
    PutU32(h, static_cast<DWORD>(4 + 8 + formatSize + 8) + dataBytes);
    h += "WAVE";
    h += "fmt ";
    PutU32(h, static_cast<DWORD>(formatSize));
    PutU16(h, format.wFormatTag);
    PutU16(h, format.nChannels);
    PutU32(h, format.nSamplesPerSec);
    PutU32(h, format.nAvgBytesPerSec);
    PutU16(h, format.nBlockAlign);
    PutU16(h, format.wBitsPerSample);
    if (formatSize >= 18) PutU16(h, format.cbSize);
    h += "data";
    PutU32(h, dataBytes);
    return h;
}

}  // namespace riff
