// The peers' view of the Linux platform layer.
#include "platform/peer.h"

#include "comm_port.h"
#include "g711.h"
#include "sim.h"
#include "wave_devices.h"
#include "win32/win_library.h"

namespace peer {

Micros Now() { return sim::Now(); }
uint64_t After(Micros delay, std::function<void()> fn) { return sim::ScheduleAfter(delay, std::move(fn)); }
void Cancel(uint64_t id) { sim::Cancel(id); }
void OnReset(std::function<void()> hook) { sim::AddResetHook(std::move(hook)); }
void HideLibrary(const std::string& dllName, bool hidden) { sim::HideLibrary(dllName, hidden); }
void HideExport(const std::string& dllName, const std::string& exportName, bool hidden) {
    sim::HideExport(dllName, exportName, hidden);
}

uint64_t SerialKey(uint64_t rdev, bool towardModem) { return sim::SerialKey(rdev, towardModem); }
void SerialSent(uint64_t key, size_t n) { sim::SerialSent(key, n); }
void SerialTaken(uint64_t key, size_t n) { sim::SerialTaken(key, n); }
void SerialForget(uint64_t key) { sim::SerialForget(key); }

void* OpenCommPort(int fd, std::function<void(size_t)> delivered) { return sim::OpenCommPort(fd, std::move(delivered)); }
void RevokeCommPort(void* port) { sim::RevokeCommPort(port); }

const unsigned kLineDevice = sim::kLineDevice;
void SetLineBackend(LineBackend b) {
    sim::SetLineBackend(sim::kLineDevice, sim::LineBackend{std::move(b.stream), std::move(b.play),
                                                           std::move(b.flush), std::move(b.hear),
                                                           std::move(b.taken), std::move(b.heard)});
}
void ClearLineBackend() { sim::SetLineBackend(sim::kLineDevice, sim::LineBackend{}); }

uint8_t MuLawEncode(int16_t sample) { return sim::MuLawEncode(sample); }
int16_t MuLawDecode(uint8_t code) { return sim::MuLawDecode(code); }
uint8_t ALawEncode(int16_t sample) { return sim::ALawEncode(sample); }
int16_t ALawDecode(uint8_t code) { return sim::ALawDecode(code); }

}  // namespace peer
