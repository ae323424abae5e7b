// A small, bounded cache of compiled patterns shared by all threads, so that a host calling with
// the same pattern in a loop does not compile it every time.
//
// Entries are immutable compiled objects held by shared pointers: a caller keeps its pattern
// alive while it matches even if the entry is evicted meanwhile. Matching state (match data,
// JIT stacks) is never cached; every search makes its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace kestrun::textutil {

// Whether the pattern caches keep anything (on unless switched off, for comparisons).
inline std::atomic<bool> &PatternCachesSwitch() {
    static std::atomic<bool> enabled{true};
    return enabled;
}
inline void SetPatternCachesEnabled(bool enabled) {
    PatternCachesSwitch().store(enabled, std::memory_order_relaxed);
}
inline bool PatternCachesEnabled() {
    return PatternCachesSwitch().load(std::memory_order_relaxed);
}

template <class Compiled> class PatternCache {
public:
    using Pointer = std::shared_ptr<const Compiled>;
    // The bytes a compiled pattern holds (code and JIT code).
    using SizeOf = size_t (*)(const Compiled &);

    // At most `maxEntries` patterns holding at most `maxBytes` together (by `sizeOf`), the least
    // recently used going first; keys longer than `maxKeyBytes` are compiled each time and never
    // kept, nor is a pattern larger than `maxBytes` on its own.
    PatternCache(size_t maxEntries, size_t maxKeyBytes, size_t maxBytes, SizeOf sizeOf)
        : maxEntries_(maxEntries), maxKeyBytes_(maxKeyBytes), maxBytes_(maxBytes), sizeOf_(sizeOf) {
    }
    PatternCache(const PatternCache &) = delete;
    PatternCache &operator=(const PatternCache &) = delete;

    // The compiled pattern for `key`; on a miss `compile()` makes it (outside the lock) and a
    // non-null result is kept. A null result (a pattern that does not compile) is not kept.
    template <class Compile> Pointer Get(std::string_view key, Compile &&compile) {
        if (!PatternCachesEnabled() || key.size() > maxKeyBytes_ || maxEntries_ == 0) {
            return compile();
        }
        {
            const std::lock_guard lock(mutex_);
            const auto found = entries_.find(key);
            if (found != entries_.end()) {
                found->second.lastUse = ++clock_;
                return found->second.value;
            }
        }
        Pointer compiled = compile();
        if (!compiled) {
            return compiled;
        }
        const size_t bytes = sizeOf_(*compiled) + key.size();
        if (bytes > maxBytes_) {
            return compiled;
        }
        const std::lock_guard lock(mutex_);
        const auto [it, inserted] = entries_.try_emplace(std::string(key));
        it->second.lastUse = ++clock_;
        if (!inserted) {
            return it->second.value; // another thread compiled it meanwhile
        }
        it->second.value = std::move(compiled);
        it->second.bytes = bytes;
        bytes_ += bytes;
        while (entries_.size() > maxEntries_ || bytes_ > maxBytes_) {
            EvictOldest();
        }
        return it->second.value;
    }

    size_t Size() const {
        const std::lock_guard lock(mutex_);
        return entries_.size();
    }

    size_t Bytes() const {
        const std::lock_guard lock(mutex_);
        return bytes_;
    }

    void Clear() {
        const std::lock_guard lock(mutex_);
        entries_.clear();
        bytes_ = 0;
    }

private:
    struct Entry {
        Pointer value;
        size_t bytes = 0;
        uint64_t lastUse = 0;
    };

    // Called with the lock held and at least two entries (the newest is never the oldest).
    void EvictOldest() {
        auto oldest = entries_.begin();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->second.lastUse < oldest->second.lastUse) {
                oldest = it;
            }
        }
        bytes_ -= oldest->second.bytes;
        entries_.erase(oldest);
    }

    const size_t maxEntries_;
    const size_t maxKeyBytes_;
    const size_t maxBytes_;
    const SizeOf sizeOf_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry, std::less<>> entries_;
    size_t bytes_ = 0;
    uint64_t clock_ = 0;
};

} // namespace kestrun::textutil
