// Recording of the OCX under Wine: RecordWav on the system's default
// device (Dev 1) opens the input through the wave mapper (mu-law, from the
// prefix's ALSA capture file) and fires RecordDevOpen; StopRecord ends it
// early: EndRecord follows and the file has the 46-byte mu-law header.
// (The timed end is proved on the native target: Wine's mapper does not
// return a mu-law capture buffer that fills, only one that is reset.)
// A container that closes the control before releasing it takes its window
// first: the recording is still saved and the device freed for the next.
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

std::string ReadFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The 46-byte mu-law header whose data size is the rest of the file.
void CheckRecordingFile(const std::string& wav) {
    CHECK(wav.size() >= 46);
    CHECK_EQ(wav.substr(0, 4), std::string("RIFF"));
    CHECK_EQ(wav.substr(8, 4), std::string("WAVE"));
    CHECK_EQ(At<DWORD>(wav, 16), 18ul);  // fmt chunk of 18 bytes: the 46-byte header
    CHECK_EQ(At<WORD>(wav, 20), 7);      // mu-law
    CHECK_EQ(At<WORD>(wav, 22), 1);
    CHECK_EQ(At<DWORD>(wav, 24), 8000ul);
    CHECK_EQ(wav.substr(38, 4), std::string("data"));
    CHECK_EQ(static_cast<size_t>(At<DWORD>(wav, 42)), wav.size() - 46);
}

// A recording under way when the container closes the control, then
// releases it: what was recorded is saved as when the control is released
// at once, and the next control records on the same device.
void ClosedBeforeReleased(HWND frame) {
    DeleteFileA("closed.wav");
    size_t logBefore = ReadLog().size();
    {
        HostedControl control;
        CHECK(control.Create());
        if (!control.d) return;
        CHECK(control.Activate(frame));
        VARIANT r;
        CHECK_EQ(Call(control.d, L"RecordWav", {Long(1), Str(L"closed.wav"), Long(30)}, &r), S_OK);
        CHECK_EQ(V_I4(&r), 0);
        Pump(300, [] { return false; });
        control.Close();  // IOleObject::Close, then the last Release
    }
    CheckRecordingFile(ReadFile("closed.wav"));
    std::string log = ReadLog();
    log = log.size() > logBefore ? log.substr(logBefore) : std::string();
    size_t at = 0;
    for (const char* entry : {"停止录音", "消息:录音缓冲区已满", "消息:报告录制完毕"}) {
        size_t found = log.find(std::string(" :") + entry + "\r\n", at);
        if (found == std::string::npos) {
            std::printf("log lacks, in order: %s\n", ToText(entry).c_str());
            ++FailureCount();
            break;
        }
        at = found;
    }

    HostedControl next;
    CHECK(next.Create());
    if (!next.d) return;
    CHECK(next.Activate(frame));
    VARIANT r;
    CHECK_EQ(Call(next.d, L"RecordWav", {Long(1), Str(L"next.wav"), Long(30)}, &r), S_OK);
    CHECK_EQ(V_I4(&r), 0);  // not refused as busy
    CHECK_EQ(Call(next.d, L"StopRecord", {}, &r), S_OK);
    next.Close();
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

        std::string wav = ReadFile("rec.wav");
        CheckRecordingFile(wav);
        std::printf("rec.wav: %u bytes of sound\n", static_cast<unsigned>(wav.size() - 46));

        control.Close();
        ClosedBeforeReleased(frame);
    }
    DestroyWindow(frame);
    OleUninitialize();
    std::printf("recording_test: %s\n", FailureCount() ? "FAILED" : "ok");
    return Failures();
}
