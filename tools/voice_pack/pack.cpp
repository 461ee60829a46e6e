#include "tools/voice_pack/pack.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "tools/voice_pack/audio.h"
#include "tools/voice_pack/contour.h"
#include "tools/voice_pack/pinyin.h"
#include "tools/voice_pack/speak.h"

namespace voice_pack {
namespace fs = std::filesystem;
namespace {

const char* const kFallbackCharacter = "无";

// Characters that are not hanzi but read as one.
const std::pair<const char*, const char*> kReadAsHanzi[] = {
    {"〇", "零"}, {"０", "零"}, {"１", "一"}, {"２", "二"}, {"３", "三"}, {"４", "四"},
    {"５", "五"}, {"６", "六"}, {"７", "七"}, {"８", "八"}, {"９", "九"},
};

// Full-width punctuation and the ideographic space: a pause within a
// sentence, or the longer one at its end.
constexpr double kPauseSeconds = 0.2;
constexpr double kStopSeconds = 0.35;
const char* const kPauseCharacters[] = {"，", "、", "；", "：", "—", "“", "”", "‘", "’", "《", "》", "（", "）", "\u3000"};
const char* const kStopCharacters[] = {"。", "！", "？", "…"};

// Speaks, resamples, brings to the active level, trims and checks one
// syllable; writes wav/<name>.wav.
std::string MakeSound(Speaker& speaker, const std::string& name, const fs::path& wav_dir) {
    std::string phonemes = PinyinToPhonemes(name);
    Spoken spoken = speaker.Speak(phonemes);
    if (std::string why = CheckTrace(phonemes, spoken.trace); !why.empty()) return name + ": " + why;
    Samples raw = RemoveDc(spoken.samples, spoken.rate);
    const std::optional<Syllable> syllable = ParsePinyin(name);
    if (syllable && HasVoicedOnset(*syllable)) raw = LevelOnset(raw, spoken.rate, syllable->tone);
    Samples s = Normalise(Resample(raw, spoken.rate, kPackRate), kPackRate, kActiveDbfs);
    s = TrimSilence(s, kPackRate, kEdgeDbfs);
    if (std::string why = CheckSound(s, kPackRate); !why.empty()) return name + ": " + why;
    if (std::abs(DcPercent(s)) >= kMaxDcPercent) return name + ": a DC offset of " + std::to_string(DcPercent(s)) + " %";
    WriteFile((wav_dir / (name + ".wav")).string(), WavBytes(s, kPackRate));
    return "";
}

// Worker: every jobs-th sound from first; problems go to stderr, one a line.
// espeak-ng carries a little state from one utterance to the next (a sound
// may differ by a few samples with the one spoken before it), so the split
// is fixed: the same inputs and job count give the same files.
int RunWorker(const std::vector<std::string>& sounds, size_t first, size_t jobs, const fs::path& wav_dir,
              const VoiceSettings& voice) {
    int failed = 0;
    try {
        Speaker speaker(voice);
        for (size_t i = first; i < sounds.size(); i += jobs) {
            std::string why = MakeSound(speaker, sounds[i], wav_dir);
            if (!why.empty()) {
                std::fprintf(stderr, "voice_pack: %s\n", why.c_str());
                failed = 1;
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "voice_pack: %s\n", e.what());
        failed = 1;
    }
    return failed;
}

}  // namespace

PackPlan PlanPack(const std::vector<Hanzi>& hanzi, const std::map<std::string, UnihanReadings>& unihan,
                  const std::map<std::string, std::vector<std::string>>& table,
                  const std::map<std::string, Override>& overrides) {
    PackPlan plan;
    std::set<std::string> sounds, known;
    std::map<std::string, std::string> read;  // UTF-8 character -> reading
    for (const Hanzi& h : hanzi) {
        known.insert(h.utf8);
        Choice choice;
        if (auto o = overrides.find(h.utf8); o != overrides.end()) {
            choice = {o->second.reading, Rule::kOverride};
        } else {
            auto u = unihan.find(h.utf8);
            auto t = table.find(h.utf8);
            choice = ChooseReading(u == unihan.end() ? nullptr : &u->second, t == table.end() ? nullptr : &t->second);
        }
        if (choice.reading.empty()) {
            plan.errors.push_back(h.utf8 + ": no reading in Unihan or the pinyin table");
            continue;
        }
        if (PinyinToPhonemes(choice.reading).empty()) {
            plan.errors.push_back(h.utf8 + ": reading \"" + choice.reading + "\" (" + RuleName(choice.rule) +
                                  ") is not a toneful pinyin syllable");
            continue;
        }
        ++plan.rules[choice.rule];
        plan.index.push_back({h.gbk, choice.reading});
        read[h.utf8] = choice.reading;
        sounds.insert(choice.reading);
        if (h.utf8 == kFallbackCharacter) plan.fallback_sound = choice.reading;
    }
    for (const auto& [character, o] : overrides)
        if (!known.count(character)) plan.errors.push_back(character + ": overridden but not among the characters");
    if (plan.fallback_sound.empty()) plan.errors.push_back(std::string(kFallbackCharacter) + ": missing, no wu2.wav");

    for (const auto& [character, as] : kReadAsHanzi)
        if (auto r = read.find(as); r != read.end()) plan.index.push_back({Utf8ToGbk(character), r->second});
    plan.silences[kPauseSound] = kPauseSeconds;
    plan.silences[kStopSound] = kStopSeconds;
    for (const char* character : kPauseCharacters) plan.index.push_back({Utf8ToGbk(character), kPauseSound});
    for (const char* character : kStopCharacters) plan.index.push_back({Utf8ToGbk(character), kStopSound});
    plan.sounds.assign(sounds.begin(), sounds.end());
    return plan;
}

std::vector<std::string> WritePack(const PackPlan& plan, const std::string& dir, int jobs,
                                   const VoiceSettings& voice) {
    std::vector<std::string> problems;
    const fs::path root(dir), wav_dir = root / "wav";
    fs::create_directories(wav_dir);
    for (const auto& entry : fs::directory_iterator(wav_dir))
        if (entry.path().extension() == ".wav") fs::remove(entry.path());
    fs::remove(root / "hanzi.dat");

    std::fflush(nullptr);
    const size_t workers = std::max<size_t>(1, std::min<size_t>(jobs, plan.sounds.size()));
    std::vector<pid_t> pids;
    for (size_t w = 0; w < workers; ++w) {
        pid_t pid = fork();
        if (pid == 0) _exit(RunWorker(plan.sounds, w, workers, wav_dir, voice));
        if (pid < 0) {
            problems.push_back("cannot start a worker process");
            break;
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            problems.push_back("a synthesis worker failed (see above)");
    }
    if (!problems.empty()) return problems;

    Samples beep = Beep(kPackRate);
    if (std::string why = CheckSound(beep, kPackRate); !why.empty()) return {"_long: " + why};
    WriteFile((wav_dir / "_long.wav").string(), WavBytes(beep, kPackRate));
    for (const auto& [name, seconds] : plan.silences)
        WriteFile((wav_dir / (name + ".wav")).string(),
                  WavBytes(Samples(static_cast<size_t>(seconds * kPackRate), 0), kPackRate));
    fs::copy_file(wav_dir / (plan.fallback_sound + ".wav"), root / "wu2.wav", fs::copy_options::overwrite_existing);
    const fs::path tmp = root / "hanzi.dat.tmp";
    WriteFile(tmp.string(), BuildIndex(plan.index));
    fs::rename(tmp, root / "hanzi.dat");
    return problems;
}

}  // namespace voice_pack
