// G.711 mu-law conversion, as the line's codec and the mapper use it.
#pragma once

#include <cstdint>

namespace sim {

uint8_t MuLawEncode(int16_t sample);
int16_t MuLawDecode(uint8_t code);

}  // namespace sim
