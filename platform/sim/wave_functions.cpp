// The waveOut*/waveIn* platform functions over the virtual device model.
#include "wave_model.h"

using namespace wavesim;

#define HANDLE_VALUE(h) reinterpret_cast<uintptr_t>(h)

extern "C" {

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                            DWORD_PTR, DWORD flags) {
    uintptr_t h = 0;
    MMRESULT r = OpenDevice(true, handle ? &h : nullptr, deviceId, format, callback, flags);
    if (r == MMSYSERR_NOERROR && handle && !(flags & WAVE_FORMAT_QUERY)) *handle = reinterpret_cast<HWAVEOUT>(h);
    return r;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT handle) { return CloseDevice(true, HANDLE_VALUE(handle)); }

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    return Prepare(true, HANDLE_VALUE(handle), header, size, true);
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    return Prepare(true, HANDLE_VALUE(handle), header, size, false);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, true);
    MMRESULT injected;
    if (Injected("waveOutWrite", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if ((header->dwFlags & WHDR_INQUEUE) || InQueue(*o, header)) return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE;
    QueueOutput(h, *o, header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT handle) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, true);
    MMRESULT injected;
    if (Injected("waveOutReset", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    ResetOutput(h, *o);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutGetNumDevs() {
    UINT n = 0;
    for (auto& d : WaveDevices().out) n += d.present;
    return n;
}

MMRESULT WINAPI waveInOpen(LPHWAVEIN handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR,
                           DWORD flags) {
    uintptr_t h = 0;
    MMRESULT r = OpenDevice(false, handle ? &h : nullptr, deviceId, format, callback, flags);
    if (r == MMSYSERR_NOERROR && handle && !(flags & WAVE_FORMAT_QUERY)) *handle = reinterpret_cast<HWAVEIN>(h);
    return r;
}

MMRESULT WINAPI waveInClose(HWAVEIN handle) { return CloseDevice(false, HANDLE_VALUE(handle)); }

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return Prepare(false, HANDLE_VALUE(handle), header, size, true);
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return Prepare(false, HANDLE_VALUE(handle), header, size, false);
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, false);
    MMRESULT injected;
    if (Injected("waveInAddBuffer", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if ((header->dwFlags & WHDR_INQUEUE) || InQueue(*o, header)) return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    o->queue.push_back(Queued{header, 0});
    StartHeadBuffer(h);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStart(HWAVEIN handle) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, false);
    MMRESULT injected;
    if (Injected("waveInStart", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    if (o->started) return MMSYSERR_NOERROR;
    o->started = true;
    Source& s = WaveDevices().sources[o->device];
    if (s.anchorAtStart) s.start = sim::Now();
    StartHeadBuffer(h);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStop(HWAVEIN handle) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, false);
    MMRESULT injected;
    if (Injected("waveInStop", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    if (o->started && !o->queue.empty()) ReturnBuffers(h, *o, false);
    o->started = false;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInReset(HWAVEIN handle) {
    uintptr_t h = HANDLE_VALUE(handle);
    Open* o = FindOpen(h, false);
    MMRESULT injected;
    if (Injected("waveInReset", o ? o->device : ~0u, injected)) return injected;
    if (!o) return MMSYSERR_INVALHANDLE;
    ReturnBuffers(h, *o, true);
    o->started = false;
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveInGetNumDevs() {
    UINT n = 0;
    for (auto& d : WaveDevices().in) n += d.present;
    return n;
}

}  // extern "C"
