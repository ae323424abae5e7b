// The profile functions on POSIX files: reads take the whole file at once, writes lock the file
// and replace it through a temporary file and rename().
#include "kestrun/datastores/profile_file.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/interop/regular_file_seam.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrun::platform {
namespace {

using datastores::IniDocument;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    explicit operator bool() const { return fd_ >= 0; }
    int get() const { return fd_; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    // False when closing reports an error (data that may not have reached the file).
    bool Close() {
        if (fd_ < 0) {
            return true;
        }
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

std::string NativePath(std::u16string_view file) {
    return interop::WideToUtf8(interop::UpToZero(file));
}

bool ReadAll(int fd, std::string &bytes) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    bytes.clear();
    bytes.reserve(static_cast<size_t>(info.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.append(chunk, static_cast<size_t>(n));
    }
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::optional<IniDocument> LoadDocument(std::u16string_view file) {
    const std::string path = NativePath(file);
    if (path.empty()) {
        return std::nullopt;
    }
    const FileHandle fd = OpenRegularForReading(path);
    std::string bytes;
    if (!fd || !ReadAll(fd.get(), bytes)) {
        return std::nullopt;
    }
    return IniDocument::Parse(bytes);
}

std::string FolderOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolder(const std::string &folder) {
    const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) {
        ::fsync(fd.get()); // best effort: the rename itself is already atomic
    }
}

// Writes `bytes` to a new file beside `target` and renames it over `target`.
bool ReplaceFile(const std::string &target, std::string_view bytes, mode_t mode) {
    const std::string folder = FolderOf(target);
    const size_t slash = target.rfind('/');
    // The name is shortened so that the temporary name stays within the file-name limit.
    const std::string name =
        (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 200);
    std::string pattern = folder;
    if (pattern.back() != '/') {
        pattern += '/';
    }
    pattern += '.' + name + ".XXXXXX";
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');

    FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) {
        return false;
    }
    ::fchmod(fd.get(), mode & 07777); // keep the original's permissions where the system lets us
    bool ok = WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    if (ok && ::rename(temp.data(), target.c_str()) == 0) {
        SyncFolder(folder);
        return true;
    }
    ::unlink(temp.data());
    return false;
}

// Locks the file at `path` (creating it when missing), lets `modify` change its document and
// replaces the file with the result. False (and the file as it was) when anything fails.
template <class Modify> bool UpdateFile(const std::string &path, Modify &&modify) {
    // Writers retry when the file they locked was replaced while they waited for the lock.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        // Through a symbolic link, the file it names is replaced, not the link; a path that
        // names a device or a FIFO is never replaced.
        const std::optional<std::string> resolved = ReplacementTarget(path);
        if (!resolved) {
            return false;
        }
        const std::string &target = *resolved;
        bool created = false;
        // Opened for writing so that a file the caller may not write is refused, as a direct
        // write would be, although replacing it needs only the folder's permission. O_NONBLOCK:
        // whatever appears at the path meanwhile is never waited on (fstat below refuses it).
        FileDescriptor fd(::open(target.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd) {
            if (errno != ENOENT) {
                return false;
            }
            fd.Reset(
                ::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666));
            if (!fd) {
                if (errno == EEXIST) {
                    continue;
                }
                return false;
            }
            created = true;
        }
        const auto fail = [&] {
            if (created) {
                ::unlink(target.c_str()); // the empty file this call made for its lock
            }
            return false;
        };
        while (::flock(fd.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                return fail();
            }
        }
        struct stat held {};
        struct stat current {};
        if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) {
            return fail();
        }
        if (::stat(target.c_str(), &current) != 0 || current.st_dev != held.st_dev ||
            current.st_ino != held.st_ino) {
            continue; // another writer replaced (or removed) it meanwhile: start again
        }
        std::string bytes;
        if (!ReadAll(fd.get(), bytes)) {
            return fail();
        }
        IniDocument document = IniDocument::Parse(bytes);
        if (!modify(document) || !ReplaceFile(target, document.Serialize(), held.st_mode)) {
            return fail();
        }
        return true;
    }
    return false;
}

} // namespace

std::optional<IniDocument> LoadProfileDocument(std::u16string_view file) {
    return LoadDocument(file);
}

bool UpdateProfileDocument(std::u16string_view file,
                           const std::function<bool(IniDocument &)> &modify) {
    const std::string path = NativePath(file);
    return !path.empty() && UpdateFile(path, modify);
}

} // namespace kestrun::platform
