// The recording's file: a RIFF/WAVE header for the recording format, then
// the recorded bytes. A recording always ends as one complete file.
#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "audio/recording.h"
#include "platform/riff_wave.h"

std::string RecordingNameNow() {
    time_t now = platform::Now();
    struct tm local {};
#ifdef _WIN32
    bool ok = localtime_s(&local, &now) == 0;
#else
    bool ok = localtime_r(&now, &local) != nullptr;
#endif
    char buf[64];
    size_t n = ok ? strftime(buf, sizeof buf, "%Y_%B_%d_%H_%M_%S", &local) : 0;
    return std::string(buf, n) + ".wav";
}

namespace {

bool Write(HANDLE file, const void* bytes, DWORD count) {
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

enum class Saved { Ok, NotCreated, NotWritten };

// The file in two writes: the header, then the recorded bytes. A file that
// could not be written whole is removed again.
Saved WriteRecordingFile(const std::string& path, const WAVEHDR& header) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Saved::NotCreated;
    const DWORD n = header.dwBytesRecorded;
    // The format record is written with its cbSize (18 bytes).
    const std::vector<uint8_t> head = riff::Header(kRecordFormat, offsetof(WAVEFORMATEX, cbSize) + sizeof(WORD), n);
    bool ok = Write(file, head.data(), static_cast<DWORD>(head.size()));
    ok = ok && Write(file, header.lpData, n);
    CloseHandle(file);
    if (ok) return Saved::Ok;
    DeleteFileA(path.c_str());
    return Saved::NotWritten;
}

}  // namespace

LONG SaveRecording(const Core& core, const std::string& name, const WAVEHDR& header) {
    const std::string path = name.empty() ? RecordingNameNow() : name;
    const Saved first = WriteRecordingFile(path, header);
    if (first == Saved::Ok) return 0;
    if (first == Saved::NotWritten) core.WriteLog("录音文件写入错误");
    // The recording is not lost: it goes under the time-made name.
    const std::string fallback = RecordingNameNow();
    std::string text = "Error Create file.";
    if (fallback != path && WriteRecordingFile(fallback, header) == Saved::Ok) {
        core.WriteLog("录音另存为:");
        core.WriteLog(fallback);
        text += "\r\n录音另存为:" + fallback;
    } else {
        core.WriteLog("录音文件无法保存");
    }
    MessageBoxA(nullptr, text.c_str(), "", MB_OK);
    return -1;
}
