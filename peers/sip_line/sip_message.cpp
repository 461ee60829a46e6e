#include "peers/sip_line/sip_message.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace sipline {

namespace {

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

bool Digits(const std::string& s) { return !s.empty() && s.size() <= 10 && s.find_first_not_of("0123456789") == std::string::npos; }

const char kKeys[] = "0123456789*#ABCD";

}  // namespace

bool Sdp::Has(int pt) const { return std::find(formats.begin(), formats.end(), pt) != formats.end(); }

bool ParseSdp(const std::string& text, Sdp& out) {
    Sdp s;
    std::string sessionAddress, mediaAddress;
    bool inAudio = false, audio = false, anyMedia = false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.size() < 2 || line[1] != '=') continue;
        const std::string v = line.substr(2);
        if (line[0] == 'm') {
            inAudio = false;
            anyMedia = true;
            if (audio) continue;  // the first audio stream only
            std::istringstream m(v);
            std::string media, port, proto, fmt;
            m >> media >> port >> proto;
            if (media != "audio" || proto != "RTP/AVP" || !Digits(port)) continue;
            unsigned long p = std::stoul(port);
            if (p == 0 || p > 65535) continue;
            s.port = static_cast<unsigned>(p);
            while (m >> fmt)
                if (Digits(fmt) && std::stoul(fmt) < 128) s.formats.push_back(static_cast<int>(std::stoul(fmt)));
            inAudio = audio = true;
        } else if (line[0] == 'c') {
            std::istringstream c(v);
            std::string net, type, addr;
            c >> net >> type >> addr;
            if (net != "IN" || type != "IP4") continue;
            addr = addr.substr(0, addr.find('/'));
            if (inAudio) mediaAddress = addr;
            else if (!anyMedia) sessionAddress = addr;
        } else if (line[0] == 'a' && inAudio && v.rfind("rtpmap:", 0) == 0) {
            std::istringstream a(v.substr(7));
            std::string pt, name;
            a >> pt >> name;
            if (Digits(pt) && Lower(name).rfind("telephone-event/8000", 0) == 0 && s.Has(std::stoi(pt)))
                s.telephoneEvent = std::stoi(pt);
        }
    }
    s.address = mediaAddress.empty() ? sessionAddress : mediaAddress;
    if (!audio || s.address.empty()) return false;
    out = s;
    return true;
}

int ChooseCodec(const Sdp& offer) { return offer.Has(kPcmu) ? kPcmu : offer.Has(kPcma) ? kPcma : -1; }

static std::string Body(const std::string& address, unsigned port, uint64_t session, const std::vector<int>& formats,
                        int telephoneEvent) {
    std::ostringstream o;
    o << "v=0\r\no=marlune " << session << " " << session << " IN IP4 " << address << "\r\ns=marlune\r\nc=IN IP4 "
      << address << "\r\nt=0 0\r\nm=audio " << port << " RTP/AVP";
    for (int f : formats) o << " " << f;
    if (telephoneEvent >= 0) o << " " << telephoneEvent;
    o << "\r\n";
    for (int f : formats) o << "a=rtpmap:" << f << (f == kPcmu ? " PCMU/8000" : " PCMA/8000") << "\r\n";
    if (telephoneEvent >= 0)
        o << "a=rtpmap:" << telephoneEvent << " telephone-event/8000\r\na=fmtp:" << telephoneEvent << " 0-15\r\n";
    o << "a=ptime:20\r\na=sendrecv\r\n";
    return o.str();
}

std::string AnswerSdp(const Sdp& offer, const std::string& address, unsigned port, uint64_t session) {
    std::vector<int> formats;
    for (int f : {kPcmu, kPcma})
        if (offer.Has(f)) formats.push_back(f);
    return Body(address, port, session, formats, offer.telephoneEvent);
}

std::string OfferSdp(const std::string& address, unsigned port, uint64_t session) {
    return Body(address, port, session, {kPcmu, kPcma}, kOwnTelephoneEvent);
}

std::string CheckRequest(const std::string& method, const HeaderLookup& header, size_t datagramSize) {
    std::string v;
    for (const char* name : {"Via", "From", "To", "Call-ID"})
        if (!header(name, v) || Trim(v).empty()) return std::string("Missing or empty ") + name;
    if (!header("Via", v) || v.rfind("SIP/2.0/", 0) != 0) return "Bad Via";
    if (!header("CSeq", v)) return "Missing CSeq";
    std::istringstream cseq(v);
    std::string number, cseqMethod, extra;
    cseq >> number >> cseqMethod;
    if (!Digits(number) || std::stoull(number) > 0x7FFFFFFFull) return "Bad CSeq number";
    if (cseqMethod != method || (cseq >> extra)) return "CSeq method does not match";
    if (header("Content-Length", v)) {
        v = Trim(v);
        if (!Digits(v) || std::stoull(v) > datagramSize) return "Bad Content-Length";
    }
    return "";
}

char EventKey(const uint8_t* payload, size_t n) {
    if (n < 4 || payload[0] > 15) return '\0';
    return kKeys[payload[0]];
}

char DtmfRelayKey(const std::string& body) {
    std::istringstream in(body);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos || Lower(Trim(line.substr(0, eq))) != "signal") continue;
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() != 1) return '\0';
        char c = static_cast<char>(toupper(static_cast<unsigned char>(value[0])));
        return std::string(kKeys).find(c) != std::string::npos ? c : '\0';
    }
    return '\0';
}

}  // namespace sipline
