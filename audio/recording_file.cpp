// The recording's file: a RIFF/WAVE header for the recording format, then
// the recorded bytes, written as they are recorded. A recording always ends
// as one complete file.
#include <algorithm>
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

std::string WorkingName() {
    const std::string name = RecordingNameNow();
    return name.substr(0, name.size() - 4) + ".part.wav";
}

namespace {

bool Write(HANDLE file, const void* bytes, DWORD count) {
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

// The header for `n` recorded bytes: the format record with its cbSize
// (18 bytes).
std::vector<uint8_t> HeaderFor(DWORD n) {
    return riff::Header(kRecordFormat, offsetof(WAVEFORMATEX, cbSize) + sizeof(WORD), n);
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
    const std::vector<uint8_t> head = HeaderFor(n);
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

// ---- written as it is recorded -------------------------------------------------

bool RecordingFile::Open(const std::string& path) {
    Close();
    failed_ = false;
    written_ = 0;
    error_ = 0;
    path_ = path;
    file_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return false;
    if (WriteHeader() && SetFilePointer(file_, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER) return true;
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    DeleteFileA(path.c_str());
    return false;
}

bool RecordingFile::WriteHeader() {
    const std::vector<uint8_t> head = HeaderFor(written_);
    return SetFilePointer(file_, 0, nullptr, FILE_BEGIN) == 0 &&
           Write(file_, head.data(), static_cast<DWORD>(head.size()));
}

bool RecordingFile::Append(const void* bytes, DWORD n) {
    if (!IsOpen() || failed_) return false;
    DWORD done = 0;
    bool ok = WriteFile(file_, bytes, n, &done, nullptr) && done == n;
    if (!ok) error_ = GetLastError();
    // The bytes that reached the file count, even when the rest did not.
    written_ += std::min(done, n);
    if (!WriteHeader() && ok) {
        ok = false;
        error_ = GetLastError();
    }
    ok = SetFilePointer(file_, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER && ok;
    failed_ = !ok;
    return ok;
}

void RecordingFile::Close() {
    if (!IsOpen()) return;
    // After a failed write the header may be behind what the file holds.
    if (failed_) WriteHeader();
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

void Recorder::OpenFile() {
    named_ = !targetName.empty() && file_.Open(targetName);
    // No name yet (it is made at the end), or the name cannot be created:
    // the recording goes to a working name and is moved at the end.
    if (!named_) file_.Open(WorkingName());
}

LONG Recorder::CloseFile() {
    const bool streamed = file_.IsOpen();
    const bool failed = file_.Failed();
    const std::string streamedPath = file_.path();
    file_.Close();
    if (!streamed) return SaveRecording(core_, targetName, header);
    if (named_ && !failed) return 0;
    const std::string fallback = RecordingNameNow();
    if (!failed) {
        // Complete under the working name: it takes its own name now.
        const bool moved = MoveFileExA(streamedPath.c_str(), fallback.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        if (moved && targetName.empty()) return 0;
        const std::string where = moved ? fallback : streamedPath;
        core_.WriteLog("录音另存为:");
        core_.WriteLog(where);
        MessageBoxA(nullptr, ("Error Create file.\r\n录音另存为:" + where).c_str(), "", MB_OK);
        return -1;
    }
    // A write failed: the whole recording (still in memory) is saved under
    // the time-made name if it can be, and the partial file goes; else the
    // file keeps what reached it, as a valid WAV.
    core_.WriteLog("录音文件写入错误");
    std::string text = "Error Create file.";
    if (fallback != streamedPath && WriteRecordingFile(fallback, header) == Saved::Ok) {
        DeleteFileA(streamedPath.c_str());
        core_.WriteLog("录音另存为:");
        core_.WriteLog(fallback);
        text += "\r\n录音另存为:" + fallback;
    } else {
        core_.WriteLog("录音文件无法保存");
    }
    MessageBoxA(nullptr, text.c_str(), "", MB_OK);
    return -1;
}
