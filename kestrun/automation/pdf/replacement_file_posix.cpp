// The replacement file on POSIX: created exclusively, made durable with fsync and put in place
// with rename. ReplacementTarget has already followed any symbolic links to the file they lead
// to, so the links stay.
#include "kestrun/automation/pdf/replacement_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace kestrun::platform::pdf::replacement {

std::FILE *CreateNew(const std::string &localPath, bool &taken) {
    const int fd = ::open(localPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    taken = fd < 0 && errno == EEXIST;
    if (fd < 0) {
        return nullptr;
    }
    std::FILE *stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        ::close(fd);
        ::unlink(localPath.c_str());
    }
    return stream;
}

bool MakeDurable(std::FILE *stream) {
    return std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0;
}

bool MoveOver(const std::string &from, const std::string &to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace kestrun::platform::pdf::replacement
