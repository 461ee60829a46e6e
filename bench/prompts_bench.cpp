// PlayStr of a 9,999-character text against a 7,000-entry character sound
// index: the literal lookup (the whole index read and rescanned for every
// character) as the baseline, our lookup, the whole PlayStr, and the floor
// of just reading the same WAV files. The log is on, as in a control.
// Then the number reading of one digit run of 10^3 to 10^6 digits.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/wav_reader.h"
#include "control/front/marlune_ctrl.h"
#include "platform/riff_wave.h"
#include "platform/sim/sim.h"
#include "prompts/number_reading.h"

namespace {

constexpr int kEntries = 7000;
constexpr int kSounds = 1400;  // five characters share each sound, as homophones do

struct Fixture {
    std::string home;
    std::string dir;
    std::vector<std::string> characters;  // of the index, in order
    std::string text;                     // GBK, 9,999 characters with numbers and English
    std::vector<std::string> paths;       // the WAV file of each Chinese character of the text
    std::unique_ptr<Module> module;
    std::unique_ptr<CMarluneCtrl> ctrl;

    Fixture() {
        char cwd[4096];
        home = getcwd(cwd, sizeof cwd) ? cwd : "/";
        char tmpl[] = "/tmp/marlune-prompts-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        if (chdir(dir.c_str()) != 0) abort();
        mkdir("wav", 0777);
        std::vector<int16_t> samples(1600);  // 0.2 s
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i * 37) % 20000 - 10000);
        const auto format = riff::Pcm16Format(8000);
        for (int s = 0; s < kSounds; ++s)
            riff::WriteFile("wav/s" + std::to_string(s) + ".wav", format, 16, samples.data(), 3200);
        riff::WriteFile("wav/_long.wav", format, 16, samples.data(), 3200);
        riff::WriteFile("wu2.wav", format, 16, samples.data(), 3200);
        std::string index;
        for (int k = 0; characters.size() < kEntries; ++k) {
            const char lead = static_cast<char>(0xB0 + k / 94), trail = static_cast<char>(0xA1 + k % 94);
            const std::string c{lead, trail};
            characters.push_back(c);
            index += c + std::string(1, '\0') + "x" + "s" + std::to_string(k % kSounds) + std::string(1, '\0');
        }
        FILE* f = fopen("hanzi.dat", "wb");
        fwrite(index.data(), 1, index.size(), f);
        fclose(f);
        // Every 97th character a number, every 500th an English word.
        int chars = 0;
        for (int k = 0; chars < 9999; ++k) {
            if (k % 97 == 96) {
                text += "12.5";
            } else if (k % 500 == 499) {
                text += " hello ";
            } else {
                const int e = (k * 7919) % kEntries;
                text += characters[static_cast<size_t>(e)];
                paths.push_back("wav\\s" + std::to_string(e % kSounds) + ".wav");
                ++chars;
            }
        }
        sim::Reset();
        module = std::make_unique<Module>();
        module->MakeCurrent();
        ctrl = std::make_unique<CMarluneCtrl>(*module);
        ctrl->CreateControlWindow(nullptr, RECT{0, 0, 10, 10});
    }
    // The scratch folder goes, with the log the runs wrote into it.
    ~Fixture() {
        ctrl.reset();
        module.reset();
        sim::Reset();
        if (chdir(home.c_str()) != 0) return;
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Fixture& F() {
    static Fixture f;
    return f;
}

// The index read whole and scanned byte by byte for every character.
std::string LiteralLookup(const std::string& character) {
    std::string result = "_long";
    FILE* f = fopen("hanzi.dat", "rb");
    if (!f) return result;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    std::vector<char> buf(static_cast<size_t>(n) + 1, '\0');
    size_t got = fread(buf.data(), 1, static_cast<size_t>(n), f);
    fclose(f);
    for (size_t i = 0; i < got; ++i) {
        if (strcmp(buf.data() + i, character.c_str()) == 0) {
            result = i + 4 < got ? buf.data() + i + 4 : "";
            break;
        }
    }
    return result;
}

std::vector<std::string> TextCharacters() {
    std::vector<std::string> out;
    const std::string& t = F().text;
    for (size_t i = 0; i < t.size();) {
        if (static_cast<unsigned char>(t[i]) >= 0x81) {
            out.push_back(t.substr(i, 2));
            i += 2;
        } else {
            ++i;
        }
    }
    return out;
}

void BM_LookupLiteralRescan(benchmark::State& state) {
    auto chars = TextCharacters();
    chars.resize(200);  // the rescan is slow: a sample of the text, reported per character
    for (auto _ : state)
        for (auto& c : chars) benchmark::DoNotOptimize(LiteralLookup(c));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * chars.size()));
}

void BM_LookupSoundIndex(benchmark::State& state) {
    auto chars = TextCharacters();
    for (auto _ : state)
        for (auto& c : chars) benchmark::DoNotOptimize(F().module->composer.GetSoundName(c));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * chars.size()));
}

void BM_PlayStr(benchmark::State& state) {
    Fixture& f = F();
    for (auto _ : state) {
        if (f.ctrl->PlayStr(f.text, 1) != 0) state.SkipWithError("PlayStr failed");
        state.PauseTiming();
        f.ctrl->StopPlayWav();
        sim::RunFor(sim::kSecond);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 9999));
}

// The floor: the same WAV files read one after the other.
void BM_WavReadFloor(benchmark::State& state) {
    Fixture& f = F();
    SoundRef sound;
    for (auto _ : state)
        for (auto& p : f.paths) {
            ReadWav(f.module->core, p.c_str(), sound);
            benchmark::DoNotOptimize(sound);
        }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * f.paths.size()));
}

// One run of random digits with a decimal part; the log off, so that the
// time is the reading's own.
void BM_NumberReading(benchmark::State& state) {
    std::mt19937 random(7);
    std::string run(static_cast<size_t>(state.range(0)), '0');
    for (char& c : run) c = static_cast<char>('0' + random() % 10);
    run[run.size() - 2] = '.';
    Core core;
    std::vector<std::string> digitWords;
    for (auto _ : state) benchmark::DoNotOptimize(NumberToChinese(core, digitWords, run));
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_NumberReading)->RangeMultiplier(10)->Range(1000, 1000000)->Complexity()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupLiteralRescan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupSoundIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayStr)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WavReadFloor)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
