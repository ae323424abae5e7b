// File identity on POSIX: the device and inode pair of the files the GBK paths name.
#include "kestrun/crypto/file_access.h"

#include "kestrun/interop/codepage.h"

#include <sys/stat.h>

namespace kestrun::crypto {

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
