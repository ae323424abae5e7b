// The file system as the image exports use it. On Windows the ANSI and UTF-16 paths go straight to
// the file functions; here a path is turned into the UTF-8 name the Linux file system holds
// (GBK bytes through AnsiToUtf8, UTF-16 through WideToUtf8), the same way for every export, so a
// file written under a GBK name is found again under that name.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrun::imaging::files {

// The local (UTF-8) name of an ANSI or a UTF-16 path.
std::string LocalPath(std::string_view ansiPath);
std::string LocalPath(std::u16string_view widePath);

// The existence test on an ANSI path (a folder exists too).
bool Exists(std::string_view ansiPath);

// The whole content of a regular file, or nullopt when it cannot be opened or read or is larger
// than `maxBytes`.
std::optional<std::string> ReadAll(const std::string &localPath, size_t maxBytes);

// A target opened for binary writing: a regular file (created or emptied), or a device or FIFO
// that takes writes (/dev/null, a pipe with a reader); closed when the object goes. A folder, a
// FIFO without a reader or any other special file is not opened.
class Writer {
public:
    explicit Writer(const std::string &localPath);
    ~Writer();
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Writes all bytes; false when any of them could not be written.
    bool Write(std::string_view bytes);
    // Closes the file; false when the close reports an error (for example a full disk).
    bool Close();

private:
    int fd_ = -1;
};

// Writes `bytes` as the whole new content of the file; false on any failure.
bool WriteAll(const std::string &localPath, std::string_view bytes);

// Deletes a file; the outcome is not reported.
void Remove(const std::string &localPath);

} // namespace kestrun::imaging::files
