// Opening caller-named files on POSIX: O_NONBLOCK for the open itself (a FIFO without a partner
// would otherwise block), then fstat on what was opened.
#include "regular_file_seam.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kestrun::platform {
namespace {

// More links in a row than this count as a circle, as the kernel's own limit.
constexpr int kMaxLinks = 40;

int OpenNoWait(const std::string &path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// True when the open descriptor is a regular file; it is then switched back to blocking I/O.
bool SettleRegular(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    return flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1;
}

std::string FolderOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return path.substr(0, slash + 1);
}

} // namespace

bool FileHandle::Close() {
    if (fd_ < 0) {
        return true;
    }
    return ::close(std::exchange(fd_, -1)) == 0;
}

std::optional<uint64_t> FileSize(const FileHandle &file) {
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(info.st_size);
}

long ReadSome(const FileHandle &file, char *buffer, size_t size) {
    ssize_t n;
    do {
        n = ::read(file.get(), buffer, size);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool WriteAllTo(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool PathExists(const std::string &localPath) {
    struct stat info {};
    return !localPath.empty() && ::stat(localPath.c_str(), &info) == 0;
}

bool RemoveFile(const std::string &localPath) {
    return !localPath.empty() && ::unlink(localPath.c_str()) == 0;
}

// Checked before opening too, so that a device is not even opened (opening some devices has
// effects of its own).
bool IsMissingOrRegularFile(const std::string &localPath) {
    struct stat info {};
    if (::stat(localPath.c_str(), &info) != 0) {
        return errno == ENOENT || errno == ENOTDIR;
    }
    return S_ISREG(info.st_mode);
}

FileHandle OpenRegularForReading(const std::string &localPath) {
    if (localPath.empty() || !IsMissingOrRegularFile(localPath)) {
        return {};
    }
    FileHandle file(OpenNoWait(localPath, O_RDONLY));
    if (!file || !SettleRegular(file.get())) {
        return {};
    }
    return file;
}

FileHandle OpenRegularForWriting(const std::string &localPath, bool truncate) {
    if (localPath.empty() || !IsMissingOrRegularFile(localPath)) {
        return {};
    }
    // No O_TRUNC: the file is emptied only once it is known to be a regular file.
    FileHandle file(OpenNoWait(localPath, O_WRONLY | O_CREAT, 0666));
    if (!file || !SettleRegular(file.get())) {
        return {};
    }
    if (truncate) {
        int rc;
        do {
            rc = ::ftruncate(file.get(), 0);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            return {};
        }
    }
    return file;
}

FileHandle OpenWriteTarget(const std::string &localPath) {
    if (localPath.empty()) {
        return {};
    }
    // Looked at before opening too, so that a block device or a socket is not even opened.
    struct stat before {};
    if (::stat(localPath.c_str(), &before) == 0 && !S_ISREG(before.st_mode) &&
        !S_ISCHR(before.st_mode) && !S_ISFIFO(before.st_mode)) {
        return {};
    }
    // Without a reader a FIFO does not open (ENXIO) instead of waiting for one. No O_TRUNC: only a
    // regular file is emptied, once it is known to be one.
    FileHandle file(OpenNoWait(localPath, O_WRONLY | O_CREAT, 0666));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0) {
        return {};
    }
    if (S_ISREG(info.st_mode)) {
        int rc;
        do {
            rc = ::ftruncate(file.get(), 0);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            return {};
        }
    } else if (!S_ISCHR(info.st_mode) && !S_ISFIFO(info.st_mode)) {
        return {};
    }
    // Writes wait as writes to a pipe or a terminal do.
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags == -1 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) == -1) {
        return {};
    }
    return file;
}

std::optional<std::string> ReplacementTarget(const std::string &localPath) {
    std::string path = localPath;
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                return path; // a new file (or the missing target of a link)
            }
            return std::nullopt;
        }
        if (S_ISREG(info.st_mode)) {
            return path;
        }
        if (!S_ISLNK(info.st_mode)) {
            return std::nullopt;
        }
        std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) +
                                 1);
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<size_t>(length) >= target.size()) {
            return std::nullopt; // gone or changed meanwhile
        }
        std::string next(target.data(), static_cast<size_t>(length));
        path = !next.empty() && next.front() == '/' ? next : FolderOf(path) + next;
    }
    return std::nullopt;
}

} // namespace kestrun::platform
