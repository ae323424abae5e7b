// File access on POSIX: GBK paths become the UTF-8 names the file system uses; identity is the
// device and inode pair.
#include "kestrun/crypto/file_access.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/interop/regular_file_seam.h"

#include <sys/stat.h>

namespace kestrun::crypto {

UniqueFile OpenFile(std::string_view ansiPath, const char *mode) {
    const std::string name = interop::AnsiToUtf8(ansiPath);
    const bool reading = mode[0] == 'r';
    platform::FileHandle file = reading ? platform::OpenRegularForReading(name)
                                        : platform::OpenRegularForWriting(name, true);
    if (!file) {
        return nullptr;
    }
    UniqueFile stream(::fdopen(file.get(), reading ? "rb" : "wb"));
    if (stream) {
        file.Release(); // the stream owns the descriptor now
    }
    return stream;
}

bool IsSameExistingFile(std::string_view ansiPathA, std::string_view ansiPathB) {
    const std::string a = interop::AnsiToUtf8(ansiPathA);
    const std::string b = interop::AnsiToUtf8(ansiPathB);
    struct stat statA {};
    struct stat statB {};
    if (a.empty() || b.empty() || ::stat(a.c_str(), &statA) != 0 ||
        ::stat(b.c_str(), &statB) != 0) {
        return false;
    }
    return statA.st_dev == statB.st_dev && statA.st_ino == statB.st_ino;
}

} // namespace kestrun::crypto
