// Telephony records from a hostile provider: every record the virtual
// modem hands back (LINEDEVCAPS, LINECALLINFO, VARSTRING,
// LINETRANSLATEOUTPUT, LINETRANSLATECAPS) takes its contents after the
// total size from the input, with any offsets and sizes, while the control
// sets up the line, takes a call with caller id, answers, asks for its
// wave and data devices, hangs up and dials local and national numbers.
#include <functional>

#include "fuzz/fuzz_env.h"
#include "peers/virtual_modem/virtual_modem.h"

namespace {

void Try(const std::function<void()>& step) {
    try {
        step();
    } catch (const AutomationError&) {
    }
    sim::RunPending();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzenv::Session s;
    vmodem_SetRecordBytes(data, size);
    CMarluneCtrl& c = *s.ctrl;
    Try([&] { c.InitLine(0); });
    Try([&] { c.OpenLine(0); });
    Try([&] {
        vmodem_Offer(0, "5551234");
        vmodem_Ring(0);
    });
    Try([&] { vmodem_SendCallerId(0, "13800138000"); });
    Try([&] { c.GetTPNO(); });
    Try([&] { c.AnswerTp(); });
    Try([&] { c.GetOutID(1); });
    Try([&] { c.SendData("AT"); });
    Try([&] { c.HandUp(); });
    for (const char* number : {"5551234", "4255551234", "555-1234|99", "+1 (425) 5551234"}) {
        Try([&] { c.CallOut(0, number); });
        Try([&] { c.HandUp(); });
    }
    vmodem_SetRecordBytes(nullptr, 0);
    return 0;
}
