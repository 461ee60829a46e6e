#include "wave_format.h"

#include <cmath>
#include <cstring>

#include "g711.h"

namespace wavesim {

namespace {

// {xxxxxxxx-0000-0010-8000-00aa00389b71}: a sub-format that is a format tag.
bool TagOfSubFormat(const uint8_t* guid, WORD& tag) {
    static const uint8_t kTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
    if (memcmp(guid + 4, kTail, sizeof kTail) != 0 || guid[2] || guid[3]) return false;
    tag = static_cast<WORD>(guid[0] | (guid[1] << 8));
    return true;
}

inline int32_t Int24(const uint8_t* p) { return static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (static_cast<uint32_t>(p[2]) << 24)) >> 8; }
inline int32_t Int32(const uint8_t* p) {
    return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

// One sample, on the 16-bit scale; exact integers for 8/16-bit and G.711.
inline float Sample(const Layout& l, const uint8_t* p) {
    switch (l.kind) {
        case SampleKind::MuLaw: return sim::MuLawDecode(*p);
        case SampleKind::ALaw: return sim::ALawDecode(*p);
        case SampleKind::Float: {
            float f;
            memcpy(&f, p, 4);
            return std::isfinite(f) ? f * 32768.0f : 0.0f;
        }
        case SampleKind::Int: break;
    }
    switch (l.bits) {
        case 8: return static_cast<float>((static_cast<int>(*p) - 128) * 256);
        case 16: return static_cast<int16_t>(p[0] | (p[1] << 8));
        case 24: return static_cast<float>(Int24(p)) / 256.0f;
        default: return static_cast<float>(static_cast<double>(Int32(p)) / 65536.0);
    }
}

}  // namespace

bool ReadLayout(const WAVEFORMATEX& f, Layout& out) {
    Layout l;
    l.tag = f.wFormatTag;
    l.channels = f.nChannels;
    l.rate = f.nSamplesPerSec;
    l.bits = l.validBits = f.wBitsPerSample;
    if (f.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (f.cbSize < 22) return false;
        const auto* ext = reinterpret_cast<const uint8_t*>(&f) + 18;
        l.extensible = true;
        l.validBits = static_cast<WORD>(ext[0] | (ext[1] << 8));
        l.channelMask = static_cast<DWORD>(ext[2] | (ext[3] << 8) | (ext[4] << 16)) | (static_cast<DWORD>(ext[5]) << 24);
        if (!TagOfSubFormat(ext + 6, l.tag)) return false;
        if (l.validBits == 0) l.validBits = l.bits;
    }
    switch (l.tag) {
        case WAVE_FORMAT_PCM:
            l.kind = SampleKind::Int;
            if (l.bits != 8 && l.bits != 16 && l.bits != 24 && l.bits != 32) return false;
            break;
        case WAVE_FORMAT_IEEE_FLOAT:
            l.kind = SampleKind::Float;
            if (l.bits != 32) return false;
            break;
        case WAVE_FORMAT_MULAW:
        case WAVE_FORMAT_ALAW:
            l.kind = l.tag == WAVE_FORMAT_MULAW ? SampleKind::MuLaw : SampleKind::ALaw;
            if (l.bits != 8) return false;
            break;
        default: return false;
    }
    if (l.channels == 0) return false;
    out = l;
    return true;
}

bool Consistent(const WAVEFORMATEX& f, const Layout& l) {
    if (l.validBits > l.bits || l.validBits == 0) return false;
    if (f.nBlockAlign != l.FrameBytes()) return false;
    if (f.nAvgBytesPerSec != static_cast<uint64_t>(l.rate) * f.nBlockAlign) return false;
    // A mask names a speaker per channel at most.
    return !l.extensible || __builtin_popcount(l.channelMask) <= l.channels;
}

void MixMono(const Layout& l, const uint8_t* data, uint64_t from, size_t n, float* out) {
    const size_t width = l.bits / 8;
    const size_t frame = width * l.channels;
    const uint8_t* p = data + from * frame;
    const bool integer = l.kind == SampleKind::MuLaw || l.kind == SampleKind::ALaw || l.bits <= 16;
    for (size_t i = 0; i < n; ++i, p += frame) {
        if (l.channels == 1) {
            out[i] = Sample(l, p);
            continue;
        }
        if (integer) {
            int sum = 0;
            for (WORD c = 0; c < l.channels; ++c) sum += static_cast<int>(Sample(l, p + c * width));
            out[i] = static_cast<float>(sum / l.channels);
        } else {
            double sum = 0;
            for (WORD c = 0; c < l.channels; ++c) sum += Sample(l, p + c * width);
            out[i] = static_cast<float>(sum / l.channels);
        }
    }
}

void Decode(const Layout& l, const uint8_t* data, uint64_t from, size_t n, float* out) {
    const size_t width = l.bits / 8;
    const uint8_t* p = data + from * width * l.channels;
    for (size_t i = 0, count = n * l.channels; i < count; ++i, p += width) out[i] = Sample(l, p);
}

int16_t ToS16(float v) {
    if (!(v > -32768.0f)) return -32768;
    if (v >= 32767.0f) return 32767;
    return static_cast<int16_t>(std::lrintf(v));
}

}  // namespace wavesim
