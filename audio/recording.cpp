// Voice recording: RecordWav, StopRecord and the input device's
// notifications.
#include "audio/recording.h"

#include <algorithm>
#include <cstdio>

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

// Unprepares the slices the device holds and closes it. A device that
// refuses the close while it still holds a slice gets them back and is
// closed again: no device is left open behind a failed close.
void Recorder::CloseInput() {
    auto unprepare = [this] {
        for (int i = 0; i < outstanding_; ++i)
            waveInUnprepareHeader(hWaveIn, &slices_[(first_ + i) % kSlices], kHeaderSize);
    };
    unprepare();
    if (waveInClose(hWaveIn) != MMSYSERR_NOERROR) {
        waveInReset(hWaveIn);
        unprepare();
        waveInClose(hWaveIn);
    }
    first_ = outstanding_ = 0;
}

const char* Recorder::QueueSlice() {
    WAVEHDR& slice = slices_[(first_ + outstanding_) % kSlices];
    slice = WAVEHDR{};
    slice.lpData = header.lpData + queued_;
    slice.dwBufferLength = std::min<DWORD>(kSliceBytes, header.dwBufferLength - queued_);
    if (waveInPrepareHeader(hWaveIn, &slice, kHeaderSize) != MMSYSERR_NOERROR) return "信息头错误";
    if (waveInAddBuffer(hWaveIn, &slice, kHeaderSize) != MMSYSERR_NOERROR) {
        waveInUnprepareHeader(hWaveIn, &slice, kHeaderSize);
        return "创建空间失败";
    }
    queued_ += slice.dwBufferLength;
    ++outstanding_;
    return nullptr;
}

bool Recorder::OwnSlice(const WAVEHDR* hdr) const {
    for (int i = 0; i < outstanding_; ++i)
        if (hdr == &slices_[(first_ + i) % kSlices]) return true;
    return false;
}

bool Recorder::TakeReturned() {
    bool cut = false;
    while (outstanding_ > 0) {
        WAVEHDR& slice = slices_[first_];
        if (!(slice.dwFlags & WHDR_DONE)) break;
        waveInUnprepareHeader(hWaveIn, &slice, kHeaderSize);
        const DWORD n = std::min(slice.dwBytesRecorded, slice.dwBufferLength);
        // After a short slice the rest come back empty: the recording is
        // the bytes up to there.
        if (!stopping_) {
            header.dwBytesRecorded += n;
            if (file_.IsOpen() && !file_.Failed() && !file_.Append(slice.lpData, n)) {
                const DWORD error = file_.error();
                const bool full = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
                char text[80];
                snprintf(text, sizeof text, ": write failed (%serror %lu)\n", full ? "the disk is full, " : "",
                         static_cast<unsigned long>(error));
                OutputDebugStringA(("recording " + file_.path() + text).c_str());
            }
        }
        if (n < slice.dwBufferLength) stopping_ = cut = true;
        first_ = (first_ + 1) % kSlices;
        --outstanding_;
    }
    return cut;
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
    first_ = outstanding_ = 0;
    queued_ = 0;
    stopping_ = false;
    bufferMemory = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, static_cast<SIZE_T>(bufferSize));
    header.lpData = bufferMemory ? static_cast<LPSTR>(GlobalLock(bufferMemory)) : nullptr;
    if (!header.lpData) return FailStart("内存不足");
    header.dwBufferLength = static_cast<DWORD>(bufferSize);
    while (outstanding_ < kSlices && queued_ < header.dwBufferLength)
        if (const char* failed = QueueSlice()) return FailStart(failed);
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
    if (!StartWaveIn(deviceId)) return -1;
    OpenFile();
    return 0;
}

LRESULT Recorder::OnWimOpen(ControlSite& site, HWAVEIN in) {
    // A recording that failed after the open was closed again: no event.
    if (in != hWaveIn || !Recording()) return 0;
    core_.WriteLog("已打开输入设备");
    site.FireEvent(EVENT_RecordDevOpen, {Variant::Long(deviceId)});
    return 0;
}

void Recorder::Finish(bool dropCall) {
    TakeReturned();
    core_.WriteLog("消息:录音缓冲区已满");
    CloseInput();
    if (dropCall && line_.tapi.lineDrop(line_.hCall, nullptr, 0) < 0) core_.WriteLog("消息:lineDrop err");
    CloseFile();
    targetName.clear();
    ReleaseBuffer();
    core_.WriteLog("消息:报告录制完毕");
}

LRESULT Recorder::OnWimData(ControlSite& site, WAVEHDR* hdr) {
    // Only the recording's own slices, returned, move it on.
    if (!hdr || !Recording() || !OwnSlice(hdr) || !(hdr->dwFlags & WHDR_DONE)) return 0;
    const bool cut = TakeReturned();
    // The device gets the next slices; one it does not take ends the
    // recording with what it has.
    while (!stopping_ && outstanding_ < kSlices && queued_ < header.dwBufferLength)
        if (const char* failed = QueueSlice()) {
            core_.WriteLog(failed);
            stopping_ = true;
        }
    // The recording ends once the buffer is full, once the device has given
    // back every slice, or at a slice that came back short (a reset): the
    // slices after it hold nothing, and a device may keep them (Wine's wave
    // mapper returns only slices it converted sound into).
    if (outstanding_ > 0 && !cut) return 0;
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
