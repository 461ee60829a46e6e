// Playback of the OCX under Wine: PlayWav on the system's default device
// (Dev 1) plays a tone through the wave mapper and winealsa into the ALSA
// file device of the test prefix; the end of playback fires EndPlayAll.
// The script checks what landed in the file.
// Usage: playback_test.exe (in a folder it may write the tone to)
#include <windows.h>
#include <ocidl.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "control/front/class_ids.h"
#include "tests/wine/com_support.h"
#include "tests/wine/wine_check.h"

namespace {

// 0.5 s of 1 kHz at 8000 Hz, 16-bit mono PCM.
void WriteTone(const wchar_t* name) {
    const DWORD rate = 8000, samples = rate / 2;
    std::vector<short> pcm(samples);
    for (DWORD i = 0; i < samples; ++i) pcm[i] = static_cast<short>(8000 * std::sin(2 * 3.14159265 * 1000 * i / rate));
    DWORD data = samples * 2;
    FILE* f = _wfopen(name, L"wb");
    auto u32 = [&](DWORD v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](WORD v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + data);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(data);
    std::fwrite(pcm.data(), 2, samples, f);
    std::fclose(f);
}

}  // namespace

int main() {
    OleInitialize(nullptr);
    // A Chinese file name: PlayWav receives it in the ANSI code page (936).
    WriteTone(L"提示音.wav");
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
        CHECK_EQ(Call(d, L"PlayWav", {Str(L"提示音.wav"), Long(1)}, &r), S_OK);
        CHECK_EQ(V_I4(&r), 0);
        CHECK_EQ(CallByName(d, L"OutID", DISPATCH_PROPERTYGET, {}, &r), S_OK);
        CHECK_EQ(V_I4(&r), -1);  // the system's default device
        Pump(5000, [&] { return !journal.empty(); });
        CHECK_EQ(journal.size(), 1u);
        if (!journal.empty()) CHECK_EQ(journal[0].dispid, 10);  // EndPlayAll at the end of the sound
        CHECK_EQ(Call(d, L"StopPlayWav", {}, &r), S_OK);

        control.Close();
    }
    DestroyWindow(frame);
    OleUninitialize();
    std::printf("playback_test: %s\n", FailureCount() ? "FAILED" : "ok");
    return Failures();
}
