// A tap streamed to its WAV file: 16-bit mono PCM written as it is played,
// silence gaps written as zero samples, the header's sizes patched on each
// flush so that the file is a valid WAV after every flush.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "win32/win_types.h"

namespace sim {

class TapFile {
public:
    TapFile() = default;
    TapFile(const TapFile&) = delete;
    TapFile& operator=(const TapFile&) = delete;
    ~TapFile() { Close(); }

    // Starts a new file (truncating it) with no samples; false when it
    // cannot be created.
    bool Open(const std::string& path, DWORD rate);
    // Flushes and closes; nothing when not open.
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    // Samples in the file so far.
    uint64_t Written() const { return written_; }
    // Puts `n` samples at sample index `at`: zeros fill the gap up to it,
    // samples before what is written already are dropped.
    void Put(uint64_t at, const int16_t* samples, size_t n);
    // Patches the header's sizes and flushes the stream.
    void Flush();
    // Reads up to `n` samples from sample index `from` on, as flushed last;
    // the number read.
    size_t Read(uint64_t from, int16_t* out, size_t n) const;

private:
    void Zeros(uint64_t count);
    FILE* file_ = nullptr;
    DWORD rate_ = 0;
    uint64_t written_ = 0;
};

}  // namespace sim
