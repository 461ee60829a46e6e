// Reading a run of number characters as Chinese words with two decimal
// places: 12.5 -> 一十二点五零. A zero that is not spoken stands as the
// silent marker ",".
#pragma once

#include <string>
#include <vector>

#include "control/core/core.h"

// The silent marker of an unspoken zero.
constexpr char kSilentZero = ',';

// Fills `digitWords` with its eleven words (零 to 九, then 十), logs
// "格式后:" and the "%.2f" form of the value, and returns the reading.
std::string NumberToChinese(const Core& core, std::vector<std::string>& digitWords, std::string number);
