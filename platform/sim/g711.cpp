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

}  // namespace sim
