#include "imagefile/byte_outputs.hpp"

#include "runtime/tool_error.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace axiswarp::tools {

void VectorOutput::write(std::span<const std::byte> bytes) {
    if (position_ > std::numeric_limits<std::size_t>::max() - bytes.size())
        throw ToolError("the encoded image is too large to hold in memory");
    const auto end = static_cast<std::size_t>(position_ + bytes.size());
    if (end > bytes_.size()) bytes_.resize(end);
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(position_));
    position_ = end;
}

std::size_t VectorOutput::readAt(std::uint64_t offset, std::span<std::byte> bytes) {
    if (offset >= bytes_.size()) return 0;
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), bytes_.size() - offset));
    std::memcpy(bytes.data(), bytes_.data() + offset, count);
    return count;
}

namespace {
constexpr std::size_t kGatherBytes = 256 * 1024;
}

void AtomicFileOutput::flush() {
    if (pending_.empty()) return;
    file_.writeAt(written_, pending_);
    written_ += pending_.size();
    pending_.clear();
}

void AtomicFileOutput::write(std::span<const std::byte> bytes) {
    const std::uint64_t end = written_ + pending_.size();
    if (position_ != end) {
        // Patching what is already there (or writing past the end).
        flush();
        file_.writeAt(position_, bytes);
        position_ += bytes.size();
        written_ = std::max(written_, position_);
        return;
    }
    if (pending_.size() + bytes.size() > kGatherBytes) flush();
    if (bytes.size() >= kGatherBytes) {
        file_.writeAt(written_, bytes);
        written_ += bytes.size();
    } else {
        if (pending_.capacity() < kGatherBytes) pending_.reserve(kGatherBytes);
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    }
    position_ += bytes.size();
}

void AtomicFileOutput::seek(std::uint64_t offset) { position_ = offset; }

std::uint64_t AtomicFileOutput::size() const { return written_ + pending_.size(); }

std::size_t AtomicFileOutput::readAt(std::uint64_t offset, std::span<std::byte> bytes) {
    flush();
    return file_.readAt(offset, bytes);
}

}  // namespace axiswarp::tools
