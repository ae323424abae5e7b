// BSTR allocation: [uint32 byte count][data bytes][two zero bytes]; the BSTR points at the data.
#include "oleauto.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace {

// Large strings are backed by huge pages where the system allows it: filling a result of tens
// of megabytes then takes a few hundred page faults instead of tens of thousands.
constexpr size_t kHugePage = size_t{2} << 20;

void PreferHugePages(unsigned char *block, size_t size) {
    if (size < 2 * kHugePage) {
        return;
    }
    const auto start = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    const auto end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kHugePage - 1);
    if (end > start) {
        (void)madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
    }
}

BSTR AllocBytes(const void *src, size_t bytes) {
    // The byte count is a 32-bit field; the data plus its prefix and terminator must fit.
    if (bytes > 0xFFFFFFFFu - 6u) {
        return nullptr;
    }
    auto *block = static_cast<unsigned char *>(std::malloc(sizeof(uint32_t) + bytes + 2));
    if (block == nullptr) {
        return nullptr;
    }
    PreferHugePages(block, sizeof(uint32_t) + bytes + 2);
    const auto count = static_cast<uint32_t>(bytes);
    std::memcpy(block, &count, sizeof count);
    unsigned char *data = block + sizeof(uint32_t);
    // Without a source the data are left as they are, for the caller to fill.
    if (src != nullptr && bytes != 0) {
        std::memcpy(data, src, bytes);
    }
    data[bytes] = 0;
    data[bytes + 1] = 0;
    return reinterpret_cast<BSTR>(data);
}

unsigned char *BlockOf(BSTR bstr) {
    return reinterpret_cast<unsigned char *>(bstr) - sizeof(uint32_t);
}

} // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR *psz) {
    if (psz == nullptr) {
        return nullptr;
    }
    size_t units = 0;
    while (psz[units] != 0) {
        ++units;
    }
    return AllocBytes(psz, units * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR *pch, UINT cch) {
    return AllocBytes(pch, static_cast<size_t>(cch) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char *psz, UINT len) {
    return AllocBytes(psz, len);
}

void SysFreeString(BSTR bstr) {
    if (bstr != nullptr) {
        std::free(BlockOf(bstr));
    }
}

UINT SysStringByteLen(BSTR bstr) {
    if (bstr == nullptr) {
        return 0;
    }
    uint32_t count = 0;
    std::memcpy(&count, BlockOf(bstr), sizeof count);
    return count;
}

UINT SysStringLen(BSTR bstr) {
    return SysStringByteLen(bstr) / sizeof(OLECHAR);
}

} // extern "C"
