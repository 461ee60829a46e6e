// Call control helpers shared with the tests.
#pragma once

#include "platform/platform.h"

struct Module;

// Numbers are worked on in buffers of this size: at most 79 characters.
constexpr size_t kNumberBufferSize = 80;

// BuildCanonicalNumber results.
constexpr int kCanonicalWritten = 1;
constexpr int kNotCanonical = 0;
constexpr int kCanonicalTooLong = -1;  // the canonical form would not fit

// Builds the canonical address "+1 (area) subscriber" of a North-American
// local or national number into `output` (kNumberBufferSize bytes). Returns
// kCanonicalWritten, or kNotCanonical / kCanonicalTooLong leaving `output`
// untouched.
int BuildCanonicalNumber(Module& module, const char* number, char* output);
