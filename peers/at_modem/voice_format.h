// The voice modem's sample formats: the +VSM=? list parsed, the format
// chosen from it by name, the lists documented for common command-set
// families (when a modem's own list cannot be read), and the conversion of
// 16-bit samples both ways.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace atmodem {

enum class Coding { None, MuLaw, ALaw, Linear16, Signed8, Unsigned8 };

// One line of the +VSM=? answer: <cml>,"<name>",<bits>,<tm>,(<rates>),...
// (rates empty when the line stops after the bits).
struct Method {
    int code = 0;
    std::string name;
    int bits = 0;
    std::vector<int> rates;
};

struct VoiceFormat {
    int code = 0;
    Coding coding = Coding::None;
    std::string name;
};

// The methods of a +VSM=? answer; false when no line could be read.
bool ParseMethods(const std::vector<std::string>& lines, std::vector<Method>& out);
// The coding a method's name and size stand for: known names (Intel's
// LIN1/CL1 too) at their own width, else what the name says (LIN, PCM,
// ULAW, ALAW; UNSIGNED) at a width that fits it. None: not one of ours, or
// a name and width that contradict each other.
Coding CodingOf(const Method& m);
// By name, at 8000 samples a second: mu-law, A-law, 16-bit linear, 8-bit
// linear (signed or unsigned as named). False when none is offered.
bool ChooseFormat(const std::vector<Method>& methods, VoiceFormat& chosen);
// The list documented for the family the identification names; empty for
// a family not known.
std::vector<Method> DocumentedMethods(const std::string& identification);
const char* CodingName(Coding c);

inline int BytesPerSample(Coding c) { return c == Coding::Linear16 ? 2 : 1; }
// Samples to the modem's bytes (not yet DLE-shielded).
std::string EncodeSamples(Coding c, const int16_t* samples, size_t n);
// The modem's bytes to samples; `carry` keeps the odd byte of a 16-bit
// sample split between two pieces.
void DecodeBytes(Coding c, const std::string& bytes, std::string& carry, std::vector<int16_t>& out);

}  // namespace atmodem
