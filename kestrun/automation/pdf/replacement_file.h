// A new file beside the one a document is saved to: it takes that file's place only once it is
// complete, so a failed save leaves an existing file as it was. Paths are local names (UTF-8);
// failures throw std::runtime_error with the reason.
#pragma once

#include <cstdio>
#include <string>

namespace kestrun::platform::pdf {

class ReplacementFile {
public:
    // Makes the new file in the folder of `localPath`. A path that names a folder or a device
    // is refused rather than replaced by a file.
    explicit ReplacementFile(const std::string &localPath);
    // Removes the new file unless it was committed.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    std::FILE *Stream() const { return stream_; }
    const std::string &Name() const { return name_; }

    // Makes the written bytes durable and puts the file in the target's place.
    void Commit();

private:
    std::string target_;
    std::string name_;
    std::FILE *stream_ = nullptr;
    bool committed_ = false;
};

// What each platform provides for it (replacement_file_posix.cpp, replacement_file_win32.cpp).
namespace replacement {
// Creates `localPath` as a new, empty file open for writing; null when it cannot. `taken` tells
// whether that was because something of that name exists already.
std::FILE *CreateNew(const std::string &localPath, bool &taken);
// Writes the stream's bytes through to the disk.
bool MakeDurable(std::FILE *stream);
// Puts the file `from` in the place of `to`, replacing it, in one step.
bool MoveOver(const std::string &from, const std::string &to);
} // namespace replacement

} // namespace kestrun::platform::pdf
