// Voice recording: RecordWav, StopRecord and the input device's
// notifications.
#include "audio/recording.h"

#include <cstring>
#include <ctime>

#include "control/marlune_ctrl.h"

#ifndef WAVE_FORMAT_MULAW
#define WAVE_FORMAT_MULAW 7  // mmreg.h
#endif

const WAVEFORMATEX kRecordFormat = {WAVE_FORMAT_MULAW, 1, 8000, 8000, 1, 8, 0};

namespace {

constexpr UINT kHeaderSize = sizeof(WAVEHDR);
constexpr LONG kMaxRecordSeconds = 33554;  // 8000 bytes a second in 32 bits

// A recording that failed after the device opened: close it again and
// release the buffer.
HWAVEIN Abandon(Module& m, const char* text) {
    RecordState& r = m.record;
    waveInReset(r.hWaveIn);
    waveInUnprepareHeader(r.hWaveIn, &r.header, kHeaderSize);
    waveInClose(r.hWaveIn);
    r.ReleaseBuffer();
    m.WriteLog(text);
    return nullptr;
}

void PutU16(unsigned char* p, WORD v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void PutU32(unsigned char* p, DWORD v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool Write(HANDLE file, const void* bytes, DWORD count) {
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

// The five pieces of the file; false when a write failed.
bool WriteRecording(HANDLE file, const WAVEHDR& header) {
    const DWORD n = header.dwBytesRecorded;
    unsigned char riff[12], fmtHeader[8], format[18], dataHeader[8];
    memcpy(riff, "RIFF", 4);
    PutU32(riff + 4, n + 38);
    memcpy(riff + 8, "WAVE", 4);
    memcpy(fmtHeader, "fmt ", 4);
    PutU32(fmtHeader + 4, 18);
    PutU16(format + 0, 7);
    PutU16(format + 2, 1);
    PutU32(format + 4, 8000);
    PutU32(format + 8, 8000);
    PutU16(format + 12, 1);
    PutU16(format + 14, 8);
    PutU16(format + 16, 0);
    memcpy(dataHeader, "data", 4);
    PutU32(dataHeader + 4, n);
    bool ok = Write(file, riff, sizeof riff);
    ok = Write(file, fmtHeader, sizeof fmtHeader) && ok;
    ok = Write(file, format, sizeof format) && ok;
    ok = Write(file, dataHeader, sizeof dataHeader) && ok;
    ok = Write(file, header.lpData, n) && ok;
    return ok;
}

HANDLE Create(const std::string& name) {
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

}  // namespace

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

LONG SaveRecording(Module& m, const std::string& name, const WAVEHDR& header) {
    std::string path = name.empty() ? RecordingNameNow() : name;
    LONG result = 0;
    HANDLE file = Create(path);
    if (file == INVALID_HANDLE_VALUE) {
        MessageBoxA(nullptr, "Error Create file.", "", MB_OK);
        result = -1;
        // The recording is not lost: it goes under the time-made name.
        path = RecordingNameNow();
        file = Create(path);
        if (file == INVALID_HANDLE_VALUE) {
            m.WriteLog("录音文件无法保存");
            return -1;
        }
        m.WriteLog("录音另存为:");
        m.WriteLog(path);
    }
    if (!WriteRecording(file, header)) m.WriteLog("录音文件写入错误");
    CloseHandle(file);
    return result;
}

HWAVEIN StartWaveIn(Module& m, LONG id) {
    RecordState& r = m.record;
    HWND window = m.playback.notifyWindow;
    m.WriteLog("开始为录音作准备......");
    if (id == -1) {
        if (waveInOpen(nullptr, WAVE_MAPPER, &kRecordFormat, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR) {
            m.WriteLog("录音格式错误1");
            return nullptr;
        }
        if (waveInOpen(&r.hWaveIn, WAVE_MAPPER, &kRecordFormat, reinterpret_cast<DWORD_PTR>(window), 0,
                       CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
            m.WriteLog("录音设备打开错误1");
            return nullptr;
        }
    } else {
        const UINT device = static_cast<UINT>(id) & 0xFFFF;
        if (waveInOpen(nullptr, device, &kRecordFormat, 0, 0, WAVE_FORMAT_QUERY | WAVE_MAPPED) != MMSYSERR_NOERROR) {
            m.WriteLog("录音格式错误2");
            return nullptr;
        }
        if (waveInOpen(&r.hWaveIn, device, &kRecordFormat, reinterpret_cast<DWORD_PTR>(window), 0,
                       CALLBACK_WINDOW | WAVE_MAPPED) != MMSYSERR_NOERROR) {
            m.WriteLog("录音设备打开错误2");
            return nullptr;
        }
    }

    r.header = WAVEHDR{};
    r.bufferMemory = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, static_cast<SIZE_T>(r.bufferSize));
    r.header.lpData = r.bufferMemory ? static_cast<LPSTR>(GlobalLock(r.bufferMemory)) : nullptr;
    if (!r.header.lpData) return Abandon(m, "内存不足");
    r.header.dwBufferLength = static_cast<DWORD>(r.bufferSize);
    if (waveInPrepareHeader(r.hWaveIn, &r.header, kHeaderSize) != MMSYSERR_NOERROR) return Abandon(m, "信息头错误");
    if (waveInAddBuffer(r.hWaveIn, &r.header, kHeaderSize) != MMSYSERR_NOERROR) return Abandon(m, "创建空间失败");
    r.header.dwUser = reinterpret_cast<DWORD_PTR>(r.bufferMemory);
    if (waveInStart(r.hWaveIn) != MMSYSERR_NOERROR) return Abandon(m, "录音启动失败");
    m.WriteLog("音频信号 检测准备成功");
    m.WriteLog("录音准备完毕 开始在缓冲区接收数据.....");
    return r.hWaveIn;
}

LONG CMarluneCtrl::RecordWav(LONG Dev, const std::string& FileName, LONG Time) {
    Module& m = module_;
    RecordState& r = m.record;
    m.WriteLog("recordwav begin");
    if (Time <= 0 || Time > kMaxRecordSeconds) {
        m.WriteLog("record time err");
        return -1;
    }
    // One recording at a time: its header and buffer are module-wide, so a
    // second start (even on the other device) would take them from the
    // running one. It is refused before anything is touched.
    if (r.bufferMemory) {
        m.WriteLog("录音设备忙");
        return -1;
    }
    r.deviceId = Dev == 0 ? GetLineDeviceId(m, LINECALLSELECT_CALL, "wave/in") : -1;
    m.WriteLog(FileName);
    r.targetName = FileName;
    r.bufferSize = static_cast<LONG>(kRecordFormat.wBitsPerSample * kRecordFormat.nSamplesPerSec *
                                     static_cast<DWORD>(Time) / 8);
    m.playback.notifyWindow = hwnd_;
    return StartWaveIn(m, r.deviceId) ? 0 : -1;
}

LRESULT CMarluneCtrl::OnWimOpen(WPARAM hWaveIn, LPARAM) {
    Module& m = module_;
    // A recording that failed after the open was closed again: no event.
    if (reinterpret_cast<HWAVEIN>(hWaveIn) != m.record.hWaveIn || !m.record.bufferMemory) return 0;
    m.WriteLog("已打开输入设备");
    FireRecordDevOpen(m.record.deviceId);
    return 0;
}

LRESULT CMarluneCtrl::OnWimData(WPARAM, LPARAM lParam) {
    Module& m = module_;
    RecordState& r = m.record;
    auto* header = reinterpret_cast<WAVEHDR*>(lParam);
    // Only the recording's own buffer ends a recording.
    if (!header || header != &r.header || !r.bufferMemory || !(header->dwFlags & WHDR_DONE)) return 0;
    m.WriteLog("消息:录音缓冲区已满");
    waveInUnprepareHeader(r.hWaveIn, header, kHeaderSize);
    waveInClose(r.hWaveIn);
    if (tapi::lineDrop(m.line.hCall, nullptr, 0) < 0) m.WriteLog("消息:lineDrop err");
    SaveRecording(m, r.targetName, *header);
    r.targetName.clear();
    GlobalFree(reinterpret_cast<HGLOBAL>(header->dwUser));
    r.bufferMemory = nullptr;
    header->lpData = nullptr;
    header->dwUser = 0;
    m.WriteLog("消息:报告录制完毕");
    FireEndRecord();
    return 0;
}

LONG CMarluneCtrl::StopRecord() {
    Module& m = module_;
    waveInReset(m.record.hWaveIn);
    m.WriteLog("停止录音");
    return static_cast<LONG>(waveInClose(m.record.hWaveIn));
}
