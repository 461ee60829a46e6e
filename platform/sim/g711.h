// G.711 mu-law and A-law conversion, as the line's codec, the mapper and
// the AT modem use it.
#pragma once

#include <cstdint>

namespace sim {

uint8_t MuLawEncode(int16_t sample);
int16_t MuLawDecode(uint8_t code);
uint8_t ALawEncode(int16_t sample);
int16_t ALawDecode(uint8_t code);

}  // namespace sim
