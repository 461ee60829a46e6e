// Wave playback: PlayWav, StopPlayWav and the device open and write they
// share with the play-list sequencer.
#include "audio/playback.h"

#include <cstdlib>
#include <string>

#include "audio/wav_reader.h"
#include "control/marlune_ctrl.h"

namespace {

constexpr UINT kHeaderSize = sizeof(WAVEHDR);

// Results of waveOutOpen the open tables name; 0 for any other.
LONG NamedOpenFailure(Module& m, MMRESULT r) {
    switch (r) {
        case MMSYSERR_ALLOCATED: m.WriteLog("wave open err1"); return -1;
        case MMSYSERR_BADDEVICEID: m.WriteLog("wave open err2"); return -2;
        case MMSYSERR_NODRIVER: m.WriteLog("wave open err3"); return -3;
        case MMSYSERR_NOMEM: m.WriteLog("wave open err4"); return -4;
        case WAVERR_BADFORMAT: m.WriteLog("wave open err5"); return -5;
        case WAVERR_SYNC: m.WriteLog("wave open err6"); return -6;
        default: return 0;
    }
}

// A missing format record, or one shorter than the 16-byte PCM header, is
// never handed to a device.
bool UsableFormat(const WaveSound& s) { return s.format && s.formatSize >= 16; }

// After a successful open: the device has the format, a new header is
// allocated. The previous header goes unless a device still holds it.
void Opened(Module& m) {
    WaveSound& s = m.sound;
    if (s.owned) free(s.format);
    s.format = nullptr;
    s.formatSize = 0;
    PlaybackState& p = m.playback;
    if (p.header && !(p.header->dwFlags & WHDR_INQUEUE)) p.ReleaseHeader();
    p.header = static_cast<WAVEHDR*>(calloc(1, sizeof(WAVEHDR)));
    p.headerOwnsData = false;
}

}  // namespace

LONG OpenLineWaveOut(Module& m, HWND window, LONG id) {
    const UINT device = static_cast<UINT>(id) & 0xFFFF;
    if (!UsableFormat(m.sound)) return NamedOpenFailure(m, WAVERR_BADFORMAT);
    MMRESULT r = waveOutOpen(nullptr, device, m.sound.format, 0, 0, WAVE_FORMAT_QUERY | WAVE_MAPPED);
    if (r != MMSYSERR_NOERROR) {
        if (LONG code = NamedOpenFailure(m, r)) return code;
        m.WriteLog("打开放音线路失败1");
        return -7;
    }
    m.WriteLog("wave open ok");
    m.playback.notifyWindow = window;
    r = waveOutOpen(&m.playback.hWaveOut, device, m.sound.format, reinterpret_cast<DWORD_PTR>(window), 0,
                    CALLBACK_WINDOW | WAVE_MAPPED);
    if (r != MMSYSERR_NOERROR) {
        if (LONG code = NamedOpenFailure(m, r)) return code;
        m.WriteLog("打开放音线路失败");
        return -7;
    }
    m.WriteLog("打开放音线路成功");
    Opened(m);
    m.WriteLog("开空间完毕");
    return 0;
}

LONG OpenDefaultWaveOut(Module& m, HWND window) {
    if (!UsableFormat(m.sound)) return NamedOpenFailure(m, WAVERR_BADFORMAT);
    MMRESULT r = waveOutOpen(nullptr, WAVE_MAPPER, m.sound.format, 0, 0, WAVE_FORMAT_QUERY);
    if (LONG code = NamedOpenFailure(m, r)) return code;
    m.playback.notifyWindow = window;
    r = waveOutOpen(&m.playback.hWaveOut, WAVE_MAPPER, m.sound.format, reinterpret_cast<DWORD_PTR>(window), 0,
                    CALLBACK_WINDOW);
    if (r != MMSYSERR_NOERROR) {
        m.WriteLog("打开声卡错误");
        return -7;
    }
    m.WriteLog("打开放音声卡ok");
    Opened(m);
    m.WriteLog("开空间完毕");
    return 0;
}

HWAVEOUT WriteCurrentSound(Module& m) {
    PlaybackState& p = m.playback;
    WaveSound& s = m.sound;
    if (!p.header) {
        m.WriteLog("设备未响应");
        return nullptr;
    }
    WAVEHDR* h = p.header;
    h->lpData = s.data;
    h->dwBufferLength = s.dataSize;
    h->dwFlags = 0;
    h->dwLoops = 0;
    h->dwUser = 0;
    // The data now travels with the header.
    p.headerOwnsData = s.owned;
    s.owned = false;
    if (!p.hWaveOut) m.WriteLog("语音句柄错误");
    if (!s.data) m.WriteLog("lpWaveData错误");
    const char* failure = nullptr;
    if (waveOutPrepareHeader(p.hWaveOut, h, kHeaderSize) != MMSYSERR_NOERROR) {
        failure = "准备播放头部错误1";
    } else if (waveOutWrite(p.hWaveOut, h, kHeaderSize) != MMSYSERR_NOERROR) {
        waveOutUnprepareHeader(p.hWaveOut, h, kHeaderSize);
        failure = "向线路播放数据错误";
    }
    if (failure) {
        m.WriteLog(failure);
        p.ReleaseHeader();
        s.data = nullptr;
        s.dataSize = 0;
        return nullptr;
    }
    m.WriteLog("播放......");
    return p.hWaveOut;
}

LONG CMarluneCtrl::PlayWav(const std::string& FileName, LONG Dev) {
    Module& m = module_;
    const std::string name = FileName;
    LONG id = -1;
    if (Dev == 0) {
        id = GetLineDeviceId(m, LINECALLSELECT_CALL, "wave/out");
        if (id == -1) {
            m.WriteLog("取输出设备失败");
            return -1;
        }
    }
    m.WriteLog("取输出设备成功");
    m.playback.deviceId = id;
    m_outID = id;

    if (ReadWav(m, name.c_str()) != 0) ReadWav(m, "wu2.wav");

    if (Dev == 0) {
        if (OpenLineWaveOut(m, hwnd_, id) != 0) {
            m.WriteLog("playwav 的 wavoutopen错误");
            m.sound.Release();
            waveOutReset(m.playback.hWaveOut);
            return -1;
        }
    } else if (OpenDefaultWaveOut(m, hwnd_) != 0) {
        m.sound.Release();
        waveOutReset(m.playback.hWaveOut);
        return -2;
    }
    // Nothing queued means no MM_WOM_DONE and no EndPlayAll: report it as
    // the branch's device failure.
    if (!WriteCurrentSound(m)) return Dev == 0 ? -1 : -2;
    return 0;
}

LONG CMarluneCtrl::StopPlayWav() {
    Module& m = module_;
    waveOutReset(m.playback.hWaveOut);
    m.WriteLog("停止放音");
    // Stopping ends the list too: the MM_WOM_DONE of the reset finds it
    // empty and ends playback with one EndPlayAll.
    PlayList& list = m.playList;
    list.ItemKinds.clear();
    list.ItemTexts.clear();
    list.ThisF = 1;
    list.PendingText.clear();
    return static_cast<LONG>(waveOutClose(m.playback.hWaveOut));
}
