// Structured decoding of fuzz input: every read succeeds, and once the bytes
// run out every read yields zero, so any input decodes to some call and a
// truncated input decodes to a prefix-compatible one (which keeps the
// fuzzer's mutations local).
#ifndef AXISWARP_FUZZ_BYTE_READER_HPP
#define AXISWARP_FUZZ_BYTE_READER_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace axiswarp::fuzz {

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    std::uint8_t byte() noexcept { return position_ < size_ ? data_[position_++] : 0; }

    // Copies up to `count` bytes into `out`; what the input lacks is zero.
    void bytes(void* out, std::size_t count) noexcept {
        const std::size_t available = position_ < size_ ? size_ - position_ : 0;
        const std::size_t taken = count < available ? count : available;
        if (taken != 0) std::memcpy(out, data_ + position_, taken);
        if (taken < count) std::memset(static_cast<std::uint8_t*>(out) + taken, 0, count - taken);
        position_ += taken;
    }

    template <class T>
    T raw() noexcept {
        T value;
        bytes(&value, sizeof value);
        return value;
    }

    // A value in [0, n); 0 when n is 0.
    unsigned below(unsigned n) noexcept { return n == 0 ? 0 : byte() % n; }

    template <class T>
    T pick(std::initializer_list<T> choices) noexcept {
        return choices.begin()[below(static_cast<unsigned>(choices.size()))];
    }

    bool exhausted() const noexcept { return position_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace axiswarp::fuzz

#endif  // AXISWARP_FUZZ_BYTE_READER_HPP
