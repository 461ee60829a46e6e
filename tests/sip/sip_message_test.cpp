// What the SIP line reads and writes apart from libre: the SDP answer's
// rules, the checks that turn a request away with 400, the keys of events
// and INFO bodies, and the settings the options give.
#include <sys/stat.h>

#include <fstream>
#include <map>

#include "peers/sip_line/sip_config.h"
#include "peers/sip_line/sip_message.h"
#include "tests/support/test_env.h"

using namespace sipline;

namespace {

std::string Offer(const std::string& media, const std::string& extra = "") {
    return "v=0\r\no=- 1 1 IN IP4 10.0.0.9\r\ns=-\r\nc=IN IP4 10.0.0.9\r\nt=0 0\r\nm=audio 4000 RTP/AVP " + media +
           "\r\n" + extra;
}

std::string MediaLine(const std::string& sdp) {
    size_t at = sdp.find("m=audio");
    return sdp.substr(at, sdp.find("\r\n", at) - at);
}

}  // namespace

TEST(SipSdpTest, TheAnswerListsOnlyOfferedG711PcmuFirstAndKeepsTheEventType) {
    const struct {
        std::string offer;
        int codec;
        const char* media;  // of the answer
    } cases[] = {
        {Offer("8 0 101", "a=rtpmap:101 telephone-event/8000\r\n"), kPcmu, "m=audio 5004 RTP/AVP 0 8 101"},
        {Offer("8 96", "a=rtpmap:96 telephone-event/8000\r\na=fmtp:96 0-16\r\n"), kPcma, "m=audio 5004 RTP/AVP 8 96"},
        {Offer("18 0 3"), kPcmu, "m=audio 5004 RTP/AVP 0"},
        // An event type named but not in the m= line is not offered.
        {Offer("0", "a=rtpmap:101 telephone-event/8000\r\n"), kPcmu, "m=audio 5004 RTP/AVP 0"},
        {Offer("9 18 3"), -1, nullptr},
    };
    for (const auto& c : cases) {
        Sdp offer;
        ASSERT_TRUE(ParseSdp(c.offer, offer)) << c.offer;
        EXPECT_EQ(ChooseCodec(offer), c.codec) << c.offer;
        if (!c.media) continue;
        const std::string answer = AnswerSdp(offer, "127.0.0.7", 5004, 1);
        EXPECT_EQ(MediaLine(answer), c.media);
        EXPECT_NE(answer.find("c=IN IP4 127.0.0.7\r\n"), std::string::npos);
    }
    EXPECT_EQ(MediaLine(OfferSdp("127.0.0.7", 5004, 1)), "m=audio 5004 RTP/AVP 0 8 101");
}

TEST(SipSdpTest, TheMediaAddressIsTheAudioStreamsOwnElseTheSessions) {
    const struct {
        std::string sdp;
        bool ok;
        const char* address;
        unsigned port;
    } cases[] = {
        {Offer("0"), true, "10.0.0.9", 4000},
        {Offer("0", "c=IN IP4 10.0.0.10\r\n"), true, "10.0.0.10", 4000},
        // Another stream's address is not the audio's.
        {"v=0\r\nm=video 6000 RTP/AVP 96\r\nc=IN IP4 10.0.0.11\r\nm=audio 4002 RTP/AVP 0\r\n", false, "", 0},
        {"v=0\r\nc=IN IP4 10.0.0.12\r\nm=video 6000 RTP/AVP 96\r\nc=IN IP4 10.0.0.11\r\nm=audio 4002 RTP/AVP 0\r\n", true,
         "10.0.0.12", 4002},
        {"v=0\r\nc=IN IP4 10.0.0.9\r\nm=audio 0 RTP/AVP 0\r\n", false, "", 0},
        {"v=0\r\nc=IN IP4 10.0.0.9\r\nm=audio 99999 RTP/AVP 0\r\n", false, "", 0},
        {"v=0\r\nc=IN IP4 10.0.0.9\r\nm=audio 4000 RTP/SAVP 0\r\n", false, "", 0},
        {"garbage", false, "", 0},
    };
    for (const auto& c : cases) {
        Sdp s;
        EXPECT_EQ(ParseSdp(c.sdp, s), c.ok) << c.sdp;
        if (!c.ok) continue;
        EXPECT_EQ(s.address, c.address);
        EXPECT_EQ(s.port, c.port);
    }
}

TEST(SipRequestTest, HeadersThatDoNotHoldGiveTheReasonFor400) {
    const std::map<std::string, std::string> good = {{"Via", "SIP/2.0/UDP 1.2.3.4:5060;branch=z9hG4bK1"},
                                                     {"From", "<sip:a@b>;tag=1"},
                                                     {"To", "<sip:c@d>"},
                                                     {"Call-ID", "x@y"},
                                                     {"CSeq", "7 INVITE"},
                                                     {"Content-Length", "100"}};
    const struct {
        const char* header;
        const char* value;  // nullptr: absent
        const char* reason;
    } cases[] = {
        {"CSeq", "7 INVITE", ""},
        {"Via", nullptr, "Missing or empty Via"},
        {"Via", "HTTP/1.1 x", "Bad Via"},
        {"From", "  ", "Missing or empty From"},
        {"To", nullptr, "Missing or empty To"},
        {"Call-ID", nullptr, "Missing or empty Call-ID"},
        {"CSeq", nullptr, "Missing CSeq"},
        {"CSeq", "x INVITE", "Bad CSeq number"},
        {"CSeq", "99999999999 INVITE", "Bad CSeq number"},
        {"CSeq", "7 BYE", "CSeq method does not match"},
        {"CSeq", "7 INVITE extra", "CSeq method does not match"},
        {"Content-Length", "201", "Bad Content-Length"},
        {"Content-Length", "-1", "Bad Content-Length"},
        {"Content-Length", "200", ""},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::string> h = good;
        if (c.value) h[c.header] = c.value;
        else h.erase(c.header);
        auto lookup = [&h](const std::string& name, std::string& value) {
            auto it = h.find(name);
            if (it == h.end()) return false;
            value = it->second;
            return true;
        };
        EXPECT_EQ(CheckRequest("INVITE", lookup, 200), c.reason) << c.header << ": " << (c.value ? c.value : "-");
    }
}

TEST(SipKeysTest, EventsAndDtmfRelayBodiesGiveTheirKeys) {
    const struct {
        std::vector<uint8_t> payload;
        char key;
    } events[] = {{{0, 0x0A, 0, 160}, '0'}, {{9, 0x8A, 1, 64}, '9'}, {{10, 0, 0, 0}, '*'}, {{11, 0, 0, 0}, '#'},
                  {{15, 0, 0, 0}, 'D'},      {{16, 0, 0, 0}, '\0'},  {{5, 0, 0}, '\0'}};
    for (const auto& e : events) EXPECT_EQ(EventKey(e.payload.data(), e.payload.size()), e.key);
    const struct {
        const char* body;
        char key;
    } bodies[] = {{"Signal=5\r\nDuration=160\r\n", '5'}, {"signal = #\r\n", '#'}, {"Signal=a", 'A'},
                  {"Signal=12", '\0'},                   {"Duration=160", '\0'}, {"Signal=x", '\0'}};
    for (const auto& b : bodies) EXPECT_EQ(DtmfRelayKey(b.body), b.key) << b.body;
}

class SipConfigTest : public MarluneTest {};

TEST_F(SipConfigTest, OptionsReadAsTheyAreWrittenAndCredentialsOnlyFromAPrivateFile) {
    HostPort hp;
    EXPECT_TRUE(ParseHostPort("127.0.0.1:5060", hp));
    EXPECT_EQ(hp.Text(), "127.0.0.1:5060");
    for (const char* bad : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "host:5060", ":5060", "127.0.0.1:50x"})
        EXPECT_FALSE(ParseHostPort(bad, hp)) << bad;
    unsigned low = 0, high = 0;
    EXPECT_TRUE(ParsePortRange("20000-20100", low, high));
    EXPECT_EQ(low, 20000u);
    EXPECT_EQ(high, 20100u);
    for (const char* bad : {"20100-20000", "80-90", "20000", "a-b"}) EXPECT_FALSE(ParsePortRange(bad, low, high)) << bad;
    std::string user;
    EXPECT_TRUE(ParseRegisterUri("sip:alice@10.0.0.1", user, hp));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(hp.Text(), "10.0.0.1:5060");
    EXPECT_TRUE(ParseRegisterUri("sip:alice@10.0.0.1:5070", user, hp));
    EXPECT_EQ(hp.Text(), "10.0.0.1:5070");
    for (const char* bad : {"alice@10.0.0.1", "sip:10.0.0.1", "sip:@10.0.0.1", "sip:a:b@10.0.0.1"})
        EXPECT_FALSE(ParseRegisterUri(bad, user, hp)) << bad;

    std::ofstream("auth") << "alice:pa:ss\r\n";
    std::string password, error;
    for (mode_t mode : {0644, 0640, 0604}) {
        chmod("auth", mode);
        EXPECT_FALSE(ReadAuthFile("auth", user, password, error)) << mode;
        EXPECT_EQ(error, "the SIP auth file auth can be read by others: chmod 600 auth");
    }
    chmod("auth", 0600);
    ASSERT_TRUE(ReadAuthFile("auth", user, password, error)) << error;
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "pa:ss");
    std::ofstream("auth") << "nocolon\n";
    EXPECT_FALSE(ReadAuthFile("auth", user, password, error));
    EXPECT_FALSE(ReadAuthFile("missing", user, password, error));
    EXPECT_EQ(error, "cannot read the SIP auth file missing");
}
