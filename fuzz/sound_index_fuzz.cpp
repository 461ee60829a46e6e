// An arbitrary character sound index and lookups. The input's first byte
// says how many characters are looked up (0-15); their two bytes each
// follow, and the rest is hanzi.dat.
#include "fuzz/fuzz_env.h"
#include "prompts/sound_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t lookups = data[0] & 15;
    const size_t keys = 1 + 2 * lookups;
    if (size < keys) return 0;
    fuzzenv::WriteFile(SoundIndex::kFileName, data + keys, size - keys);
    fuzzenv::Session s;
    SoundIndex index(s.module->core);
    for (size_t i = 0; i < lookups; ++i) {
        const std::string character(reinterpret_cast<const char*>(data + 1 + 2 * i), 2);
        try {
            // "_long", or a name read from the index (empty when the entry's
            // name would start at or beyond the end of the file).
            const std::string name = index.GetSoundName(character);
            if (name != SoundIndex::kMissing && name.find('\0') != std::string::npos) __builtin_trap();
            if (name != SoundIndex::kMissing &&
                std::string(reinterpret_cast<const char*>(data + keys), size - keys).find(name) == std::string::npos)
                __builtin_trap();
        } catch (const AutomationError&) {
        }
    }
    // A character given as one byte, and none.
    for (size_t n : {0, 1}) {
        try {
            index.GetSoundName(std::string(reinterpret_cast<const char*>(data), n));
        } catch (const AutomationError&) {
        }
    }
    return 0;
}
