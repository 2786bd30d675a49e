// Takes typed pieces off the front of a fuzzer's input; an exhausted input gives zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace fuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return size_ > 0 ? (--size_, *data_++) : 0; }

    template <typename T>
    T Take() {
        T value{};
        size_t count = size_ < sizeof value ? size_ : sizeof value;
        if (count > 0) std::memcpy(&value, data_, count);
        data_ += count;
        size_ -= count;
        return value;
    }

    // Bytes up to the next `separator` (dropped) or the end.
    std::string_view Until(uint8_t separator) {
        const void* found = size_ > 0 ? std::memchr(data_, separator, size_) : nullptr;
        size_t length = found ? static_cast<size_t>(static_cast<const uint8_t*>(found) - data_) : size_;
        std::string_view piece(reinterpret_cast<const char*>(data_), length);
        size_t used = found ? length + 1 : length;
        data_ += used;
        size_ -= used;
        return piece;
    }

    std::string_view Rest() {
        std::string_view piece(reinterpret_cast<const char*>(data_), size_);
        data_ += size_;
        size_ = 0;
        return piece;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// A broken invariant is a crash for the fuzzer, with the rule named.
inline void Require(bool holds, const char* rule) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", rule);
        std::abort();
    }
}

}  // namespace fuzz
