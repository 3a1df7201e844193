#pragma once
// Bounds-checked little-endian reader over bytes that came from outside the program.
// Every read either succeeds whole or fails without moving the cursor.

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteCursor {
public:
    ByteCursor(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(size) {}

    size_t Position() const { return position_; }
    size_t Remaining() const { return size_ - position_; }
    bool AtEnd() const { return position_ == size_; }

    bool Skip(size_t count) {
        if (count > Remaining()) return false;
        position_ += count;
        return true;
    }

    bool ReadBytes(void* out, size_t count) {
        if (count > Remaining()) return false;
        if (count) std::memcpy(out, data_ + position_, count);
        position_ += count;
        return true;
    }

    bool ReadU8(uint8_t& out) { return ReadLittleEndian(out); }
    bool ReadU16(uint16_t& out) { return ReadLittleEndian(out); }
    bool ReadU32(uint32_t& out) { return ReadLittleEndian(out); }
    bool ReadU64(uint64_t& out) { return ReadLittleEndian(out); }
    bool ReadI32(int32_t& out) {
        uint32_t raw;
        if (!ReadU32(raw)) return false;
        out = static_cast<int32_t>(raw);
        return true;
    }

private:
    template <class T>
    bool ReadLittleEndian(T& out) {
        if (sizeof(T) > Remaining()) return false;
        T value = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            value |= static_cast<T>(static_cast<T>(data_[position_ + i]) << (8 * i));
        }
        position_ += sizeof(T);
        out = value;
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};
