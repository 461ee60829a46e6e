// Prompt tests: a small voice pack made here (an index and one distinct
// sound per name), a control with its window, and the line's tap.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "control/core/automation_error.h"
#include "tests/support/audio_fixture.h"

class PromptsTest : public AudioTest {
protected:
    void SetUp() override {
        AudioTest::SetUp();
        MakeControl();
        sim::SetTapPath(sim::kLineDevice, "line_tap.wav");
        sim::SetTapPath(sim::kSoundCardDevice, "card_tap.wav");
        mkdir("wav", 0777);
    }

    // An index entry: the character (GBK bytes), 0, one unread byte, the name, 0.
    static std::string Entry(const std::string& character, const std::string& name) {
        return character + std::string(1, '\0') + "x" + name + std::string(1, '\0');
    }
    // Writes hanzi.dat with one entry per character (same order) and a sound
    // for every name, plus "_long" and the fallback "wu2.wav".
    void MakePack(const std::vector<std::pair<std::string, std::string>>& entries) {
        std::string index;
        for (auto& [character, name] : entries) {
            index += Entry(character, name);
            Sound(name);
        }
        wav::Save("hanzi.dat", index);
        Sound("_long");
        if (!sounds.count("wu2.wav")) {
            sounds["wu2.wav"] = Distinct(9999);
            wav::Save("wu2.wav", wav::Pcm8k(sounds["wu2.wav"]));
        }
    }
    // A distinct 50 ms sound for `name` in wav/.
    const std::vector<int16_t>& Sound(const std::string& name) {
        auto it = sounds.find(name);
        if (it != sounds.end()) return it->second;
        auto& s = sounds[name] = Distinct(static_cast<unsigned>(sounds.size()) + 1);
        wav::Save("wav/" + name + ".wav", wav::Pcm8k(s));
        return s;
    }
    // 50 ms of noise, different for every seed.
    static std::vector<int16_t> Distinct(unsigned seed) {
        std::vector<int16_t> v(400);
        unsigned x = seed * 2654435761u + 1;
        for (auto& s : v) {
            x = x * 1664525u + 1013904223u;
            s = static_cast<int16_t>((x >> 16) % 20000) - 10000;
        }
        return v;
    }
    // The names whose sounds the tap of `device` holds, in the order heard.
    std::vector<std::string> Heard(UINT device) const {
        const auto& tap = sim::TapSamples(device);
        std::vector<std::pair<size_t, std::string>> found;
        for (auto& [name, samples] : sounds) {
            auto from = tap.begin();
            for (;;) {
                auto it = std::search(from, tap.end(), samples.begin(), samples.end());
                if (it == tap.end()) break;
                found.emplace_back(static_cast<size_t>(it - tap.begin()), name);
                from = it + static_cast<long>(samples.size());
            }
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> names;
        for (auto& f : found) names.push_back(f.second);
        return names;
    }
    bool RunToEnd(int count = 1, sim::Micros limit = 60 * sim::kSecond) {
        return sim::RunUntil([&] { return sink.count(EVENT_EndPlayAll) >= count; }, limit);
    }
    std::vector<std::string> Kinds() const { return module->playList.ItemKinds; }

    std::map<std::string, std::vector<int16_t>> sounds;
};
