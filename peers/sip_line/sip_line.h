// The SIP line: one device, one application, one line and one call at a
// time. Two threads share it. The control's thread owns the application's
// view (line, call state, notifications through the hidden window); the
// SIP thread owns every libre object and runs re_main. The control's
// thread posts commands to the SIP thread through libre's message queue;
// the SIP thread hands events back through the hidden window. Sound meets
// the line's wave devices in Media, under its lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "peers/sip_line/sip_config.h"
#include "platform/peer.h"
#include "platform/platform.h"

#define SIP_EXPORT extern "C" __attribute__((visibility("default")))

namespace sipline {

inline constexpr DWORD kServiceVersion = 0x00020002;
inline constexpr DWORD kLowVersion = 0x00010003;
inline constexpr UINT kEventMessage = WM_USER + 0x111;
inline constexpr DWORD kDigitModes = LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND;
inline constexpr int kRingEveryMs = 4000;
inline constexpr int kDialLimitMs = 60000;
inline constexpr size_t kFrame = 160;  // 20 ms at 8 kHz
inline constexpr peer::Micros kFrameTime = 20 * peer::kMilli;

inline LONG Err(DWORD code) { return static_cast<LONG>(code); }

// ---- what the SIP thread tells the control's thread
enum class EventKind { Offered, Ring, Connected, Ended, Reply, Key, Log };
enum class EndHow { Normal, Busy, NoAnswer, Unavailable };
struct Event {
    Event(EventKind k, unsigned c = 0, std::string t = std::string(), EndHow h = EndHow::Normal, LONG rq = 0, LONG rs = 0,
          char ky = 0)
        : kind(k), call(c), text(std::move(t)), how(h), request(rq), result(rs), key(ky) {}
    EventKind kind;
    unsigned call = 0;  // the call's serial
    std::string text;   // Offered: the caller's number; Log: the line
    EndHow how = EndHow::Normal;
    LONG request = 0, result = 0;
    char key = 0;
};

// ---- what the control's thread asks of the SIP thread
enum Command { kAnswer = 1, kDrop, kDial, kQuit };
struct CommandData {
    unsigned call = 0;
    LONG request = 0;
    std::string number;
};

// The control's view of the call.
struct Call {
    HCALL handle = 0;
    unsigned serial = 0;
    bool incoming = false;
    DWORD state = 0;
    std::string callerId, dialed;
    DWORD callerIdFlags = 0;
    DWORD rings = 0;
    DWORD monitor = 0;
    bool farEndGone = false;
};

struct Line {
    Config config;
    bool configured = false;
    bool started = false;  // the SIP thread runs and listens
    std::string name;
    HLINEAPP app = 0;
    LINECALLBACK callback = nullptr;
    std::atomic<HWND> window{nullptr};
    HLINE line = 0;
    DWORD_PTR instance = 0;
    DWORD lineStates = 0;
    Call call;
    HLINEAPP nextApp = 0x00610001;
    HLINE nextLine = 0x00620001;
    HCALL nextCall = 0x00630001;
    LONG nextRequest = 1;
    // Shared with the SIP thread.
    std::atomic<bool> open{false};      // a line is open: INVITEs are offered
    std::atomic<bool> busy{false};      // the control's call is not idle yet
    std::atomic<unsigned> nextSerial{1};
    std::mutex eventLock;
    std::deque<Event> events;
};

Line& TheLine();

// The line's sound, shared by the wave devices (control's thread) and the
// RTP sender and receiver (SIP thread).
struct Media {
    std::mutex lock;
    bool flowing = false;          // a call carries sound
    bool txOpen = false, rxOpen = false;
    std::deque<int16_t> tx;        // to send
    uint64_t txQueued = 0;         // samples given by the output device since it opened
    uint64_t txSent = 0;           // of them, sent or dropped
    std::vector<int16_t> rx;       // heard since the input device opened (or the call's sound began)
    peer::Micros rxStart = -1;     // clock time of rx[0]
};
Media& TheMedia();

// ---- control's thread (sip_calls.cpp)
void Emit(Event e);  // from the SIP thread
LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void Post(DWORD hDevice, DWORD message, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3);
void SetCallState(DWORD state, DWORD mode, DWORD privilege = 0);
LONG NextRequest();
void AttachWave();
// To the debugger output; a failure to stderr as well ("marlune: " first).
// From either thread.
void Log(const std::string& line, bool failure = false);

// ---- SIP thread (sip_stack.cpp)
// Starts the SIP thread and waits until it listens (or cannot: `error`).
bool StartStack(const Config& c, std::string& error);
void Ask(Command cmd, CommandData data);
// The media: sending and hearing (sip_media.cpp), on the SIP thread.
struct MediaLeg;
MediaLeg* StartMedia(void* rtp, const std::string& address, unsigned port, int pt, int telephoneEvent, unsigned call);
void RetargetMedia(MediaLeg* m, const std::string& address, unsigned port, int pt, int telephoneEvent);
void StopMedia(MediaLeg* m);
// An RTP packet for the call's media (any payload type).
void MediaReceived(MediaLeg* m, uint8_t pt, uint32_t ts, uint16_t seq, void* mb);

}  // namespace sipline
