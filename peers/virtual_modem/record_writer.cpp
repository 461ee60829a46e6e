#include "peers/virtual_modem/record_writer.h"

#include <algorithm>

namespace vmodem_impl {

void RecordWriter::Finish() {
    const bool fits = WritePieces();
    DWORD used = fits ? needed_ : fixed_;
    DWORD needed = needed_;
    switch (M().hostile) {
        case VMODEM_HOSTILE_OFFSET:
            for (auto& p : pieces_)
                if (fits) Set(p.offsetField, used + 8);
            break;
        case VMODEM_HOSTILE_SIZE:
            for (auto& p : pieces_)
                if (fits) Set(p.sizeField, used - p.at + 64);
            break;
        case VMODEM_HOSTILE_WRAP:
            for (auto& p : pieces_) {
                if (!fits) continue;
                Set(p.offsetField, 0xFFFFFFF0u);
                Set(p.sizeField, 0x20);
            }
            break;
        case VMODEM_HOSTILE_USED:
            if (fits) {
                used = 0xFFFFFFF0u;
                for (auto& p : pieces_) Set(p.offsetField, total_ + 16);
            }
            break;
        case VMODEM_HOSTILE_NEEDED:
            needed = 0xFFFFFF00u;
            break;
        default:
            break;
    }
    SetSizes(needed, used);
    Overwrite();
}

void RecordWriter::Overwrite() {
    Modem& m = M();
    const std::string& stream = m.recordBytes;
    if (m.recordPos + 2 > stream.size()) return;
    size_t n = static_cast<BYTE>(stream[m.recordPos]) | static_cast<size_t>(static_cast<BYTE>(stream[m.recordPos + 1])) << 8;
    m.recordPos += 2;
    const size_t room = total_ > sizeof(DWORD) ? static_cast<size_t>(total_ - sizeof(DWORD)) : 0;
    n = std::min({n, stream.size() - m.recordPos, room});
    std::memcpy(base_ + sizeof(DWORD), stream.data() + m.recordPos, n);
    m.recordPos += n;
}

}  // namespace vmodem_impl
