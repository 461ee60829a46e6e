// Variable-size telephony records: a zero-filled block whose first field is
// its total size, grown when the service reports a larger needed size, and
// bounded reads of the texts and values the service places inside it.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

// The largest record the control will allocate; a larger needed size is
// treated as an allocation failure.
constexpr DWORD kMaxTapiRecordSize = 1u << 20;

class TapiRecord {
public:
    TapiRecord() = default;
    ~TapiRecord() { std::free(data_); }
    TapiRecord(const TapiRecord&) = delete;
    TapiRecord& operator=(const TapiRecord&) = delete;

    // Replaces the block with a zero-filled one of `size` bytes whose total
    // size field is set. False when the block cannot be had.
    bool Allocate(DWORD size) {
        Release();
        if (size < 3 * sizeof(DWORD) || size > kMaxTapiRecordSize) return false;
        data_ = static_cast<BYTE*>(std::calloc(1, size));
        if (!data_) return false;
        size_ = size;
        std::memcpy(data_, &size, sizeof size);
        return true;
    }
    void Release() {
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
    }

    template <typename T>
    T* as() const { return reinterpret_cast<T*>(data_); }
    DWORD size() const { return size_; }
    DWORD neededSize() const { return Field(1); }
    // The part the service reports as filled in, never beyond the block.
    DWORD usedSize() const { return Field(2) < size_ ? Field(2) : size_; }
    bool TooSmall() const { return neededSize() > size_; }

    // True when [offset, offset + size) lies inside the used part.
    bool Contains(DWORD offset, DWORD size) const {
        DWORD used = usedSize();
        return offset <= used && size <= used - offset;
    }
    // The text at `offset`, at most `size` bytes and up to its first zero;
    // empty when the text does not lie inside the used part.
    std::string Text(DWORD offset, DWORD size) const {
        if (!data_ || size == 0 || !Contains(offset, size)) return std::string();
        const char* p = reinterpret_cast<const char*>(data_ + offset);
        return std::string(p, strnlen(p, size));
    }
    const BYTE* At(DWORD offset) const { return data_ + offset; }

private:
    DWORD Field(int index) const {
        if (!data_) return 0;
        DWORD v;
        std::memcpy(&v, data_ + index * sizeof(DWORD), sizeof v);
        return v;
    }

    BYTE* data_ = nullptr;
    DWORD size_ = 0;
};
