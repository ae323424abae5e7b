// Opening the cipher exports' files: GBK paths become the local names the file system uses;
// sources are regular files only, targets may also be a device or a FIFO that takes writes (the
// shared opening rules), opened as a stdio stream.
#include "kestrun/crypto/file_access.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/interop/regular_file_seam.h"

#include <stdio.h>

namespace kestrun::crypto {
namespace {

std::FILE *StreamOver(int fd, const char *mode) {
#ifdef _WIN32
    return ::_fdopen(fd, mode);
#else
    return ::fdopen(fd, mode);
#endif
}

} // namespace

UniqueFile OpenFile(std::string_view ansiPath, const char *mode) {
    const std::string name = interop::AnsiToUtf8(ansiPath);
    const bool reading = mode[0] == 'r';
    platform::FileHandle file =
        reading ? platform::OpenRegularForReading(name) : platform::OpenWriteTarget(name);
    if (!file) {
        return nullptr;
    }
    UniqueFile stream(StreamOver(file.get(), reading ? "rb" : "wb"));
    if (stream) {
        file.Release(); // the stream owns the descriptor now
    }
    return stream;
}

} // namespace kestrun::crypto
