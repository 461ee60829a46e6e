// Variable-size telephony records as a Linux provider fills them: the fixed
// part, then the strings and blocks its size/offset field pairs point at.
// Either all of the variable part fits the caller's dwTotalSize, or none of
// it is written and dwNeededSize says how much is wanted.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tapirec {

inline DWORD TotalSize(const void* record) {
    DWORD total;
    std::memcpy(&total, record, sizeof total);
    return total;
}

// Zeroes a record beyond its first field (the total size).
inline void ClearRecord(void* record, DWORD fixedSize) {
    std::memset(static_cast<BYTE*>(record) + sizeof(DWORD), 0, fixedSize - sizeof(DWORD));
}

inline std::string WithZero(const std::string& s) { return std::string(s.c_str(), s.size() + 1); }
inline std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

class RecordLayout {
public:
    RecordLayout(void* record, DWORD fixedSize)
        : base_(static_cast<BYTE*>(record)), fixed_(fixedSize), total_(TotalSize(record)), needed_(fixedSize) {}
    bool Fits() const { return needed_ <= total_; }
    // Reserves `data` for the field pair at the given offsets; returns the
    // offset it will have.
    DWORD Put(size_t sizeField, size_t offsetField, const std::string& data) {
        DWORD at = needed_;
        pieces_.push_back({sizeField, offsetField, at, data});
        needed_ += static_cast<DWORD>(data.size());
        return at;
    }
    void Set(size_t field, DWORD value) { std::memcpy(base_ + field, &value, sizeof value); }
    // Writes the pieces and their fields when they all fit; whether they did.
    bool WritePieces() {
        if (!Fits()) return false;
        for (auto& p : pieces_) {
            std::memcpy(base_ + p.at, p.data.data(), p.data.size());
            Set(p.sizeField, static_cast<DWORD>(p.data.size()));
            Set(p.offsetField, p.at);
        }
        return true;
    }
    // dwNeededSize and dwUsedSize.
    void SetSizes(DWORD needed, DWORD used) {
        Set(sizeof(DWORD), needed);
        Set(2 * sizeof(DWORD), used);
    }
    void Finish() {
        bool fits = WritePieces();
        SetSizes(needed_, fits ? needed_ : fixed_);
    }

protected:
    struct Piece {
        size_t sizeField, offsetField;
        DWORD at;
        std::string data;
    };
    BYTE* base_;
    DWORD fixed_;
    DWORD total_;
    DWORD needed_;
    std::vector<Piece> pieces_;
};

}  // namespace tapirec
