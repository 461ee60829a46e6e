// The front's fault hooks (refusals, hostile records, record bytes), the
// record writer that applies them, and what an address may hold.
#include <algorithm>
#include <cstring>

#include "peers/telephony_front/telephony_front.h"

namespace tfront {

Faults& FaultHooks() {
    static Faults* faults = new Faults();
    return *faults;
}

LONG Enter(const char* function) {
    Faults& f = FaultHooks();
    ++f.callCounts[function];
    auto it = f.refusals.find(function);
    return it == f.refusals.end() ? 0 : it->second;
}

void Refuse(const char* function, LONG error) {
    if (!function) return;
    if (error == 0)
        FaultHooks().refusals.erase(function);
    else
        FaultHooks().refusals[function] = error;
}

int CallCount(const char* function) {
    auto& counts = FaultHooks().callCounts;
    auto it = counts.find(function ? function : "");
    return it == counts.end() ? 0 : it->second;
}

void SetRecordBytes(const void* bytes, size_t size) {
    FaultHooks().recordBytes = bytes ? std::string(static_cast<const char*>(bytes), size) : std::string();
    FaultHooks().recordPos = 0;
}

void ResetFaults() { FaultHooks() = Faults(); }

bool ValidAddress(const std::string& a) {
    static const std::string allowed = "0123456789ABCDabcd*#!PpTtWw@$?,;+()-. |^";
    return !a.empty() && a.find_first_not_of(allowed) == std::string::npos;
}

void RecordWriter::Finish() {
    const bool fits = WritePieces();
    DWORD used = fits ? needed_ : fixed_;
    DWORD needed = needed_;
    switch (FaultHooks().hostile) {
        case kHostileOffset:
            for (auto& p : pieces_)
                if (fits) Set(p.offsetField, used + 8);
            break;
        case kHostileSize:
            for (auto& p : pieces_)
                if (fits) Set(p.sizeField, used - p.at + 64);
            break;
        case kHostileWrap:
            for (auto& p : pieces_) {
                if (!fits) continue;
                Set(p.offsetField, 0xFFFFFFF0u);
                Set(p.sizeField, 0x20);
            }
            break;
        case kHostileUsed:
            if (fits) {
                used = 0xFFFFFFF0u;
                for (auto& p : pieces_) Set(p.offsetField, total_ + 16);
            }
            break;
        case kHostileNeeded:
            needed = 0xFFFFFF00u;
            break;
        default:
            break;
    }
    SetSizes(needed, used);
    Overwrite();
}

void RecordWriter::Overwrite() {
    Faults& f = FaultHooks();
    const std::string& stream = f.recordBytes;
    if (f.recordPos + 2 > stream.size()) return;
    size_t n = static_cast<BYTE>(stream[f.recordPos]) | static_cast<size_t>(static_cast<BYTE>(stream[f.recordPos + 1]))
                                                             << 8;
    f.recordPos += 2;
    const size_t room = total_ > sizeof(DWORD) ? static_cast<size_t>(total_ - sizeof(DWORD)) : 0;
    n = std::min({n, stream.size() - f.recordPos, room});
    std::memcpy(base_ + sizeof(DWORD), stream.data() + f.recordPos, n);
    f.recordPos += n;
}

}  // namespace tfront
