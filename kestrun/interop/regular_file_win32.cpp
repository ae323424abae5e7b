// Opening caller-named files on Windows: the path (UTF-8) becomes a UTF-16 name for CreateFileW,
// what was opened must be a file on disk (not a folder, a pipe or a device such as CON; the
// target of a direct write may also be a device or a served pipe), and the
// handle is handed to the C library as a descriptor so that callers read and write it the same
// way on every platform.
#include "regular_file_seam.h"

#include "kestrun/interop/codepage.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <utility>

namespace kestrun::platform {
namespace {

std::wstring Wide(const std::string &localPath) {
    const std::u16string wide = interop::Utf8ToWide(localPath);
    return std::wstring(wide.begin(), wide.end());
}

// Attributes of what the path names; nullopt when it names nothing.
std::optional<DWORD> Attributes(const std::string &localPath) {
    const DWORD attributes = GetFileAttributesW(Wide(localPath).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return std::nullopt;
    }
    return attributes;
}

// What the path opens as. Device names (NUL, CON, COM1, also with an extension or after a folder)
// are not always reported as devices by their attributes, and a named pipe has none: the opened
// handle tells. No access is asked for, so nothing is read and nothing waits; what exists but
// cannot be opened even so (the console of a process that has none, a busy pipe) is no file.
enum class Opened { Nothing, DiskFile, Other };

Opened OpensAs(const std::string &localPath) {
    HANDLE h = CreateFileW(Wide(localPath).c_str(), 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Opened::Nothing
                                                                              : Opened::Other;
    }
    const bool disk = GetFileType(h) == FILE_TYPE_DISK;
    CloseHandle(h);
    return disk ? Opened::DiskFile : Opened::Other;
}

// Opens with CreateFileW and keeps the handle only when it is a disk file; the descriptor owns it.
FileHandle OpenDiskFile(const std::string &localPath, DWORD access, DWORD disposition, int flags) {
    if (localPath.empty() || !IsMissingOrRegularFile(localPath)) {
        return {};
    }
    HANDLE h = CreateFileW(Wide(localPath).c_str(), access,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return {};
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return {};
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return {};
    }
    return FileHandle(fd);
}

} // namespace

bool FileHandle::Close() {
    if (fd_ < 0) {
        return true;
    }
    return _close(std::exchange(fd_, -1)) == 0;
}

std::optional<uint64_t> FileSize(const FileHandle &file) {
    if (!file) {
        return std::nullopt;
    }
    const __int64 size = _filelengthi64(file.get());
    if (size < 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(size);
}

long ReadSome(const FileHandle &file, char *buffer, size_t size) {
    const unsigned chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
    return _read(file.get(), buffer, chunk);
}

bool WriteAllTo(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const unsigned chunk =
            bytes.size() > 0x40000000u ? 0x40000000u : static_cast<unsigned>(bytes.size());
        const int n = _write(fd, bytes.data(), chunk);
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool PathExists(const std::string &localPath) {
    return !localPath.empty() && Attributes(localPath).has_value();
}

bool RemoveFile(const std::string &localPath) {
    return !localPath.empty() && DeleteFileW(Wide(localPath).c_str()) != 0;
}

bool IsMissingOrRegularFile(const std::string &localPath) {
    const std::optional<DWORD> attributes = Attributes(localPath);
    if (!attributes) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            return false;
        }
    } else if ((*attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return false;
    }
    return OpensAs(localPath) != Opened::Other;
}

FileHandle OpenRegularForReading(const std::string &localPath) {
    return OpenDiskFile(localPath, GENERIC_READ, OPEN_EXISTING, _O_RDONLY);
}

FileHandle OpenRegularForWriting(const std::string &localPath, bool truncate) {
    // Opened without truncation: the file is emptied only once it is known to be a disk file.
    FileHandle file = OpenDiskFile(localPath, GENERIC_WRITE, OPEN_ALWAYS, _O_WRONLY);
    if (file && truncate && _chsize_s(file.get(), 0) != 0) {
        return {};
    }
    return file;
}

bool IsPipePath(const std::string &localPath) {
    if (localPath.size() < 9 || (localPath[0] != '\\' && localPath[0] != '/') ||
        (localPath[1] != '\\' && localPath[1] != '/') ||
        (localPath[2] != '.' && localPath[2] != '?') ||
        (localPath[3] != '\\' && localPath[3] != '/')) {
        return false;
    }
    const std::string_view rest = std::string_view(localPath).substr(4, 5);
    return (rest[0] == 'p' || rest[0] == 'P') && (rest[1] == 'i' || rest[1] == 'I') &&
           (rest[2] == 'p' || rest[2] == 'P') && (rest[3] == 'e' || rest[3] == 'E') &&
           (rest[4] == '\\' || rest[4] == '/');
}

FileHandle OpenWriteTarget(const std::string &localPath) {
    if (localPath.empty()) {
        return {};
    }
    if (!IsPipePath(localPath) && IsMissingOrRegularFile(localPath)) {
        return OpenRegularForWriting(localPath, true);
    }
    const std::optional<DWORD> attributes = Attributes(localPath);
    if (attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {};
    }
    // A device (NUL, CON) or a named pipe with a free instance of its server, written as it is.
    // A pipe whose instances are all taken, or that nobody serves, does not open: never waited on.
    HANDLE h =
        CreateFileW(Wide(localPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return {};
    }
    const DWORD type = GetFileType(h);
    if (type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE) {
        CloseHandle(h);
        return {};
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return {};
    }
    return FileHandle(fd);
}

// Symbolic links are rare on Windows and need privileges to make; the path is replaced as named.
std::optional<std::string> ReplacementTarget(const std::string &localPath) {
    if (!IsMissingOrRegularFile(localPath)) {
        return std::nullopt;
    }
    return localPath;
}

} // namespace kestrun::platform
