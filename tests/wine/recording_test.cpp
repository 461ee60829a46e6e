// Recording of the OCX under Wine: RecordWav on the system's default
// device (Dev 1) opens the input through the wave mapper (mu-law, from the
// prefix's ALSA capture file) and fires RecordDevOpen; StopRecord ends it
// early: EndRecord follows and the file has the 46-byte mu-law header.
// (The timed end is proved on the native target: Wine's mapper does not
// return a mu-law capture buffer that fills, only one that is reset.)
#include <windows.h>
#include <ocidl.h>

#include <fstream>
#include <iterator>

#include "control/front/class_ids.h"
#include "tests/wine/com_support.h"
#include "tests/wine/wine_check.h"

namespace {

template <typename T>
T At(const std::string& s, size_t offset) {
    T v{};
    if (offset + sizeof(T) <= s.size()) memcpy(&v, s.data() + offset, sizeof(T));
    return v;
}

}  // namespace

int main() {
    OleInitialize(nullptr);
    DeleteFileA("rec.wav");
    HWND frame = HostFrame();
    {
        BoxCloser closer;
        HostedControl control;
        CHECK(control.Create());
        if (!control.d) return 1;
        IDispatch* d = control.d;
        CHECK(control.Activate(frame));
        std::vector<EventRecord> journal;
        RecordingSink sink("host", journal);
        CHECK(control.Connect(&sink));

        VARIANT r;
        CHECK_EQ(Call(d, L"RecordWav", {Long(1), Str(L"rec.wav"), Long(30)}, &r), S_OK);
        CHECK_EQ(V_I4(&r), 0);
        Pump(2000, [&] { return !journal.empty(); });
        CHECK_EQ(journal.size(), 1u);
        if (!journal.empty()) {
            CHECK_EQ(journal[0].dispid, 3);  // RecordDevOpen(-1): the default device
            CHECK(journal[0].args == std::vector<std::wstring>{L"-1"});
        }
        Pump(300, [] { return false; });
        CHECK_EQ(Call(d, L"StopRecord", {}, &r), S_OK);
        Pump(2000, [&] { return journal.size() >= 2; });
        CHECK_EQ(journal.size(), 2u);
        if (journal.size() >= 2) CHECK_EQ(journal[1].dispid, 1);  // EndRecord

        std::ifstream in("rec.wav", std::ios::binary);
        std::string wav((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        CHECK(wav.size() >= 46);
        CHECK_EQ(wav.substr(0, 4), std::string("RIFF"));
        CHECK_EQ(wav.substr(8, 4), std::string("WAVE"));
        CHECK_EQ(At<DWORD>(wav, 16), 18ul);  // fmt chunk of 18 bytes: the 46-byte header
        CHECK_EQ(At<WORD>(wav, 20), 7);      // mu-law
        CHECK_EQ(At<WORD>(wav, 22), 1);
        CHECK_EQ(At<DWORD>(wav, 24), 8000ul);
        CHECK_EQ(wav.substr(38, 4), std::string("data"));
        CHECK_EQ(static_cast<size_t>(At<DWORD>(wav, 42)), wav.size() - 46);
        std::printf("rec.wav: %u bytes of sound\n", static_cast<unsigned>(wav.size() - 46));

        control.Close();
    }
    DestroyWindow(frame);
    OleUninitialize();
    std::printf("recording_test: %s\n", FailureCount() ? "FAILED" : "ok");
    return Failures();
}
