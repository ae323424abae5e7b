// Files named by GBK path bytes, as the cipher file exports open them.
#pragma once

#include <cstdio>
#include <memory>
#include <string_view>

namespace kestrun::crypto {

struct FileClose {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileClose>;

// Opens a regular file for binary reading ("rb") or writing ("wb": created or emptied); null when
// it cannot be opened or the path names something else (a folder, a FIFO, a device).
UniqueFile OpenFile(std::string_view ansiPath, const char *mode);

// True when both paths name the same existing file, whatever links or spellings lead to it.
bool IsSameExistingFile(std::string_view ansiPathA, std::string_view ansiPathB);

} // namespace kestrun::crypto
