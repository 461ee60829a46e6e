// A control on its window in a scratch folder, driven through whole
// simulated calls by its public methods and the caller's side of the
// virtual modem; shared by the call benchmarks.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "bench/scratch.h"
#include "control/front/marlune_ctrl.h"
#include "peers/virtual_modem/virtual_modem.h"
#include "platform/riff_wave.h"
#include "platform/sim/sim.h"
#include "platform/sim/wave_devices.h"

namespace bench {

// Peak resident set of this process so far, in KiB.
inline long PeakRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A new scratch folder made current.
inline std::string EnterScratch(const char* tag) {
    std::string dir = MakeScratch(tag);
    if (dir.empty() || chdir(dir.c_str()) != 0) return std::string();
    return dir;
}

// 8 kHz 16-bit mono tone of `seconds`.
inline void WriteTone(const std::string& path, double seconds, double hz) {
    std::vector<int16_t> s(static_cast<size_t>(seconds * 8000));
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(6000 * std::sin(2 * M_PI * hz * i / 8000.0));
    riff::WriteFile(path, riff::Pcm16Format(8000), 16, s.data(), static_cast<DWORD>(s.size() * 2));
}

class CallSession {
public:
    // In the current folder: the prompt (10 s) and the caller's voice (30 s).
    CallSession() {
        WriteTone("prompt.wav", 10, 440);
        WriteTone("caller.wav", 30, 220);
        sim::Reset();
        vmodem_Reset();
        module_ = std::make_unique<Module>();
        module_->MakeCurrent();
        ctrl_ = std::make_unique<CMarluneCtrl>(*module_);
        ctrl_->CreateControlWindow(nullptr, RECT{0, 0, 10, 10});
        ok_ = ctrl_->InitLine(0) != "-1" && ctrl_->OpenLine(0) == 0;
        sim::RunFor(0);
    }
    ~CallSession() {
        ctrl_->CloseLine();
        sim::RunFor(0);
        ctrl_.reset();
        module_.reset();
        sim::Reset();
    }
    bool ok() const { return ok_; }

    // One 60-second call: two rings, answer, a 10 s prompt, two keys, a
    // 30 s recording of the caller, the caller hangs up, the control too.
    bool Call() {
        if (!vmodem_Offer(0, "13800138000")) return false;
        vmodem_Ring(0);
        sim::RunFor(4 * sim::kSecond);
        vmodem_Ring(0);
        sim::RunFor(4 * sim::kSecond);
        if (ctrl_->AnswerTp() != 0) return false;
        sim::RunFor(sim::kSecond / 2);
        ctrl_->BeginMonitorDtmf(0);
        if (ctrl_->PlayWav("prompt.wav", 0) != 0) return false;
        sim::RunFor(10 * sim::kSecond + sim::kSecond / 2);
        vmodem_PressKeys(0, "1#");
        sim::RunFor(sim::kSecond);
        ctrl_->GetDtmf();
        if (!sim::SetInputWav(sim::kLineDevice, "caller.wav", false)) return false;
        if (ctrl_->RecordWav(0, "message.wav", 30) != 0) return false;
        sim::RunFor(30 * sim::kSecond + sim::kSecond / 2);
        vmodem_HangUp(0);
        sim::RunFor(0);
        ctrl_->HandUp();
        sim::RunFor(9 * sim::kSecond);
        return true;
    }

    CMarluneCtrl& ctrl() { return *ctrl_; }

private:
    std::unique_ptr<Module> module_;
    std::unique_ptr<CMarluneCtrl> ctrl_;
    bool ok_ = false;
};

}  // namespace bench
