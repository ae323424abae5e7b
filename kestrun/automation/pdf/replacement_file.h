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

} // namespace kestrun::platform::pdf
