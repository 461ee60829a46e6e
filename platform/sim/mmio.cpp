// Multimedia file I/O over stdio: read-only RIFF access with forward chunk
// searches, as the WAV reader uses it. Chunk sizes are claims: positions
// are computed in 64 bits and a search never goes past the file's end.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "call_hook.h"
#include "win32/mmsystem.h"
#include "sim.h"
#include "wave_devices.h"

// A seek only moves `pos`; the stream follows when it is next read, so that
// learning the size (a seek to the end and back) costs no I/O.
struct MmioFile {
    FILE* file;
    char* buffer;
    long long size;  // bytes in the file, learnt once at the open
    long long pos;   // the handle's position
    long long at;    // the stream's position
};

namespace {

struct MmioState {
    int open = 0;
    std::map<std::string, int> faults;
};

MmioState& MmioFiles() {
    static MmioState* s = [] {
        auto* st = new MmioState();
        sim::AddResetHook([st] { st->faults.clear(); });
        return st;
    }();
    return *s;
}

bool Fault(const char* fn) {
    sim::NoteCall(fn);
    auto it = MmioFiles().faults.find(fn);
    if (it == MmioFiles().faults.end() || it->second == 0) return false;
    if (it->second > 0) --it->second;
    return true;
}

constexpr size_t kIoBuffer = 8192;  // the size mmio allocates for MMIO_ALLOCBUF

// Reads at the handle's position; the count read, 0 on an error.
size_t ReadAt(MmioFile* h, void* to, size_t count) {
    if (h->at != h->pos) {
        if (fseeko(h->file, static_cast<off_t>(h->pos), SEEK_SET) != 0) return 0;
        h->at = h->pos;
    }
    const size_t n = fread(to, 1, count, h->file);
    h->pos += static_cast<long long>(n);
    h->at = h->pos;
    return n;
}

bool ReadU32(MmioFile* h, DWORD& v) {
    unsigned char b[4];
    if (ReadAt(h, b, 4) != 4) return false;
    v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<DWORD>(b[3]) << 24);
    return true;
}

// Moves to `to` when it lies inside the file (its end included).
bool SeekInside(MmioFile* h, long long to) {
    if (to < 0 || to > h->size) return false;
    h->pos = to;
    return true;
}

}  // namespace

namespace sim {
int OpenMmioHandles() { return MmioFiles().open; }
void FailMmio(const std::string& function, int count) { MmioFiles().faults[function] = count; }
}  // namespace sim

extern "C" {

HMMIO WINAPI mmioOpenA(LPSTR fileName, LPMMIOINFO, DWORD flags) {
    if (!fileName || Fault("mmioOpen")) return nullptr;
    if (flags & (MMIO_WRITE | MMIO_READWRITE)) return nullptr;  // reading only
    FILE* f = fopen(sim::NativePath(fileName).c_str(), "rb");
    if (!f) return nullptr;
    auto* h = new MmioFile{f, nullptr, -1, 0, 0};
    if (flags & MMIO_ALLOCBUF) {
        h->buffer = new char[kIoBuffer];
        setvbuf(f, h->buffer, _IOFBF, kIoBuffer);  // before the stream's first use
    }
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        fclose(f);
        delete[] h->buffer;
        delete h;
        return nullptr;
    }
    h->size = static_cast<long long>(st.st_size);
    ++MmioFiles().open;
    return reinterpret_cast<HMMIO>(h);
}

MMRESULT WINAPI mmioClose(HMMIO hmmio, UINT) {
    auto* h = reinterpret_cast<MmioFile*>(hmmio);
    if (!h) return MMSYSERR_INVALHANDLE;
    fclose(h->file);
    delete[] h->buffer;
    delete h;
    --MmioFiles().open;
    return MMSYSERR_NOERROR;
}

LONG WINAPI mmioRead(HMMIO hmmio, HPSTR buffer, LONG count) {
    auto* h = reinterpret_cast<MmioFile*>(hmmio);
    if (!h || count < 0 || Fault("mmioRead")) return -1;
    if (count == 0) return 0;
    size_t n = ReadAt(h, buffer, static_cast<size_t>(count));
    if (n == 0 && ferror(h->file)) return -1;
    return static_cast<LONG>(n);
}

LONG WINAPI mmioSeek(HMMIO hmmio, LONG offset, int origin) {
    auto* h = reinterpret_cast<MmioFile*>(hmmio);
    if (!h) return -1;
    long long base;
    switch (origin) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = h->pos; break;
        case SEEK_END: base = h->size; break;
        default: return -1;
    }
    const long long to = base + offset;
    if (base < 0 || to < 0 || to > 0x7FFFFFFFLL) return -1;
    h->pos = to;
    return static_cast<LONG>(to);
}

// Reads chunk headers forward from the current position until one matches
// (FINDRIFF/FINDLIST: id and form type; FINDCHUNK: id; no flag: the next
// chunk), staying inside the parent when there is one and inside the file.
// Skipped chunks are passed with their pad byte; a chunk that claims more
// than the file holds ends the search.
MMRESULT WINAPI mmioDescend(HMMIO hmmio, LPMMCKINFO ck, const MMCKINFO* parent, UINT flags) {
    auto* h = reinterpret_cast<MmioFile*>(hmmio);
    if (!h || !ck) return MMSYSERR_INVALPARAM;
    if (Fault("mmioDescend")) return MMIOERR_CHUNKNOTFOUND;
    long long end = h->size;
    if (parent) end = std::min(end, static_cast<long long>(parent->dwDataOffset) + parent->cksize);
    for (;;) {
        const long long pos = h->pos;
        if (pos < 0 || pos + 8 > end) return MMIOERR_CHUNKNOTFOUND;
        DWORD id = 0, size = 0, type = 0;
        if (!ReadU32(h, id) || !ReadU32(h, size)) return MMIOERR_CHUNKNOTFOUND;
        const long long dataOffset = pos + 8;
        if (dataOffset > 0xFFFFFFFFLL) return MMIOERR_CHUNKNOTFOUND;
        const bool container = id == FOURCC_RIFF || id == FOURCC_LIST;
        if (container && !ReadU32(h, type)) return MMIOERR_CHUNKNOTFOUND;
        bool match;
        if (flags & MMIO_FINDRIFF)
            match = id == FOURCC_RIFF && type == ck->fccType;
        else if (flags & MMIO_FINDLIST)
            match = id == FOURCC_LIST && type == ck->fccType;
        else if (flags & MMIO_FINDCHUNK)
            match = id == ck->ckid;
        else
            match = true;
        if (match) {
            ck->ckid = id;
            ck->cksize = size;
            ck->fccType = container ? type : 0;
            ck->dwDataOffset = static_cast<DWORD>(dataOffset);
            ck->dwFlags = 0;
            return MMSYSERR_NOERROR;
        }
        const long long next = dataOffset + size + (size & 1);
        if (next > end || !SeekInside(h, next)) return MMIOERR_CHUNKNOTFOUND;
    }
}

// Moves past the chunk and its pad byte; to the end of the file when the
// chunk claims more than the file holds.
MMRESULT WINAPI mmioAscend(HMMIO hmmio, LPMMCKINFO ck, UINT) {
    auto* h = reinterpret_cast<MmioFile*>(hmmio);
    if (!h || !ck) return MMSYSERR_INVALPARAM;
    if (Fault("mmioAscend")) return MMIOERR_CANNOTREAD;
    long long next = static_cast<long long>(ck->dwDataOffset) + ck->cksize + (ck->cksize & 1);
    if (!SeekInside(h, std::min(next, h->size))) return MMIOERR_CANNOTREAD;
    return MMSYSERR_NOERROR;
}

}  // extern "C"
