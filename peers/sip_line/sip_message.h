// What the SIP line reads and writes of messages, apart from libre: the
// SDP offer and answer, the checks on a request's headers, and the keys
// of RFC 4733 events and of SIP INFO dtmf-relay bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sipline {

constexpr int kPcmu = 0, kPcma = 8;
constexpr int kOwnTelephoneEvent = 101;

struct Sdp {
    std::string address;  // c= (the media's, else the session's)
    unsigned port = 0;    // m=audio
    std::vector<int> formats;  // in the order offered
    int telephoneEvent = -1;   // its payload type, -1 when not offered
    bool Has(int pt) const;
};

// False when there is no audio stream on RTP/AVP with an address and a port.
bool ParseSdp(const std::string& text, Sdp& out);
// The G.711 law to use: PCMU when offered, else PCMA; -1 when neither.
int ChooseCodec(const Sdp& offer);
// The answer: the line's address, the offered formats it takes (PCMU first),
// telephone-event on the offered payload type.
std::string AnswerSdp(const Sdp& offer, const std::string& address, unsigned port, uint64_t session);
// The line's own offer: PCMU, PCMA, telephone-event.
std::string OfferSdp(const std::string& address, unsigned port, uint64_t session);

// A request's header (first value, trimmed) or false when absent.
using HeaderLookup = std::function<bool(const std::string& name, std::string& value)>;
// Empty when the request's Via, From, To, Call-ID, CSeq (numeric, with the
// request's method) and Content-Length (0 up to the datagram's size) hold;
// else the reason for a 400.
std::string CheckRequest(const std::string& method, const HeaderLookup& header, size_t datagramSize);

// The key of an RFC 4733 event payload ('\0' for none or not a key).
char EventKey(const uint8_t* payload, size_t n);
// Signal= of an application/dtmf-relay body ('\0' when none).
char DtmfRelayKey(const std::string& body);

}  // namespace sipline
