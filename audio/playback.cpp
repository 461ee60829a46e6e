// Wave playback: PlayWav, StopPlayWav, the device open and write they share
// with the play list, and the end of a single file's playback.
#include "audio/playback.h"

#include <algorithm>

#include "audio/wav_reader.h"

namespace {

constexpr UINT kHeaderSize = sizeof(WAVEHDR);

// Results of waveOutOpen the open tables name; 0 for any other.
LONG NamedOpenFailure(const Core& core, MMRESULT r) {
    switch (r) {
        case MMSYSERR_ALLOCATED: core.WriteLog("wave open err1"); return -1;
        case MMSYSERR_BADDEVICEID: core.WriteLog("wave open err2"); return -2;
        case MMSYSERR_NODRIVER: core.WriteLog("wave open err3"); return -3;
        case MMSYSERR_NOMEM: core.WriteLog("wave open err4"); return -4;
        case WAVERR_BADFORMAT: core.WriteLog("wave open err5"); return -5;
        case WAVERR_SYNC: core.WriteLog("wave open err6"); return -6;
        default: return 0;
    }
}

}  // namespace

Playback::~Playback() { Shutdown(); }

Playback::Output* Playback::Find(HWAVEOUT handle) {
    for (auto& o : outputs_)
        if (o.handle == handle && !o.closed) return &o;
    return nullptr;
}

// Outputs that are closed and have no buffer out are done with.
void Playback::Prune() {
    outputs_.erase(std::remove_if(outputs_.begin(), outputs_.end(), [](const Output& o) { return o.closed && !o.queued; }),
                   outputs_.end());
}

void Playback::Stop(Output& o) {
    waveOutReset(o.handle);
    if (o.queued) o.stopped = true;
}

// Closes an output and returns the close's answer. A device that refuses
// the close while it still holds the buffer gets it back and is closed
// again: no device is left open behind a failed close.
MMRESULT Playback::Close(Output& o) {
    MMRESULT r = waveOutClose(o.handle);
    if (r != MMSYSERR_NOERROR && r != MMSYSERR_INVALHANDLE) {
        waveOutReset(o.handle);
        if (o.header && (o.header->dwFlags & WHDR_PREPARED)) waveOutUnprepareHeader(o.handle, o.header.get(), kHeaderSize);
        waveOutClose(o.handle);
    }
    o.closed = true;
    return r;
}

// An open output device is never forgotten: opening one stops and closes
// an open output on another device first, as StopPlayWav would, and one
// left open on the same device by a failed write (nothing of it plays).
void Playback::StopOthers(LONG id) {
    bool any = false;
    for (auto& o : outputs_) {
        if (o.closed) continue;
        if (o.deviceId == id) {
            if (!o.queued) Close(o);
            continue;
        }
        Stop(o);
        if (!any) core_.WriteLog("停止放音");
        any = true;
        Close(o);
    }
    Prune();
}

LONG Playback::Open(HWND window, LONG id, bool line) {
    const UINT device = line ? (static_cast<UINT>(id) & 0xFFFF) : WAVE_MAPPER;
    const DWORD mapped = line ? WAVE_MAPPED : 0;
    const WAVEFORMATEX* format = sound && sound->FormatSize() >= 16 ? sound->Format() : nullptr;
    // A missing or truncated format record is never handed to a device.
    if (!format) return NamedOpenFailure(core_, WAVERR_BADFORMAT);
    MMRESULT r = waveOutOpen(nullptr, device, format, 0, 0, WAVE_FORMAT_QUERY | mapped);
    if (line) {
        if (r != MMSYSERR_NOERROR) {
            if (LONG code = NamedOpenFailure(core_, r)) return code;
            core_.WriteLog("打开放音线路失败1");
            return -7;
        }
        core_.WriteLog("wave open ok");
    } else if (LONG code = NamedOpenFailure(core_, r)) {
        return code;
    }
    StopOthers(id);
    HWAVEOUT handle = nullptr;
    r = waveOutOpen(&handle, device, format, reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW | mapped);
    if (r != MMSYSERR_NOERROR) {
        if (!line) {
            core_.WriteLog("打开声卡错误");
            return -7;
        }
        if (LONG code = NamedOpenFailure(core_, r)) return code;
        core_.WriteLog("打开放音线路失败");
        return -7;
    }
    hWaveOut = handle;
    core_.WriteLog(line ? "打开放音线路成功" : "打开放音声卡ok");
    Output o;
    o.handle = handle;
    o.deviceId = id;
    o.window = window;
    o.header = std::make_unique<WAVEHDR>();
    outputs_.push_back(std::move(o));
    core_.WriteLog("开空间完毕");
    return 0;
}

LONG Playback::OpenLineWaveOut(HWND window, LONG id) { return Open(window, id, true); }
LONG Playback::OpenDefaultWaveOut(HWND window) { return Open(window, -1, false); }

HWAVEOUT Playback::WriteCurrentSound(PlaybackClient* client) {
    Output* o = Find(hWaveOut);
    if (!o || !o->header || o->queued) {
        core_.WriteLog("设备未响应");
        return nullptr;
    }
    WAVEHDR* h = o->header.get();
    h->lpData = sound ? sound->Data() : nullptr;
    h->dwBufferLength = sound ? sound->DataSize() : 0;
    h->dwFlags = 0;
    h->dwLoops = 0;
    h->dwUser = 0;
    if (!o->handle) core_.WriteLog("语音句柄错误");
    if (!h->lpData) core_.WriteLog("lpWaveData错误");
    const char* failure = nullptr;
    if (waveOutPrepareHeader(o->handle, h, kHeaderSize) != MMSYSERR_NOERROR) {
        failure = "准备播放头部错误1";
    } else if (waveOutWrite(o->handle, h, kHeaderSize) != MMSYSERR_NOERROR) {
        waveOutUnprepareHeader(o->handle, h, kHeaderSize);
        failure = "向线路播放数据错误";
    }
    if (failure) {
        // Nothing is queued: the buffer goes, the device stays open.
        core_.WriteLog(failure);
        o->header.reset();
        o->playing.reset();
        return nullptr;
    }
    o->playing = sound;
    o->client = client;
    o->queued = true;
    o->stopped = false;
    core_.WriteLog("播放......");
    return o->handle;
}

void Playback::ResetLast() {
    if (Output* o = Find(hWaveOut)) {
        Stop(*o);
    } else {
        waveOutReset(hWaveOut);
    }
}

bool Playback::ReleaseOutput(HWAVEOUT out) {
    bool ok = true;
    for (auto& o : outputs_) {
        if (o.handle != out) continue;
        if (!o.closed) {
            waveOutReset(o.handle);
            // A device closed already (StopPlayWav) is no failure.
            MMRESULT closed = Close(o);
            if (closed != MMSYSERR_NOERROR && closed != MMSYSERR_INVALHANDLE) ok = false;
        }
        if (o.header && (o.header->dwFlags & WHDR_PREPARED)) waveOutUnprepareHeader(o.handle, o.header.get(), kHeaderSize);
        o.queued = false;
    }
    Prune();
    if (!ok) core_.WriteLog("free err");
    return ok;
}

void Playback::ReleaseIdle() {
    Output* o = Find(hWaveOut);
    if (!o || o->queued) return;
    Close(*o);
    o->header.reset();
    Prune();
}

void Playback::FireEndPlayAll(ControlSite& site) const {
    try {
        site.FireEvent(EVENT_EndPlayAll, {});
    } catch (...) {
        core_.WriteLog("FireEndPlayAll ERR");
    }
}

LRESULT Playback::OnWomDone(ControlSite& site, HWAVEOUT out, WAVEHDR* header) {
    auto it = std::find_if(outputs_.begin(), outputs_.end(),
                           [&](const Output& o) { return header && o.header.get() == header && o.queued; });
    // A buffer this state no longer holds (already handled) is ignored.
    if (it == outputs_.end()) return 0;
    waveOutUnprepareHeader(out, header, kHeaderSize);
    it->queued = false;
    const bool stopped = it->stopped;
    PlaybackClient* client = it->client;
    it->client = nullptr;
    core_.WriteLog("单个播放完毕");
    if (client) {
        client->OnBufferDone(site, out, stopped);
        return 0;
    }
    core_.WriteLog("取得放音消息......所有缓冲放音完毕");
    ReleaseOutput(out);
    FireEndPlayAll(site);
    return 0;
}

void Playback::Shutdown() { Abandon(nullptr); }

void Playback::Abandon(HWND window) {
    for (auto& o : outputs_) {
        if (window && o.window != window) continue;
        if (!o.closed) {
            waveOutReset(o.handle);
            Close(o);
        }
        if (o.header && (o.header->dwFlags & WHDR_PREPARED)) waveOutUnprepareHeader(o.handle, o.header.get(), kHeaderSize);
        o.queued = false;
    }
    Prune();
}

LONG Playback::PlayWav(ControlSite& site, const std::string& FileName, LONG Dev) {
    const std::string name = FileName;
    LONG id = -1;
    if (Dev == 0) {
        id = line_.GetLineDeviceId(LINECALLSELECT_CALL, "wave/out");
        if (id == -1) {
            core_.WriteLog("取输出设备失败");
            return -1;
        }
    }
    core_.WriteLog("取输出设备成功");
    deviceId = id;
    site.SetOutID(id);

    if (ReadWav(core_, name.c_str(), sound) != 0) ReadWav(core_, "wu2.wav", sound);

    if (Dev == 0) {
        if (OpenLineWaveOut(site.Window(), id) != 0) {
            core_.WriteLog("playwav 的 wavoutopen错误");
            sound.reset();
            ResetLast();
            return -1;
        }
    } else if (OpenDefaultWaveOut(site.Window()) != 0) {
        sound.reset();
        ResetLast();
        return -2;
    }
    // Nothing queued means no MM_WOM_DONE and no EndPlayAll: report it as
    // the branch's device failure.
    HWAVEOUT queued = WriteCurrentSound();
    sound.reset();  // the queued buffer holds it now
    if (!queued) return Dev == 0 ? -1 : -2;
    return 0;
}

LONG Playback::StopPlayWav() {
    for (auto& o : outputs_)
        if (!o.closed) Stop(o);
    if (outputs_.empty()) waveOutReset(hWaveOut);
    core_.WriteLog("停止放音");
    // The device opened last answers for the result; any other still open
    // is closed too.
    MMRESULT result = waveOutClose(hWaveOut);
    for (auto& o : outputs_) {
        if (o.closed) continue;
        if (o.handle != hWaveOut) waveOutClose(o.handle);
        o.closed = true;
    }
    Prune();
    return static_cast<LONG>(result);
}
