// The simulator's command-set families: their identification, their
// +VSM=? lists with what each code means, and the samples each coding
// carries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "peers/modem_sim/modem_sim.h"

namespace modemsim {

// Unsigned16: 16-bit offset binary, low byte first.
enum class Coding { MuLaw, ALaw, Linear16, Signed8, Unsigned8, Unsigned16, Adpcm };

struct Listed {
    int code;
    const char* name;
    int bits;
    Coding coding;
};

struct Profile {
    const char* manufacturer;
    const char* model;
    const char* rates;
    std::vector<Listed> methods;
    int defaultMethod = -1;  // the +VSM method at power-up (-1: 128, 8-bit unsigned)
    bool identifies = true;  // answers +FMI?/+FMM? (else only ATI names it)
    bool vlsConnects = false;  // +VLS=1 is answered VCON
};

// The families as their command references list them.
const Profile& ProfileOf(Family f);
const Listed* FindMethod(Family f, int code);
// The answer to AT+VSM=? (each line after CR LF): the options' own lines
// or the family's list.
std::string MethodList(const Options& o);

// One sample in the coding's bytes (two for 16-bit, low byte first), and back.
std::string EncodeSample(Coding c, int16_t v);
int16_t DecodeSample(Coding c, const std::string& bytes);

}  // namespace modemsim
