// Voice recording: RecordWav, StopRecord and the input device's
// notifications.
#include "audio/recording.h"

#ifndef WAVE_FORMAT_MULAW
#define WAVE_FORMAT_MULAW 7  // mmreg.h
#endif

const WAVEFORMATEX kRecordFormat = {WAVE_FORMAT_MULAW, 1, 8000, 8000, 1, 8, 0};

namespace {

constexpr UINT kHeaderSize = sizeof(WAVEHDR);
constexpr LONG kMaxRecordSeconds = 33554;  // 8000 bytes a second in 32 bits

}  // namespace

Recorder::~Recorder() { Abandon(window); }

void Recorder::ReleaseBuffer() {
    if (bufferMemory) GlobalFree(bufferMemory);
    bufferMemory = nullptr;
    header.lpData = nullptr;
    header.dwUser = 0;
}

// A recording that failed after the device opened: close it again and
// release the buffer.
// Unprepares the buffer and closes the device. A device that refuses the
// close while it still holds the buffer gets it back and is closed again:
// no device is left open behind a failed close.
void Recorder::CloseInput() {
    waveInUnprepareHeader(hWaveIn, &header, kHeaderSize);
    if (waveInClose(hWaveIn) == MMSYSERR_NOERROR) return;
    waveInReset(hWaveIn);
    waveInUnprepareHeader(hWaveIn, &header, kHeaderSize);
    waveInClose(hWaveIn);
}

HWAVEIN Recorder::FailStart(const char* text) {
    waveInReset(hWaveIn);
    CloseInput();
    ReleaseBuffer();
    core_.WriteLog(text);
    return nullptr;
}

HWAVEIN Recorder::StartWaveIn(LONG id) {
    core_.WriteLog("开始为录音作准备......");
    if (id == -1) {
        if (waveInOpen(nullptr, WAVE_MAPPER, &kRecordFormat, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR) {
            core_.WriteLog("录音格式错误1");
            return nullptr;
        }
        if (waveInOpen(&hWaveIn, WAVE_MAPPER, &kRecordFormat, reinterpret_cast<DWORD_PTR>(window), 0,
                       CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
            core_.WriteLog("录音设备打开错误1");
            return nullptr;
        }
    } else {
        const UINT device = static_cast<UINT>(id) & 0xFFFF;
        if (waveInOpen(nullptr, device, &kRecordFormat, 0, 0, WAVE_FORMAT_QUERY | WAVE_MAPPED) != MMSYSERR_NOERROR) {
            core_.WriteLog("录音格式错误2");
            return nullptr;
        }
        if (waveInOpen(&hWaveIn, device, &kRecordFormat, reinterpret_cast<DWORD_PTR>(window), 0,
                       CALLBACK_WINDOW | WAVE_MAPPED) != MMSYSERR_NOERROR) {
            core_.WriteLog("录音设备打开错误2");
            return nullptr;
        }
    }

    header = WAVEHDR{};
    bufferMemory = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, static_cast<SIZE_T>(bufferSize));
    header.lpData = bufferMemory ? static_cast<LPSTR>(GlobalLock(bufferMemory)) : nullptr;
    if (!header.lpData) return FailStart("内存不足");
    header.dwBufferLength = static_cast<DWORD>(bufferSize);
    if (waveInPrepareHeader(hWaveIn, &header, kHeaderSize) != MMSYSERR_NOERROR) return FailStart("信息头错误");
    if (waveInAddBuffer(hWaveIn, &header, kHeaderSize) != MMSYSERR_NOERROR) return FailStart("创建空间失败");
    header.dwUser = reinterpret_cast<DWORD_PTR>(bufferMemory);
    if (waveInStart(hWaveIn) != MMSYSERR_NOERROR) return FailStart("录音启动失败");
    core_.WriteLog("音频信号 检测准备成功");
    core_.WriteLog("录音准备完毕 开始在缓冲区接收数据.....");
    return hWaveIn;
}

LONG Recorder::RecordWav(ControlSite& site, LONG Dev, const std::string& FileName, LONG Time) {
    core_.WriteLog("recordwav begin");
    if (Time <= 0 || Time > kMaxRecordSeconds) {
        core_.WriteLog("record time err");
        return -1;
    }
    // One recording at a time: a second start (even on the other device)
    // is refused before anything is touched.
    if (Recording()) {
        core_.WriteLog("录音设备忙");
        return -1;
    }
    deviceId = Dev == 0 ? line_.GetLineDeviceId(LINECALLSELECT_CALL, "wave/in") : -1;
    // Without a call the default device records; during a call, a lookup
    // that fails (refused, or no memory for its record) must not turn the
    // call's recording into one of the default device, losing the caller.
    if (Dev == 0 && deviceId == -1 && line_.hCall != 0) {
        core_.WriteLog("取输入设备失败");
        return -1;
    }
    core_.WriteLog(FileName);
    targetName = FileName;
    bufferSize = static_cast<LONG>(kRecordFormat.wBitsPerSample * kRecordFormat.nSamplesPerSec *
                                   static_cast<DWORD>(Time) / 8);
    window = site.Window();
    return StartWaveIn(deviceId) ? 0 : -1;
}

LRESULT Recorder::OnWimOpen(ControlSite& site, HWAVEIN in) {
    // A recording that failed after the open was closed again: no event.
    if (in != hWaveIn || !Recording()) return 0;
    core_.WriteLog("已打开输入设备");
    site.FireEvent(EVENT_RecordDevOpen, {Variant::Long(deviceId)});
    return 0;
}

void Recorder::Finish(bool dropCall) {
    core_.WriteLog("消息:录音缓冲区已满");
    CloseInput();
    if (dropCall && line_.tapi.lineDrop(line_.hCall, nullptr, 0) < 0) core_.WriteLog("消息:lineDrop err");
    SaveRecording(core_, targetName, header);
    targetName.clear();
    ReleaseBuffer();
    core_.WriteLog("消息:报告录制完毕");
}

LRESULT Recorder::OnWimData(ControlSite& site, WAVEHDR* hdr) {
    // Only the recording's own buffer, returned, ends a recording.
    if (!hdr || hdr != &header || !Recording() || !(hdr->dwFlags & WHDR_DONE)) return 0;
    Finish(true);
    site.FireEvent(EVENT_EndRecord, {});
    return 0;
}

void Recorder::Abandon(HWND goingAway) {
    if (!Recording() || goingAway != window) return;
    // The reset returns the buffer with what has been recorded so far.
    waveInReset(hWaveIn);
    core_.WriteLog("停止录音");
    Finish(false);
}

LONG Recorder::StopRecord() {
    waveInReset(hWaveIn);
    core_.WriteLog("停止录音");
    return static_cast<LONG>(waveInClose(hWaveIn));
}
