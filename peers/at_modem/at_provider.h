// The AT voice-modem telephony service: its state, the command queue with
// a time-out on every command, the call's state machine driven by result
// codes and DLE events, notifications through a hidden window, and the
// line's wave devices over the modem's voice stream.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "peers/at_modem/at_link.h"
#include "peers/at_modem/voice_format.h"
#include "platform/peer.h"
#include "platform/platform.h"

#define AT_EXPORT extern "C" __attribute__((visibility("default")))

namespace atmodem {

inline constexpr DWORD kServiceVersion = 0x00020002;
inline constexpr DWORD kLowVersion = 0x00010003;
inline constexpr UINT kNotifyMessage = WM_USER + 0x101;
inline constexpr UINT kArrivedMessage = WM_USER + 0x102;
inline constexpr DWORD kDigitModes = LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND;
inline constexpr int kCommandMs = 3000;        // an ordinary command
inline constexpr int kProbeMs = 1000;          // the whole set-up probe, on the caller's thread
inline constexpr int kDialMs = 90000;          // dialling until the far end answers or not
inline constexpr int kRingGoneMs = 10000;      // an offered call whose rings stopped
inline constexpr int kCallerIdSettleMs = 200;  // the rest of a caller-id block after its last line
// Sound given to the modem ahead of what it has played, at most.
inline constexpr peer::Micros kVoiceLead = 250 * peer::kMilli;
// How often the sound ahead is topped up.
inline constexpr peer::Micros kVoicePiece = 40 * peer::kMilli;

inline LONG Err(DWORD code) { return static_cast<LONG>(code); }

enum class Dialect { V253, Rockwell };

enum class Outcome { Ok, Error, Connect, Vcon, Busy, NoAnswer, NoCarrier, NoDialtone, Timeout, Gone };

struct Command {
    std::string text;  // without "AT" and CR; sent as is when `raw`
    bool raw = false;
    int timeoutMs = kCommandMs;
    bool expectData = false;
    std::function<void(Outcome, const std::vector<std::string>&)> done;
};

struct Call {
    HCALL handle = 0;
    bool incoming = false;
    DWORD state = 0;
    // The caller-id block: NMBR ("P"/"O" withheld or out of area: no
    // number) and NAME, reported once when complete.
    std::string callerId, callerName;
    DWORD callerIdFlags = 0;  // LINECALLPARTYID_*; 0 while nothing came
    bool callerIdSent = false;
    DWORD rings = 0;
    DWORD monitor = 0;
    std::string dialed;
    bool farEndGone = false;
    bool dropping = false;  // lineDrop asked: no more voice
};

// The one voice stream the modem carries at a time: +VTX, +VRX, or +VTR
// (both ways at once, on a modem that offers it).
enum class Stream { None, Tx, Rx, Duplex };

// Output samples up to `samples` are with the link (or dropped): taken once
// the device has taken `bytes` of the link's, played at `playEnd`.
struct TxMark {
    uint64_t samples, bytes;
    peer::Micros playEnd;
};

struct Voice {
    // Chosen at set-up from the modem's +VSM=? list.
    VoiceFormat format{128, Coding::Unsigned8, "8-bit unsigned"};
    bool fullDuplex = false;  // the modem takes +VTR
    bool txWanted = false, rxWanted = false;  // the line's output / input device is open
    Stream stream = Stream::None;  // asked of the modem (its end not yet asked for)
    bool active = false;           // CONNECT came: voice data flows
    unsigned session = 0;          // which stream a CONNECT answers
    uint64_t retune = 0;           // the devices changed: the stream follows
    std::string txUnsent;          // encoded output not yet given to the link (unshielded)
    uint64_t txSamples = 0;        // output samples played since the device opened
    uint64_t txHanded = 0;         // of them, given to the link or dropped
    std::deque<TxMark> txMarks;
    peer::Micros playEnd = 0;      // when what the modem was given will have played
    uint64_t pacer = 0;            // the next top-up
    bool rxActive = false;         // received data is being kept for the input device
    peer::Micros streamStart = 0;   // the CONNECT that started the stream
    uint64_t rxSeen = 0;           // samples received since then
    uint64_t rxBytes = 0;          // bytes received since then
    peer::Micros rxStart = 0;       // clock time of rx[0]
    std::vector<int16_t> rx;
    std::string rxCarry;           // half a 16-bit sample
};

struct Provider {
    std::string path;
    std::string name;
    Dialect dialect = Dialect::V253;
    Link link;
    bool linkOpen = false;
    HLINEAPP app = 0;
    LINECALLBACK callback = nullptr;
    std::atomic<HWND> window{nullptr};
    HLINE line = 0;
    DWORD_PTR instance = 0;
    DWORD lineStates = 0;
    std::deque<Command> queue;
    bool sent = false;
    uint64_t timer = 0;
    uint64_t ringTimer = 0;
    uint64_t callerIdTimer = 0;
    std::vector<std::string> info;
    Call call;
    Voice voice;
    HLINEAPP nextApp = 0x00510001;
    HLINE nextLine = 0x00520001;
    HCALL nextCall = 0x00530001;
    LONG nextRequest = 1;
};

// The one modem this library drives.
Provider& AtModem();
void ResetProvider();

// ---- link and commands (at_engine.cpp)
// Opens the device and reads its name; false when it cannot be opened or
// does not answer. Waits kProbeMs at most in all, asks nothing again.
bool Probe();
void Enqueue(Command c);
// "+FCLASS=8" in the modem's dialect.
std::string Cmd(const char* v253, const char* rockwell);
void OnArrived();
// The modem is gone or stuck: calls end, the line closes.
void LineGone();

// ---- notifications and calls (at_calls.cpp)
void Post(DWORD hDevice, DWORD message, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3);
void SetCallState(DWORD state, DWORD mode, DWORD privilege = 0);
LONG Reply(LONG result);  // a request id answered now by LINE_REPLY
LONG ReplyLater();
void Answered(LONG id, LONG result);
void InitVoiceMode();
void OnResultLine(const std::string& line);
// Reports the caller id gathered so far (once per call).
void CallerIdDone();
void OnDle(char code);
void Answer(LONG id);
void Dial(LONG id, const std::string& number);
void Drop(LONG id);
LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- the line's wave devices (at_voice.cpp)
void AttachWave();
void DetachWave();
// Brings the voice stream in line with the call and the open devices now
// (before a command that needs the command state).
void EndStreams();
// The call's state changed: the stream follows it.
void VoiceFollowsCall();
void OnVoiceData(const std::string& bytes);
// DLE ETX from the modem: the received data has ended.
void OnReceiveEnd();
// The modem left the voice stream on its own (NO CARRIER): nothing to end.
void StreamCut();

}  // namespace atmodem
