#include "tap_file.h"

#include <unistd.h>

#include <algorithm>

#include "platform/riff_wave.h"

namespace sim {

namespace {
// The largest data size a RIFF header can claim for 16-bit samples.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36 - 1;
}  // namespace

bool TapFile::Open(const std::string& path, DWORD rate) {
    Close();
    file_ = fopen(path.c_str(), "w+b");
    if (!file_) return false;
    rate_ = rate;
    written_ = 0;
    auto h = riff::Header(riff::Pcm16Format(rate_), 16, 0);
    fwrite(h.data(), 1, h.size(), file_);
    return true;
}

void TapFile::Close() {
    if (!file_) return;
    Flush();
    fclose(file_);
    file_ = nullptr;
}

void TapFile::Zeros(uint64_t count) {
    static const int16_t zeros[4096] = {};
    while (count > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, 4096));
        fwrite(zeros, sizeof(int16_t), n, file_);
        written_ += n;
        count -= n;
    }
}

void TapFile::Put(uint64_t at, const int16_t* samples, size_t n) {
    if (!file_ || n == 0) return;
    if (at < written_) {
        uint64_t skip = std::min<uint64_t>(written_ - at, n);
        samples += skip;
        n -= static_cast<size_t>(skip);
        at += skip;
        if (n == 0) return;
    }
    Zeros(at - written_);
    written_ += fwrite(samples, sizeof(int16_t), n, file_);
}

void TapFile::Flush() {
    if (!file_) return;
    const DWORD bytes = static_cast<DWORD>(std::min<uint64_t>(written_ * 2, kMaxDataBytes));
    auto h = riff::Header(riff::Pcm16Format(rate_), 16, bytes);
    fflush(file_);
    if (fseek(file_, 0, SEEK_SET) == 0) fwrite(h.data(), 1, h.size(), file_);
    fseeko(file_, 0, SEEK_END);
    fflush(file_);
}

}  // namespace sim

namespace sim {

size_t TapFile::Read(uint64_t from, int16_t* out, size_t n) const {
    if (!file_ || from >= written_) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, written_ - from));
    static const size_t header = riff::Header(riff::Pcm16Format(8000), 16, 0).size();
    const int fd = fileno(file_);
    size_t done = 0;
    while (done < n) {
        const ssize_t got = pread(fd, reinterpret_cast<char*>(out + done), (n - done) * sizeof(int16_t),
                                  static_cast<off_t>(header + (from + done) * sizeof(int16_t)));
        if (got <= 0) break;
        done += static_cast<size_t>(got) / sizeof(int16_t);
    }
    return done;
}

}  // namespace sim
