// What the telephony peers (the virtual modem, the AT modem) use of the
// platform: the clock and its scheduled work, the reset hook and the
// loader's hiding; on Linux also the serial lines' transit counts, the
// line device's backend and G.711. The Linux platform layer implements it;
// the Windows stand-in modem brings its own (thread timers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace peer {

using Micros = int64_t;
constexpr Micros kSecond = 1000000;
constexpr Micros kMilli = 1000;

Micros Now();
// Runs fn from the loop of the thread that asked, `delay` from now; an id for Cancel.
uint64_t After(Micros delay, std::function<void()> fn);
void Cancel(uint64_t id);
// Called when the platform is reset (tests); never under Wine.
void OnReset(std::function<void()> hook);
// The loader's view of a library: hidden from the next binding.
void HideLibrary(const std::string& dllName, bool hidden);
void HideExport(const std::string& dllName, const std::string& exportName, bool hidden);

#ifndef _WIN32
// ---- serial lines: bytes on their way, per direction (see sim::SerialSent)
uint64_t SerialKey(uint64_t rdev, bool towardModem);
void SerialSent(uint64_t key, size_t n);
void SerialTaken(uint64_t key, size_t n);
void SerialForget(uint64_t key);

// ---- comm ports the modem lends for data calls (see sim::OpenCommPort)
void* OpenCommPort(int fd, std::function<void(size_t)> delivered);
void RevokeCommPort(void* port);

// ---- the line device: the wave id a call's wave/in and wave/out name,
// and the backend that carries its sound
extern const unsigned kLineDevice;
struct LineBackend {
    std::function<void(bool output, bool on)> stream;
    std::function<void(const int16_t* samples, size_t n)> play;
    std::function<void()> flush;
    std::function<void(int64_t start, int16_t* out, size_t n)> hear;
    std::function<bool(uint64_t upTo)> taken;
    std::function<bool(int64_t upTo)> heard;
};
void SetLineBackend(LineBackend backend);
void ClearLineBackend();

// ---- G.711
uint8_t MuLawEncode(int16_t sample);
int16_t MuLawDecode(uint8_t code);
uint8_t ALawEncode(int16_t sample);
int16_t ALawDecode(uint8_t code);
#endif

}  // namespace peer
