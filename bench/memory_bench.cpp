// Peak memory (getrusage) of simulated sessions through a real control.
// Each measurement runs in a child process of its own, so that one peak
// does not hide the next.
//
//   memory_bench calls     peak after 100 and after 1,000 60-second calls
//                          (no tap, then with the line's tap)
//   memory_bench playback  peak growth while a 50 MiB WAV plays on the
//                          line and on the sound card (taps on), over the
//                          sound's size
//   memory_bench english [bytes]
//                          peak growth while PlayAllisEnglish speaks a text
//                          of `bytes` (1,000,000 unless given) on the sound
//                          card for a minute, and the call's own time
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/call_session.h"

namespace {

// Removes the scratch folder (the taps of long sessions are large).
void RemoveScratch(const std::string& dir) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

// Runs fn in a child; what it prints comes out as it is.
bool InChild(const std::function<int()>& fn) {
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        int r = fn();
        fflush(stdout);
        _exit(r);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int Calls(bool tap) {
    const std::string dir = bench::EnterScratch("calls");
    bench::CallSession session;
    if (tap) sim::SetTapPath(sim::kLineDevice, "line_tap.wav");
    if (!session.ok()) return 1;
    long at100 = 0;
    for (int i = 1; i <= 1000; ++i) {
        if (!session.Call()) {
            printf("call %d failed\n", i);
            return 1;
        }
        if (i == 100) at100 = bench::PeakRssKiB();
    }
    long at1000 = bench::PeakRssKiB();
    printf("calls tap=%-3s peak after 100 calls: %7.1f MiB, after 1000 calls: %7.1f MiB, ratio %.3f\n",
           tap ? "on" : "off", at100 / 1024.0, at1000 / 1024.0, static_cast<double>(at1000) / at100);
    if (tap)
        printf("         line tap holds %.0f s of the session's %.0f s\n",
               static_cast<double>(sim::TapLength(sim::kLineDevice)) / sim::TapRate(sim::kLineDevice),
               static_cast<double>(sim::Now()) / sim::kSecond);
    RemoveScratch(dir);
    return 0;
}

// A 50 MiB PCM 8 kHz 16-bit WAV, written in pieces.
bool WriteLargeWav(const std::string& path, DWORD bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    auto h = riff::Header(riff::Pcm16Format(8000), 16, bytes);
    fwrite(h.data(), 1, h.size(), f);
    std::vector<int16_t> piece(65536);
    for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<int16_t>((i * 37) % 20000 - 10000);
    for (DWORD done = 0; done < bytes;) {
        size_t n = std::min<size_t>(piece.size() * 2, bytes - done);
        fwrite(piece.data(), 1, n, f);
        done += static_cast<DWORD>(n);
    }
    return fclose(f) == 0;
}

int PlayLargeWav(LONG dev) {
    const DWORD bytes = 50u << 20;
    const std::string dir = bench::EnterScratch("playback");
    if (!WriteLargeWav("large.wav", bytes)) return 1;
    bench::CallSession session;
    sim::SetTapPath(sim::kLineDevice, "line_tap.wav");
    sim::SetTapPath(sim::kSoundCardDevice, "card_tap.wav");
    if (!session.ok() || !vmodem_Offer(0, "1")) return 1;
    sim::RunFor(sim::kSecond);
    session.ctrl().AnswerTp();
    sim::RunFor(sim::kSecond);
    const long before = bench::PeakRssKiB();
    if (session.ctrl().PlayWav("large.wav", dev) != 0) return 1;
    sim::RunFor(static_cast<sim::Micros>(bytes / 16000 + 5) * sim::kSecond);
    sim::WriteTaps();
    const long after = bench::PeakRssKiB();
    const double grew = (after - before) * 1024.0;
    printf("playback %-10s sound %.1f MiB, peak grew %.1f MiB: %.3fx the sound (tap streamed to %s)\n",
           dev == 0 ? "line" : "sound card", bytes / 1048576.0, grew / 1048576.0, grew / bytes,
           dev == 0 ? "line_tap.wav" : "card_tap.wav");
    RemoveScratch(dir);
    return 0;
}

int SpeakEnglish(size_t bytes) {
    const std::string dir = bench::EnterScratch("english");
    std::string text;
    while (text.size() < bytes) text += "The quick brown fox jumps over the lazy dog. ";
    text.resize(bytes);
    int r = 0;
    {
        sim::Reset();
        auto module = std::make_unique<Module>();
        module->MakeCurrent();
        auto ctrl = std::make_unique<CMarluneCtrl>(*module);
        ctrl->CreateControlWindow(nullptr, RECT{0, 0, 10, 10});
        ctrl->PlayAllisEnglish("warm up", 1);  // the engine loads with its first phrase
        ctrl->StopPlayWav();
        sim::RunFor(sim::kSecond);
        const long before = bench::PeakRssKiB();
        auto ms = [](clockid_t clock) {
            timespec t{};
            clock_gettime(clock, &t);
            return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
        };
        const double start = ms(CLOCK_MONOTONIC), startCpu = ms(CLOCK_PROCESS_CPUTIME_ID);
        ctrl->PlayAllisEnglish(text, 1);
        const double took = ms(CLOCK_MONOTONIC) - start, tookCpu = ms(CLOCK_PROCESS_CPUTIME_ID) - startCpu;
        const bool speaking = module->core.speech->GetStatus() != 0;
        sim::RunFor(60 * sim::kSecond);
        const long after = bench::PeakRssKiB();
        printf("english %zu bytes: the call took %.1f ms (%.1f ms CPU), %s; peak grew %.1f MiB in the first minute\n",
               bytes, took, tookCpu, speaking ? "speaking" : "NOT speaking", (after - before) / 1024.0);
        r = speaking ? 0 : 1;
        ctrl->StopPlayWav();
        sim::RunFor(sim::kSecond);
        ctrl.reset();
        module.reset();
        sim::Reset();
    }
    RemoveScratch(dir);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = argc > 1 ? argv[1] : "all";
    bool ok = true;
    if (what == "calls" || what == "all") {
        ok = InChild([] { return Calls(false); }) && ok;
        ok = InChild([] { return Calls(true); }) && ok;
    }
    if (what == "playback" || what == "all") {
        ok = InChild([] { return PlayLargeWav(0); }) && ok;
        ok = InChild([] { return PlayLargeWav(1); }) && ok;
    }
    if (what == "english") {
        const size_t bytes = argc > 2 ? std::stoul(argv[2]) : 1000000;
        ok = InChild([bytes] { return SpeakEnglish(bytes); }) && ok;
    }
    return ok ? 0 : 1;
}
