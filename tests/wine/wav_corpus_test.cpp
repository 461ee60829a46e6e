// The sound files of the shared table (tests/support/wav_corpus.txt) played
// with PlayWav(file, 1) on the OCX under Wine, through the wave mapper and
// winealsa: each gives the table's result and log entries (its Wine columns
// where it has them), and what plays ends with EndPlayAll. The native sound card test reads the same table.
// Usage: wav_corpus_test.exe (in a folder holding wav_corpus.txt and the
// files in corpus\)
#include <windows.h>
#include <ocidl.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/wav_corpus.h"
#include "tests/wine/com_support.h"
#include "tests/wine/wine_check.h"

namespace {

// UTF-8 text in the ANSI code page the log is written in (936).
std::string Ansi(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &w[0], n);
    n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
    s.resize(n > 0 ? n - 1 : 0);
    return s;
}

std::wstring Wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &w[0], n);
    w.resize(n > 0 ? n - 1 : 0);
    return w;
}

// Whether the log has the entries `texts` after `from`, in that order
// (each entry is "stamp :text" ended by CR LF TAB).
bool LoggedInOrder(const std::string& log, size_t from, const std::vector<std::string>& texts) {
    for (const auto& text : texts) {
        const size_t at = log.find(" :" + Ansi(text) + "\r\n\t", from);
        if (at == std::string::npos) {
            std::printf("  log lacks, in order: %s\n", text.c_str());
            return false;
        }
        from = at + 1;
    }
    return true;
}

}  // namespace

int main() {
    OleInitialize(nullptr);
    const auto files = corpus::Read("wav_corpus.txt");
    CHECK(!files.empty());
    HWND frame = HostFrame();
    int played = 0;
    {
        BoxCloser closer;  // the control's closing notice
        HostedControl control;
        CHECK(control.Create());
        if (!control.d) return 1;
        IDispatch* d = control.d;
        CHECK(control.Activate(frame));
        std::vector<EventRecord> journal;
        RecordingSink sink("host", journal);
        CHECK(control.Connect(&sink));

        for (const auto& file : files) {
            const int failures = FailureCount();
            const size_t mark = ReadLog().size();
            const size_t events = journal.size();
            VARIANT r;
            CHECK_EQ(Call(d, L"PlayWav", {Str((L"corpus\\" + Wide(file.name)).c_str()), Long(1)}, &r), S_OK);
            CHECK_EQ(static_cast<long>(V_I4(&r)), file.winePlay);
            if (file.winePlay == 0) {
                // EndPlayAll when the sound has played (the longest lasts under 2 s).
                Pump(8000, [&] { return journal.size() > events; });
                CHECK_EQ(journal.size(), events + 1);
                if (journal.size() > events) CHECK_EQ(journal[events].dispid, 10);
                ++played;
            } else {
                Pump(200, [] { return false; });
                CHECK_EQ(journal.size(), events);  // nothing played, nothing ends
            }
            CHECK(LoggedInOrder(ReadLog(), mark, file.wineLog));
            std::printf("%-32s PlayWav %ld%s\n", file.name.c_str(), static_cast<long>(V_I4(&r)),
                        FailureCount() == failures ? "" : "  <- differs");
        }
        control.Close();
    }
    DestroyWindow(frame);
    OleUninitialize();
    std::printf("wav_corpus_test: %d of %d files played; %s\n", played, static_cast<int>(files.size()),
                FailureCount() ? "FAILED" : "ok");
    return Failures();
}
