// The SIP line end to end: `marlune run tests/sip/line_app.lua --sip ...`
// against SIPp scenarios, raw requests and baresip on loopback.
#include <arpa/inet.h>
#include <glob.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/sip_peer.h"
#include "tests/support/test_env.h"

using namespace siptest;

namespace {

void Sleep(double seconds) { usleep(static_cast<useconds_t>(seconds * 1e6)); }

void CopyFile(const std::string& from, const std::string& to) { std::ofstream(to, std::ios::binary) << Read(from); }

// The lines of the app's output that follow "0.12 " (the clock), in order.
std::vector<std::string> Said(const std::string& output) {
    std::vector<std::string> out;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        size_t sp = line.find(' ');
        if (sp != std::string::npos && sp > 0 && isdigit(static_cast<unsigned char>(line[0])) &&
            line.find('.') < sp)
            out.push_back(line.substr(sp + 1));
    }
    return out;
}

double SaidAt(const std::string& output, const std::string& what) {
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line))
        if (line.size() > what.size() && line.compare(line.size() - what.size(), what.size(), what) == 0 &&
            line.find(' ') == line.size() - what.size() - 1)
            return std::stod(line);
    return -1;
}

}  // namespace

class SipLineTest : public MarluneTest {
protected:
    // The service on a free port; true once its line is up.
    bool StartLine(const std::string& mode, std::vector<std::string> options = {}, double seconds = 15,
                   std::vector<std::string> env = {}) {
        port = FreePort();
        std::vector<std::string> argv = {MARLUNE_BIN, "run", DataFile("line_app.lua"), "--sip",
                                         "127.0.0.1:" + std::to_string(port), "--out", "out", "--for",
                                         std::to_string(seconds)};
        const unsigned rtp = FreePort() & ~1u;
        argv.push_back("--rtp-ports");
        argv.push_back(std::to_string(rtp) + "-" + std::to_string(rtp + 40));
        argv.insert(argv.end(), options.begin(), options.end());
        env.push_back("SIP_MODE=" + mode);
        if (!line.Start(argv, env, "line.txt")) return false;
        for (int i = 0; i < 200; ++i) {
            if (Output().find("line: SIP 127.0.0.1:") != std::string::npos) return true;
            Sleep(0.02);
        }
        return false;
    }
    std::string Output() const { return Read("line.txt"); }
    // SIPp with `scenario` (copied here, beside the files it plays) against the line.
    int Sipp(const std::string& scenario, std::vector<std::string> extra = {}, double seconds = 20) {
        CopyFile(DataFile(scenario), scenario);
        std::vector<std::string> argv = {"sipp",   "127.0.0.1:" + std::to_string(port), "-sf", scenario, "-m", "1",
                                         "-p",     std::to_string(FreePort()), "-mp", std::to_string(FreePort() & ~1u),
                                         "-nostdin", "-trace_err", "-timeout", "30s"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        Child sipp;
        if (!sipp.Start(argv, {}, "sipp.txt")) return -1;
        return sipp.Wait(seconds);
    }
    // The control's log of the run (its day file in the output folder).
    static std::string ControlLog() {
        std::string all;
        glob_t g;
        if (glob("out/*modem.txt", 0, nullptr, &g) == 0)
            for (size_t i = 0; i < g.gl_pathc; ++i) all += Read(g.gl_pathv[i]);
        globfree(&g);
        return all;
    }
    void BaresipCalls(const std::vector<int16_t>& voice);
    // The line's run ends (at --for, or stop()); its exit status.
    int EndLine(double seconds = 20) { return line.Wait(seconds); }

    Child line;
    unsigned port = 0;
};

// A caller speaks 440 Hz then DTMF 4 in band, sends 1 and 2 as RFC 4733
// events (end packets repeated) and 3 by SIP INFO, and hangs up. Over UDP
// and TCP: the number from P-Asserted-Identity, one ring, the answer's SDP
// (checked by the scenario: PCMU first, the offered telephone-event type,
// c= the line's address), every key once in order, the recording holding
// the caller's tone where it was said, the BYE ending the call.
TEST_F(SipLineTest, AnIncomingCallIsAnsweredHeardAndEndedByTheCaller) {
    for (const char* transport : {"u1", "t1"}) {
        SCOPED_TRACE(transport);
        std::vector<int16_t> voice = Tone(440, 0.5, 8000), gap(2400, 0), key = Dtmf('4', 0.08);
        voice.insert(voice.end(), gap.begin(), gap.end());
        voice.insert(voice.end(), key.begin(), key.end());
        voice.insert(voice.end(), gap.begin(), gap.end());
        WriteWav("voice.wav", voice, true);
        CopyFile("/usr/share/sip-tester/dtmf_2833_1.pcap", "dtmf_2833_1.pcap");
        CopyFile("/usr/share/sip-tester/dtmf_2833_2.pcap", "dtmf_2833_2.pcap");
        ASSERT_TRUE(StartLine("answer", {}, 8)) << Output();
        EXPECT_EQ(Sipp("uac_call.xml", {"-t", transport}), 0) << Read("sipp.txt");
        EXPECT_EQ(EndLine(), 0);
        const std::string out = Output();
        std::vector<std::string> said = Said(out);
        std::vector<std::string> events;
        for (const auto& s : said)
            if (s.rfind("line:", 0) != 0) events.push_back(s);
        EXPECT_EQ(events, (std::vector<std::string>{"ring 1", "caller 13800138000", "connected", "key 4", "key 1",
                                                    "key 2", "key 3", "disconnected", "free"}))
            << out;
        // The caller's tone 1 s after the answer (the scenario's pause), silence before it.
        const std::vector<int16_t> heard = ReadWav("out/call-1/heard-1.wav");
        ASSERT_GT(heard.size(), 16000u) << out;
        double best = 0;
        size_t at = 0;
        for (size_t i = 0; i + 800 < heard.size(); i += 400) {
            double l = Level(heard, 440, i, i + 800);
            if (l > best) best = l, at = i;
        }
        EXPECT_GT(best, 0.15);
        EXPECT_NEAR(at / 8000.0, 1.0, 0.45);
        EXPECT_LT(Level(heard, 440, 0, 4800), 0.02);
        TearDown();
        SetUp();
    }
}

// The service hangs up: on a call still ringing the caller gets 486 (and
// no answer); on an answered call, a BYE.
TEST_F(SipLineTest, HangingUpRefusesARingingCallAndByesAnAnsweredOne) {
    const struct {
        const char* mode;
        const char* scenario;
        std::vector<std::string> events;
    } cases[] = {
        {"reject", "uac_refused.xml", {"ring 1", "caller 13800138000", "free"}},
        {"hangup", "uac_byed.xml", {"ring 1", "caller 13800138000", "connected", "free"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        ASSERT_TRUE(StartLine(c.mode, {}, 5)) << Output();
        EXPECT_EQ(Sipp(c.scenario), 0) << Read("sipp.txt");
        EXPECT_EQ(EndLine(), 0);
        std::vector<std::string> said = Said(Output());
        said.erase(said.begin());  // line:
        EXPECT_EQ(said, c.events) << Output();
        TearDown();
        SetUp();
    }
}

// CallOut sends INVITE to sip:NUMBER@PROXY offering PCMU, PCMA and
// telephone-event; the called party's answer ends the call as a modem's
// line would: connected, busy (486, 600: 线路忙 in the log, a GBK literal
// here as in the log) or unanswered.
TEST_F(SipLineTest, CallOutConnectsOrEndsBusyOrUnansweredAsTheCalledPartySays) {
    const struct {
        int final;  // 200: answers
        bool busy;
    } cases[] = {{200, false}, {486, true}, {600, true}, {480, false}, {408, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.final);
        const unsigned proxy = FreePort();
        std::string scenario = c.final == 200 ? "uas_answer.xml" : "uas_final.xml";
        std::string text = Read(DataFile(scenario));
        if (c.final != 200) text.replace(text.find("[final]"), 7, std::to_string(c.final));
        std::ofstream(scenario) << text;
        Child sipp;
        ASSERT_TRUE(sipp.Start({"sipp", "-sf", scenario, "-m", "1", "-p", std::to_string(proxy), "-mp",
                                std::to_string(FreePort() & ~1u), "-nostdin", "-trace_err", "-trace_logs"},
                               {}, "sipp.txt"));
        WaitTaken(proxy, 5);
        ASSERT_TRUE(StartLine("callout", {"--sip-proxy", "127.0.0.1:" + std::to_string(proxy)}, 10,
                              {"SIP_NUMBER=5551234"}))
            << Output();
        EXPECT_EQ(sipp.Wait(10), 0) << Read("sipp.txt");
        EXPECT_EQ(EndLine(), 0) << Output();
        const std::string out = Output();
        EXPECT_EQ(SaidAt(out, "connected") >= 0, c.final == 200) << out;
        // The application hears of the end at once (DisConnected, then the line is free).
        EXPECT_GE(SaidAt(out, "free"), 0) << out;
        EXPECT_LT(SaidAt(out, "free"), c.final == 200 ? 3.0 : 2.0) << out;
        EXPECT_EQ(ControlLog().find("线路忙") != std::string::npos, c.busy);
        TearDown();
        SetUp();
    }
}

// REGISTER goes to the registrar named by --sip-register with the digest
// the auth file's credentials give (with qop, and without), and with a
// 12 s grant is refreshed before it runs out, on the same Call-ID (SIPp
// takes the refresh as the same call).
TEST_F(SipLineTest, RegistersWithADigestAndRefreshesOnTheSameCallId) {
    std::ofstream("auth") << "user:secret\n";
    chmod("auth", 0600);
    for (bool qop : {true, false}) {
        SCOPED_TRACE(qop ? "qop" : "no qop");
        std::string text = Read(DataFile("uas_register.xml"));
        if (!qop) {
            text.erase(text.find(", qop=\"auth\""), 12);
            // Without the refresh: the challenge and the grant are what differs.
            text.erase(text.find("  <recv request=\"REGISTER\" timeout"), text.find("</scenario>") - text.find("  <recv request=\"REGISTER\" timeout"));
        }
        std::ofstream("registrar.xml") << text;
        const unsigned registrar = FreePort();
        Child sipp;
        ASSERT_TRUE(sipp.Start({"sipp", "-sf", "registrar.xml", "-m", "1", "-p", std::to_string(registrar), "-mp",
                                std::to_string(FreePort() & ~1u), "-nostdin", "-trace_err"},
                               {}, "sipp.txt"));
        WaitTaken(registrar, 5);
        ASSERT_TRUE(StartLine("answer",
                              {"--sip-register", "sip:user@127.0.0.1:" + std::to_string(registrar), "--sip-auth-file",
                               "auth"},
                              qop ? 12.5 : 2))
            << Output();
        EXPECT_EQ(sipp.Wait(15), 0) << Read("sipp.txt") << Read("registrar_" + std::to_string(0) + "_errors.log");
        EXPECT_EQ(EndLine(), 0);
    }
}

// Credentials others can read are refused before anything starts.
TEST_F(SipLineTest, AnAuthFileOthersCanReadIsRefused) {
    std::ofstream("auth") << "user:secret\n";
    chmod("auth", 0644);
    Child run;
    ASSERT_TRUE(run.Start({MARLUNE_BIN, "run", DataFile("line_app.lua"), "--sip", "127.0.0.1:5060", "--sip-register",
                           "sip:user@127.0.0.1", "--sip-auth-file", "auth"},
                          {}, "run.txt"));
    EXPECT_EQ(run.Wait(10), 2);
    EXPECT_NE(Read("run.txt").find("/auth can be read by others: chmod 600 "), std::string::npos)
        << Read("run.txt");
}

namespace {

std::string Without(std::string text, const std::string& header) {
    size_t at = text.find(header);
    return at == std::string::npos ? text : text.erase(at, text.find("\r\n", at) + 2 - at);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

// Malformed requests are answered 400 (those libre cannot read at all, a
// CSeq without a number or a method, are dropped), an offer without G.711
// 488, a second call while one rings 486, none of them ringing the
// application; garbage is dropped; and a proper call works right after,
// and again 200 ms after the last one ended.
TEST_F(SipLineTest, BadRequestsAreRefusedAndGarbageLeavesTheLineWorking) {
    ASSERT_TRUE(StartLine("ring", {}, 6)) << Output();
    RawSip sip(port);
    const std::string good = sip.Invite("c1");
    const struct {
        std::string request;
        int status;
    } cases[] = {
        {sip.Invite("b1", "0", "x INVITE"), 0},
        {sip.Invite("b2", "0", "1 BYE"), 400},
        {sip.Invite("b3", "0", "1"), 0},
        {sip.Invite("b3a", "0", "1 INVITE x"), 400},
        {Replace(sip.Invite("b4"), "Content-Length: ", "Content-Length: 9999"), 400},
        {Replace(sip.Invite("b5"), "Content-Length: ", "Content-Length: -"), 400},
        {Without(sip.Invite("b6"), "From:"), 400},
        {Without(sip.Invite("b7"), "To:"), 400},
        {Without(sip.Invite("b8"), "Call-ID:"), 400},
        {sip.Invite("b9", "3 18"), 488},  // GSM and G.729 only
        {Replace(sip.Invite("b10"), "m=audio", "m=video"), 488},
    };
    for (const auto& c : cases) {
        sip.Send(c.request);
        std::vector<int> got = sip.Statuses(0.3);
        EXPECT_EQ(got.empty() ? 0 : got.back(), c.status) << c.request;
    }
    // Garbage: nothing comes back, nothing breaks.
    std::string noise;
    for (int i = 0; i < 2000; ++i) noise += static_cast<char>((i * 7919 + 13) % 251);
    for (const std::string& g : {noise, std::string("INVITE\r\n\r\n"), std::string("SIP/2.0 200 OK\r\n\r\n"),
                                 std::string(60000, 'A'), Replace(good, "SIP/2.0\r\n", "SIP/3.0\r\n")})
        sip.Send(g);
    EXPECT_TRUE(sip.Statuses(0.3).empty());
    // A proper call rings; another meanwhile is busy; the first caller gives up.
    sip.Send(good);
    std::vector<int> first = sip.Statuses(0.5);
    EXPECT_EQ(first, (std::vector<int>{100, 180})) << Output();
    sip.Send(sip.Invite("c2"));
    EXPECT_EQ(sip.Statuses(0.3), (std::vector<int>{486}));
    sip.Send(Replace(sip.Request("CANCEL", "c1", "1 CANCEL"), "", "") + "Content-Length: 0\r\n\r\n");
    std::vector<int> cancelled = sip.Statuses(0.3);
    EXPECT_EQ(cancelled, (std::vector<int>{200, 487}));
    Sleep(0.2);
    sip.Send(sip.Invite("c3"));
    EXPECT_EQ(sip.Statuses(0.5), (std::vector<int>{100, 180})) << Output();
    EXPECT_EQ(EndLine(), 0);
    // Rings of the two proper calls only.
    std::vector<std::string> said = Said(Output());
    EXPECT_EQ(std::count(said.begin(), said.end(), "ring 1"), 2) << Output();
}

namespace {

// The sound baresip heard (its sndfile dump of what it decoded).
std::vector<int16_t> HeardByBaresip() {
    glob_t g;
    if (glob("baresip/dump-*-dec.wav", 0, nullptr, &g) != 0) return {};
    std::vector<int16_t> heard = ReadWav(g.gl_pathv[0]);
    globfree(&g);
    return heard;
}

// Where a 1 kHz tone begins and ends in `s` (seconds; -1 when there is none).
std::pair<double, double> ToneSpan(const std::vector<int16_t>& s) {
    double first = -1, last = -1;
    for (size_t at = 0; at + 160 <= s.size(); at += 160)
        if (Level(s, 1000, at, at + 160) > 0.1) {
            if (first < 0) first = at / 8000.0;
            last = (at + 160) / 8000.0;
        }
    return {first, last};
}

}  // namespace

// baresip (another SIP stack) as the caller: it speaks `voice` (16-bit,
// 8 kHz) and hangs up when it ends; its sndfile module keeps what it heard.
void SipLineTest::BaresipCalls(const std::vector<int16_t>& voice) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const std::string here = cwd;
    WriteWav("voice.wav", voice, false);
    mkdir("baresip", 0755);
    const unsigned rtp = FreePort() & ~1u;
    std::ofstream("baresip/config") << "poll_method epoll\nsip_listen 127.0.0.1:" << FreePort()
                                    << "\naudio_player nothing,nothing\naudio_alert nothing,nothing\naudio_source aufile,"
                                    << here << "/voice.wav\nmodule_path /usr/lib/baresip/modules\nmodule g711.so\n"
                                    << "module aufile.so\nmodule sndfile.so\nmodule menu.so\nmodule account.so\n"
                                    << "snd_path " << here << "/baresip\nrtp_ports " << rtp << "-" << rtp + 20 << "\n";
    std::ofstream("baresip/accounts") << "<sip:bs@127.0.0.1>;regint=0\n";
    std::ofstream("baresip/contacts") << "";
    Child baresip;
    ASSERT_TRUE(baresip.Start({"baresip", "-4", "-n", "127.0.0.1", "-f", here + "/baresip", "-e",
                               "/dial sip:service@127.0.0.1:" + std::to_string(port), "-t",
                               std::to_string(static_cast<int>(voice.size() / 8000) + 3)},
                              {}, "baresip.txt"));
    EXPECT_EQ(baresip.Wait(15), 0) << Read("baresip.txt");
}

// baresip calls the line and speaks from a file: the line answers with its
// tone, which baresip hears whole and unbroken, and records the caller's
// 440 Hz; baresip hangs up at the end of its file.
TEST_F(SipLineTest, BaresipCallsHearsThePromptAndIsRecorded) {
    std::vector<int16_t> voice(4000, 0), tone = Tone(440, 1.0, 8000), tail(4000, 0);
    voice.insert(voice.end(), tone.begin(), tone.end());
    voice.insert(voice.end(), tail.begin(), tail.end());
    ASSERT_TRUE(StartLine("answer", {}, 5)) << Output();
    BaresipCalls(voice);
    EXPECT_EQ(EndLine(), 0);
    std::vector<std::string> said = Said(Output());
    said.erase(said.begin());
    EXPECT_EQ(said, (std::vector<std::string>{"ring 1", "caller bs", "connected", "disconnected", "free"})) << Output();
    const std::vector<int16_t> heard = HeardByBaresip();
    ASSERT_GT(heard.size(), 8000u) << Read("baresip.txt");
    // The prompt (1 kHz, 1 s) from the answer on: every 20 ms packet of it.
    const auto span = ToneSpan(heard);
    ASSERT_GE(span.first, 0);
    EXPECT_NEAR(span.second - span.first, 1.0, 0.05);
    const size_t start = static_cast<size_t>(span.first * 8000);
    const size_t end = static_cast<size_t>(span.second * 8000);
    for (size_t at = start + 160; at + 320 <= end; at += 160) EXPECT_GT(Level(heard, 1000, at, at + 160), 0.15) << at;
    const std::vector<int16_t> recorded = ReadWav("out/call-1/heard-1.wav");
    double best = 0;
    for (size_t i = 0; i + 800 < recorded.size(); i += 400) best = std::max(best, Level(recorded, 440, i, i + 800));
    EXPECT_GT(best, 0.15);
}

// StopPlayWav a second into a 3 s prompt: the caller hears a second of it,
// the line silent within a packet or two.
TEST_F(SipLineTest, StopPlayWavSilencesTheLineAtOnce) {
    ASSERT_TRUE(StartLine("stop", {}, 5)) << Output();
    BaresipCalls(std::vector<int16_t>(8000 * 3, 0));
    EXPECT_EQ(EndLine(), 0);
    const auto span = ToneSpan(HeardByBaresip());
    ASSERT_GE(span.first, 0) << Read("baresip.txt");
    EXPECT_NEAR(span.second - span.first, 1.0, 0.05);
}

// `marlune host` takes the same line options: its control's device 0 is the SIP line.
TEST_F(SipLineTest, TheHostTakesTheSipLineToo) {
    port = FreePort();
    const std::string cmd = std::string(MARLUNE_BIN) + " host --sip 127.0.0.1:" + std::to_string(port) +
                            " >host.txt 2>stderr.txt";
    FILE* p = popen(cmd.c_str(), "w");
    ASSERT_NE(p, nullptr);
    fputs("{\"id\":1,\"call\":\"InitLine\",\"args\":[0]}\n{\"id\":2,\"call\":\"OpenLine\",\"args\":[0]}\n", p);
    EXPECT_EQ(pclose(p), 0) << Read("stderr.txt");
    const std::string out = Read("host.txt");
    EXPECT_NE(out.find("{\"id\":1,\"result\":\"SIP 127.0.0.1:" + std::to_string(port) + "\"}"), std::string::npos) << out;
    EXPECT_NE(out.find("{\"id\":2,\"result\":0}"), std::string::npos) << out;
}
