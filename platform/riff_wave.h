// RIFF/WAVE reading and writing, header-only, standard C++ over the
// platform's WAVEFORMATEX/WORD/DWORD. Every chunk size read from a file is
// a claim: what is used is bounded by the bytes really there, sizes are
// added in 64 bits, and odd-sized chunks are passed with their pad byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace riff {

// Little-endian fields.
inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Size of the canonical header: RIFF form, one "fmt " chunk of `fmtSize`
// bytes (16, or 18 with cbSize), the "data" chunk header.
inline size_t HeaderSize(DWORD fmtSize) { return 12 + 8 + fmtSize + 8; }

// The canonical header for `dataBytes` of sound in `format`. fmtSize 16
// leaves cbSize out; 18 writes it. The RIFF size counts no pad byte and
// saturates at 0xFFFFFFFF for data too large for it.
inline std::vector<uint8_t> Header(const WAVEFORMATEX& format, DWORD fmtSize, DWORD dataBytes) {
    if (fmtSize != 18) fmtSize = 16;
    std::vector<uint8_t> h(HeaderSize(fmtSize));
    uint8_t* p = h.data();
    const uint64_t riffSize = 4 + 8 + static_cast<uint64_t>(fmtSize) + 8 + dataBytes;
    memcpy(p, "RIFF", 4);
    PutU32(p + 4, static_cast<uint32_t>(std::min<uint64_t>(riffSize, 0xFFFFFFFFu)));
    memcpy(p + 8, "WAVEfmt ", 8);
    PutU32(p + 16, fmtSize);
    PutU16(p + 20, format.wFormatTag);
    PutU16(p + 22, format.nChannels);
    PutU32(p + 24, format.nSamplesPerSec);
    PutU32(p + 28, format.nAvgBytesPerSec);
    PutU16(p + 32, format.nBlockAlign);
    PutU16(p + 34, format.wBitsPerSample);
    if (fmtSize == 18) PutU16(p + 36, format.cbSize);
    memcpy(p + 20 + fmtSize, "data", 4);
    PutU32(p + 24 + fmtSize, dataBytes);
    return h;
}

// A 16-bit PCM format record.
inline WAVEFORMATEX Pcm16Format(DWORD rate, WORD channels = 1) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<WORD>(2 * channels);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.wBitsPerSample = 16;
    f.cbSize = 0;
    return f;
}

// What a parse found. dataSize is what the file holds of the data chunk
// (never more than its claim, never past the end); dataClaim is the claim.
struct WaveInfo {
    WAVEFORMATEX format{};
    DWORD fmtSize = 0;  // claimed size of the "fmt " chunk
    uint64_t dataOffset = 0;
    DWORD dataSize = 0;
    DWORD dataClaim = 0;
};

// Walks the chunks of a RIFF WAVE image. `read(offset, n, out)` reads up to
// n bytes at offset and returns how many it read; `size` is the image's
// real length. Needs a "fmt " chunk of at least 16 bytes that the image
// holds whole, and a "data" chunk after it.
template <typename ReadAt>
bool ParseWith(uint64_t size, ReadAt read, WaveInfo& info) {
    uint8_t head[12];
    if (size < 12 || read(0, 12, head) != 12) return false;
    if (memcmp(head, "RIFF", 4) != 0 || memcmp(head + 8, "WAVE", 4) != 0) return false;
    bool haveFormat = false;
    uint64_t pos = 12;
    while (pos + 8 <= size) {
        uint8_t ck[8];
        if (read(pos, 8, ck) != 8) return false;
        const uint32_t claim = GetU32(ck + 4);
        const uint64_t body = pos + 8;
        const uint64_t avail = std::min<uint64_t>(claim, size - body);
        if (memcmp(ck, "fmt ", 4) == 0 && !haveFormat) {
            if (claim < 16 || avail < claim) return false;
            uint8_t f[18] = {};
            const size_t n = claim >= 18 ? 18 : 16;
            if (read(body, n, f) != n) return false;
            info.format.wFormatTag = GetU16(f);
            info.format.nChannels = GetU16(f + 2);
            info.format.nSamplesPerSec = GetU32(f + 4);
            info.format.nAvgBytesPerSec = GetU32(f + 8);
            info.format.nBlockAlign = GetU16(f + 12);
            info.format.wBitsPerSample = GetU16(f + 14);
            info.format.cbSize = n == 18 ? GetU16(f + 16) : 0;
            info.fmtSize = claim;
            haveFormat = true;
        } else if (memcmp(ck, "data", 4) == 0 && haveFormat) {
            info.dataOffset = body;
            info.dataClaim = claim;
            info.dataSize = static_cast<DWORD>(avail);
            return true;
        }
        pos = body + claim + (claim & 1);
    }
    return false;
}

inline bool Parse(const void* bytes, size_t size, WaveInfo& info) {
    const auto* b = static_cast<const uint8_t*>(bytes);
    if (!b) return false;
    auto read = [&](uint64_t at, size_t n, uint8_t* out) -> size_t {
        if (at >= size) return 0;
        size_t k = static_cast<size_t>(std::min<uint64_t>(n, size - at));
        memcpy(out, b + at, k);
        return k;
    };
    return ParseWith(size, read, info);
}

namespace detail {
inline bool Seek(FILE* f, uint64_t at) {
#ifdef _WIN32
    return _fseeki64(f, static_cast<long long>(at), SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0;
#endif
}
inline bool FileSize(FILE* f, uint64_t& size) {
#ifdef _WIN32
    if (_fseeki64(f, 0, SEEK_END) != 0) return false;
    long long n = _ftelli64(f);
#else
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    long long n = ftello(f);
#endif
    if (n < 0) return false;
    size = static_cast<uint64_t>(n);
    return true;
}
}  // namespace detail

inline bool ParseFile(FILE* f, WaveInfo& info) {
    uint64_t size = 0;
    if (!f || !detail::FileSize(f, size)) return false;
    auto read = [&](uint64_t at, size_t n, uint8_t* out) -> size_t {
        return detail::Seek(f, at) ? fread(out, 1, n, f) : 0;
    };
    return ParseWith(size, read, info);
}

// Reads a WAV file: its format and the data bytes it really holds, in one
// read. The allocation never exceeds the file's size.
inline bool ReadFile(const std::string& path, WaveInfo& info, std::vector<uint8_t>& data) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bool ok = ParseFile(f, info) && detail::Seek(f, info.dataOffset);
    if (ok) {
        data.resize(info.dataSize);
        ok = fread(data.data(), 1, data.size(), f) == data.size();
    }
    fclose(f);
    return ok;
}

// Writes a whole WAV file: the canonical header and the data.
inline bool WriteFile(const std::string& path, const WAVEFORMATEX& format, DWORD fmtSize, const void* data,
                      DWORD dataBytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    auto h = Header(format, fmtSize, dataBytes);
    bool ok = fwrite(h.data(), 1, h.size(), f) == h.size();
    if (ok && dataBytes) ok = fwrite(data, 1, dataBytes, f) == dataBytes;
    return fclose(f) == 0 && ok;
}

}  // namespace riff
