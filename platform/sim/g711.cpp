#include "g711.h"

namespace sim {

// Segment encoding with the usual bias of 0x84 and clip at 32635.
uint8_t MuLawEncode(int16_t sample) {
    constexpr int kBias = 0x84;
    constexpr int kClip = 32635;
    int s = sample;
    int sign = 0;
    if (s < 0) {
        s = -s;
        sign = 0x80;
    }
    if (s > kClip) s = kClip;
    s += kBias;
    int exponent = 7;
    for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
    int mantissa = (s >> (exponent + 3)) & 0x0F;
    return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

int16_t MuLawDecode(uint8_t code) {
    code = static_cast<uint8_t>(~code);
    int sign = code & 0x80;
    int exponent = (code >> 4) & 0x07;
    int mantissa = code & 0x0F;
    int magnitude = ((mantissa << 3) + 0x84) << exponent;
    magnitude -= 0x84;
    return static_cast<int16_t>(sign ? -magnitude : magnitude);
}

// A-law: the 13-bit magnitude in eight segments, even bits inverted (0x55).
uint8_t ALawEncode(int16_t sample) {
    static const int kSegmentEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int v = sample >> 3;
    int mask = 0xD5;
    if (v < 0) {
        mask = 0x55;
        v = -v - 1;
    }
    int segment = 0;
    while (segment < 8 && v > kSegmentEnd[segment]) ++segment;
    if (segment == 8) return static_cast<uint8_t>(0x7F ^ mask);
    int code = segment << 4;
    code |= segment < 2 ? (v >> 1) & 0x0F : (v >> segment) & 0x0F;
    return static_cast<uint8_t>(code ^ mask);
}

int16_t ALawDecode(uint8_t code) {
    code ^= 0x55;
    int t = (code & 0x0F) << 4;
    int segment = (code & 0x70) >> 4;
    if (segment == 0) {
        t += 8;
    } else {
        t += 0x108;
        t <<= segment - 1;
    }
    return static_cast<int16_t>(code & 0x80 ? t : -t);
}

}  // namespace sim
