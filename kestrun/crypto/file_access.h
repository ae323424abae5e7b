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

// Opens a regular file for binary reading ("rb"), or a target for binary writing ("wb": a regular
// file, created or emptied, or a device or FIFO that takes writes, such as /dev/null or a pipe
// with a reader); null when it cannot be opened or the path names anything else (a folder, a FIFO
// without a reader, a device to read from).
UniqueFile OpenFile(std::string_view ansiPath, const char *mode);

// True when both paths name the same existing file, whatever links or spellings lead to it.
bool IsSameExistingFile(std::string_view ansiPathA, std::string_view ansiPathB);

} // namespace kestrun::crypto
