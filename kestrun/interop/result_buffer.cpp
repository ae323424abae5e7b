#include "result_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace kestrun::interop {
namespace {

// Largest byte count a BSTR can carry (its length field is 32 bits and the allocation adds a
// prefix and a terminator).
constexpr size_t kMaxBstrBytes = 0xFFFFFFF0u;

// A trim that leaves more slack than this is done by moving the text to an exact allocation.
constexpr size_t kMaxSlackBytes = 64 * 1024;

// Ends a BSTR at `length` bytes in place. A BSTR is [32-bit byte count][data][two zero bytes]
// and is freed through the address of its count, so a shorter count and a new terminator make a
// valid shorter string over the same allocation.
void TrimInPlace(BSTR bstr, size_t length) {
    auto *data = reinterpret_cast<unsigned char *>(bstr);
    const auto count = static_cast<uint32_t>(length);
    std::memcpy(data - sizeof count, &count, sizeof count);
    data[length] = 0;
    data[length + 1] = 0;
}

} // namespace

std::string_view InView(const char *p) {
    // An empty view over a real string: some libraries refuse a null pointer even with length 0.
    return p == nullptr ? std::string_view("") : std::string_view(p);
}

std::string_view RefView(const BSTR *variable) {
    if (variable == nullptr || *variable == nullptr) {
        return InView(nullptr);
    }
    // The data is followed by two zero bytes, so the scan always ends inside the allocation.
    return std::string_view(reinterpret_cast<const char *>(*variable));
}

ResultBuffer::ResultBuffer(size_t bound) : bound_(bound) {
    if (bound > kMaxBstrBytes) {
        throw std::bad_alloc();
    }
    bstr_.reset(SysAllocStringByteLen(nullptr, static_cast<UINT>(bound)));
    if (!bstr_) {
        throw std::bad_alloc();
    }
}

BSTR ResultBuffer::Finish(size_t used, ZeroBytes zeros) {
    size_t length = used < bound_ ? used : bound_;
    if (zeros == ZeroBytes::Possible && length != 0) {
        const void *zero = std::memchr(data(), 0, length);
        if (zero != nullptr) {
            length = static_cast<size_t>(static_cast<const char *>(zero) - data());
        }
    }
    if (length == bound_) {
        return bstr_.release();
    }
    if (bound_ - length > kMaxSlackBytes) {
        BSTR exact = SysAllocStringByteLen(data(), static_cast<UINT>(length));
        if (exact != nullptr) {
            return exact; // the loose one is freed by bstr_
        }
    }
    TrimInPlace(bstr_.get(), length);
    return bstr_.release();
}

void GrowingResult::Reserve(size_t capacity) {
    if (capacity <= capacity_) {
        return;
    }
    if (capacity > kMaxBstrBytes) {
        throw std::bad_alloc();
    }
    UniqueBstr grown(SysAllocStringByteLen(nullptr, static_cast<UINT>(capacity)));
    if (!grown) {
        throw std::bad_alloc();
    }
    if (size_ != 0) {
        std::memcpy(reinterpret_cast<char *>(grown.get()), data(), size_);
    }
    bstr_ = std::move(grown);
    capacity_ = capacity;
}

void GrowingResult::Append(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    if (bytes.size() > capacity_ - size_) {
        const size_t needed = size_ + bytes.size();
        if (needed < size_) {
            throw std::bad_alloc();
        }
        const size_t doubled = capacity_ > kMaxBstrBytes / 2 ? kMaxBstrBytes : capacity_ * 2;
        Reserve(std::max({needed, doubled, size_t{4096}}));
    }
    std::memcpy(data() + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
}

BSTR GrowingResult::Finish() {
    if (!bstr_) {
        BSTR empty = SysAllocStringByteLen(nullptr, 0);
        if (empty == nullptr) {
            throw std::bad_alloc();
        }
        return empty;
    }
    size_t length = size_;
    if (const void *zero = std::memchr(data(), 0, length)) {
        length = static_cast<size_t>(static_cast<const char *>(zero) - data());
    }
    TrimInPlace(bstr_.get(), length);
    capacity_ = 0;
    size_ = 0;
    return bstr_.release();
}

} // namespace kestrun::interop
