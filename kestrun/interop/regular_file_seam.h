// Opening files named by the caller, the same way for every export. A caller may name anything
// the file system holds: a folder, a FIFO that no process writes to, a device such as
// /dev/zero that never ends, a symbolic link. Opening never waits for another process, only
// regular files are read or written, and a file replaced through a temporary file keeps the
// symbolic links that lead to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kestrun::platform {

// An owned file descriptor.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() { Close(); }
    FileHandle(FileHandle &&other) noexcept : fd_(other.Release()) {}
    FileHandle &operator=(FileHandle &&other) noexcept {
        if (this != &other) {
            Close();
            fd_ = other.Release();
        }
        return *this;
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;

    explicit operator bool() const { return fd_ >= 0; }
    int get() const { return fd_; }
    // Gives up ownership (for a stdio stream that takes it over).
    int Release() { return std::exchange(fd_, -1); }
    // Closes the descriptor; false when the close reports an error (a full disk, say).
    bool Close();

private:
    int fd_ = -1;
};

// The size of the open file; nullopt when it cannot be read.
std::optional<uint64_t> FileSize(const FileHandle &file);

// Reads up to `size` bytes; the count read, 0 at the end, -1 on an error.
long ReadSome(const FileHandle &file, char *buffer, size_t size);

// Writes all of `bytes` to a descriptor; false on an error.
bool WriteAllTo(int fd, std::string_view bytes);

// True when the path names anything at all.
bool PathExists(const std::string &localPath);

// Removes a file; false when it could not be removed.
bool RemoveFile(const std::string &localPath);

// False when the path names something that exists and is not a regular file (through any
// symbolic links): a folder, a FIFO, a device, a socket. For components that open files
// themselves (a database engine, say) and must not be handed one of those.
bool IsMissingOrRegularFile(const std::string &localPath);

// Opens an existing regular file (through any symbolic links) for reading. Not open when the path
// names nothing, a folder, a FIFO, a device or a socket; a FIFO is never waited on.
FileHandle OpenRegularForReading(const std::string &localPath);

// Opens a file for writing in place: an existing regular file (emptied when `truncate`) or a new
// one. Anything else the path names (folder, FIFO, device, socket) is refused and left as it is;
// a FIFO is never waited on.
FileHandle OpenRegularForWriting(const std::string &localPath, bool truncate);

// Opens the target of a direct write: a regular file (created, or emptied when it exists), or a
// device or FIFO that takes writes as they come (/dev/null, a terminal, a pipe with a reader),
// which is written as it is, never emptied or replaced. A folder, a socket, a block device and a
// FIFO that nobody reads are refused and left as they are; nothing is waited on.
FileHandle OpenWriteTarget(const std::string &localPath);

#ifdef _WIN32
// True for a named pipe's path (`\\.\pipe\name`, `\\?\pipe\name`): opening one to look at it
// takes the free instance of its server, so such a path is opened once, as what it is used for.
bool IsPipePath(const std::string &localPath);
#endif

// Where a replacement of `localPath` through a temporary file and a rename must go: the path
// itself, or the final target of the symbolic links it leads through (so that the links stay),
// even a target that does not exist yet. nullopt when the path (or the final target) exists but
// is not a regular file, or the links go round in a circle.
std::optional<std::string> ReplacementTarget(const std::string &localPath);

} // namespace kestrun::platform
