#include "audio/wav_reader.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr size_t kExtensibleRecord = 40;  // sizeof(WAVEFORMATEXTENSIBLE)

LONG Fail(const Core& core, HMMIO h, LONG code, const char* text) {
    mmioClose(h, 0);
    core.WriteLog(text);
    return code;
}

// The file's size, learnt before the chunk searches; -1 when unknown.
long long FileSize(HMMIO h) {
    const LONG end = mmioSeek(h, 0, SEEK_END);
    return end >= 0 && mmioSeek(h, 0, SEEK_SET) == 0 ? end : -1;
}

// Reads the chunk's declared size into a new block of at least `room` bytes
// (zeros past the chunk's). A size the file cannot hold (or one beyond what
// one read can take) is refused before any allocation; false with `block`
// empty then, and on a short read.
enum class ChunkRead { Ok, NoMemory, Short };
ChunkRead ReadChunk(HMMIO h, long long fileSize, const MMCKINFO& chunk, HeapBlock& block, size_t room = 0) {
    const long long available = fileSize - static_cast<long long>(chunk.dwDataOffset);
    if (fileSize < 0 || available < 0 || chunk.cksize > available || chunk.cksize > 0x7FFFFFFFu) return ChunkRead::Short;
    if (chunk.cksize == 0) return ChunkRead::Ok;  // an empty record: no device takes it
    block = HeapBlock::Allocate(std::max<size_t>(chunk.cksize, room));
    if (!block) return ChunkRead::NoMemory;
    const LONG want = static_cast<LONG>(chunk.cksize);
    if (mmioRead(h, block.get(), want) != want) {
        block = HeapBlock();
        return ChunkRead::Short;
    }
    return ChunkRead::Ok;
}

}  // namespace

LONG ReadWav(const Core& core, const char* path, SoundRef& sound) {
    sound.reset();
    std::string name = path ? path : "";
    HMMIO h = mmioOpenA(name.data(), nullptr, MMIO_ALLOCBUF);
    if (!h) {
        core.WriteLog("!hmmio");
        return -1;
    }

    const long long fileSize = FileSize(h);
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) return Fail(core, h, -2, "读入语音err8");

    MMCKINFO sub{};
    sub.ckid = mmioFOURCC('f', 'm', 't', ' ');
    if (mmioDescend(h, &sub, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return Fail(core, h, -3, "读入语音err7");

    auto read = std::make_shared<Sound>();
    // A device reads an extensible record's 40 bytes whatever the chunk held.
    switch (ReadChunk(h, fileSize, sub, read->format, kExtensibleRecord)) {
        case ChunkRead::Ok: break;
        case ChunkRead::NoMemory: return Fail(core, h, -4, "读入语音err6");
        case ChunkRead::Short: return Fail(core, h, -5, "读入语音err5");
    }
    mmioAscend(h, &sub, 0);

    sub.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioDescend(h, &sub, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return Fail(core, h, -6, "读入语音err4");
    if (sub.cksize == 0) return Fail(core, h, -7, "读入语音err3");
    switch (ReadChunk(h, fileSize, sub, read->data)) {
        case ChunkRead::Ok: break;
        case ChunkRead::NoMemory: return Fail(core, h, -8, "读入语音err2");
        case ChunkRead::Short: return Fail(core, h, -9, "读入语音err1");
    }

    sound = std::move(read);
    core.WriteLog("读入语音数据成功");
    mmioClose(h, 0);
    return 0;
}
