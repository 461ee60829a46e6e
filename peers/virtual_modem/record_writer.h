// Variable-size telephony records: the fixed part, then the strings and
// blocks the fields point at, with the modem's hostile modes.
#pragma once

#include "peers/virtual_modem/modem_state.h"

namespace vmodem_impl {

// Lays out the variable part of a record after its fixed part: either all
// of it fits into the caller's total size, or none of it is written and the
// needed size says how much is wanted.
class RecordWriter {
public:
    RecordWriter(void* record, DWORD fixedSize) : base_(static_cast<BYTE*>(record)), fixed_(fixedSize) {
        std::memcpy(&total_, base_, sizeof total_);
        needed_ = fixed_;
    }
    bool FixedFits() const { return total_ >= fixed_; }
    // Reserves `data` for the field pair at the given offsets; returns the
    // offset it will have.
    DWORD Put(size_t sizeField, size_t offsetField, const std::string& data) {
        DWORD at = needed_;
        pieces_.push_back({sizeField, offsetField, at, data});
        needed_ += static_cast<DWORD>(data.size());
        return at;
    }
    void Set(size_t field, DWORD value) { std::memcpy(base_ + field, &value, sizeof value); }
    bool Fits() const { return needed_ <= total_; }

    // Writes the pieces (when they all fit), the needed and used sizes,
    // then bends them as the modem's hostile mode says.
    void Finish();

private:
    // Overwrites the record from the stream of vmodem_SetRecordBytes.
    void Overwrite();

    struct Piece {
        size_t sizeField, offsetField;
        DWORD at;
        std::string data;
    };
    BYTE* base_;
    DWORD fixed_;
    DWORD total_ = 0;
    DWORD needed_ = 0;
    std::vector<Piece> pieces_;
};

std::string WithZero(const std::string& s);
std::string Bytes(const void* p, size_t n);
// Zeroes a record beyond its first field (the total size).
void ClearRecord(void* record, DWORD fixedSize);
DWORD TotalSize(const void* record);

}  // namespace vmodem_impl
