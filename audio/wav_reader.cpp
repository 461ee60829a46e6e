#include "audio/wav_reader.h"

#include <cstdlib>
#include <string>

#include "control/module.h"

namespace {

// Ends a failed read: releases what this read allocated, leaves the current
// sound empty, closes the file and logs.
LONG Fail(Module& m, HMMIO h, LONG code, const char* text) {
    m.sound.owned = true;
    m.sound.Release();
    mmioClose(h, 0);
    m.WriteLog(text);
    return code;
}

}  // namespace

LONG ReadWav(Module& m, const char* path) {
    WaveSound& s = m.sound;
    // The blocks the sound held belong to whoever took them over.
    s.Clear();

    std::string name = path ? path : "";
    HMMIO h = mmioOpenA(name.data(), nullptr, MMIO_ALLOCBUF);
    if (!h) {
        m.WriteLog("!hmmio");
        return -1;
    }

    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) return Fail(m, h, -2, "读入语音err8");

    MMCKINFO sub{};
    sub.ckid = mmioFOURCC('f', 'm', 't', ' ');
    if (mmioDescend(h, &sub, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return Fail(m, h, -3, "读入语音err7");

    s.formatSize = sub.cksize;
    s.format = static_cast<WAVEFORMATEX*>(calloc(1, s.formatSize));
    if (!s.format) return Fail(m, h, -4, "读入语音err6");
    if (mmioRead(h, reinterpret_cast<HPSTR>(s.format), static_cast<LONG>(s.formatSize)) !=
        static_cast<LONG>(s.formatSize))
        return Fail(m, h, -5, "读入语音err5");
    mmioAscend(h, &sub, 0);

    sub.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioDescend(h, &sub, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return Fail(m, h, -6, "读入语音err4");
    s.dataSize = sub.cksize;
    if (s.dataSize == 0) return Fail(m, h, -7, "读入语音err3");
    s.data = static_cast<char*>(calloc(1, s.dataSize));
    if (!s.data) return Fail(m, h, -8, "读入语音err2");
    if (mmioRead(h, s.data, static_cast<LONG>(s.dataSize)) != static_cast<LONG>(s.dataSize))
        return Fail(m, h, -9, "读入语音err1");

    s.owned = true;
    m.WriteLog("读入语音数据成功");
    mmioClose(h, 0);
    return 0;
}
