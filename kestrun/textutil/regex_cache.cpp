// The cache of compiled byte-string patterns behind CompileCached.
#include "kestrun/textutil/pattern_cache.h"
#include "kestrun/textutil/regex_engine.h"

#include <cstring>

namespace kestrun::textutil {
namespace {

constexpr size_t kMaxPatterns = 64;
constexpr size_t kMaxPatternBytes = 4096;
// Compiled and JIT code of all kept patterns together.
constexpr size_t kMaxCacheBytes = size_t{16} << 20;

// Every option that changes the compiled object, then the pattern's bytes.
std::string CacheKey(std::string_view pattern, const RegexOptions &o) {
    const uint8_t flags =
        static_cast<uint8_t>(o.caseless) | static_cast<uint8_t>(o.multiline) << 1 |
        static_cast<uint8_t>(o.useJit) << 2 | static_cast<uint8_t>(o.startOptimizations) << 3 |
        static_cast<uint8_t>(o.skipHopelessStarts) << 4;
    const uint64_t numbers[] = {o.matchLimit, o.depthLimit, o.memoryLimitKiB, o.replaceGrowthLimit,
                                o.timeLimitMs};
    std::string key(1 + sizeof numbers, '\0');
    key[0] = static_cast<char>(flags);
    std::memcpy(key.data() + 1, numbers, sizeof numbers);
    key.append(pattern);
    return key;
}

PatternCache<Regex> &Cache() {
    static PatternCache<Regex> cache(kMaxPatterns, kMaxPatternBytes + 64, kMaxCacheBytes,
                                     [](const Regex &regex) { return regex.CodeBytes(); });
    return cache;
}

} // namespace

std::shared_ptr<const Regex> CompileCached(std::string_view pattern, const RegexOptions &options) {
    std::shared_ptr<const Regex> failed;
    auto compiled = Cache().Get(CacheKey(pattern, options), [&]() -> std::shared_ptr<const Regex> {
        auto regex = std::make_shared<const Regex>(Regex::Compile(pattern, options));
        if (!regex->Ok()) {
            failed = std::move(regex);
            return nullptr;
        }
        return regex;
    });
    return compiled ? compiled : failed;
}

} // namespace kestrun::textutil
