// Number reading: the input's bytes mapped onto the number characters
// ('.', '/', '0'-'9' are what the text pass collects) as one run, and the
// raw bytes through the text pass that finds the runs itself.
#include "fuzz/fuzz_env.h"
#include "prompts/number_reading.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char kNumberChars[] = "./0123456789";
    std::string run;
    for (size_t i = 0; i < size; ++i) run += kNumberChars[data[i] % 12];
    fuzzenv::Session s;
    std::vector<std::string> words;
    const std::string reading = NumberToChinese(s.module->core, words, run);
    if (words.size() != 11) __builtin_trap();
    if (!run.empty() && reading.empty()) __builtin_trap();
    s.module->composer.ReadNumbers(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
