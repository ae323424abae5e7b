#include "kestrun/imaging/file_seam.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/interop/regular_file_seam.h"

#include <utility>

namespace kestrun::imaging::files {

std::string LocalPath(std::string_view ansiPath) {
    return interop::AnsiToUtf8(ansiPath);
}

std::string LocalPath(std::u16string_view widePath) {
    return interop::WideToUtf8(widePath);
}

bool Exists(std::string_view ansiPath) {
    const std::string local = LocalPath(ansiPath);
    if (local.empty()) {
        return false;
    }
    return platform::PathExists(local);
}

std::optional<std::string> ReadAll(const std::string &localPath, size_t maxBytes) {
    if (localPath.empty()) {
        return std::nullopt;
    }
    const platform::FileHandle fd = platform::OpenRegularForReading(localPath);
    if (!fd) {
        return std::nullopt;
    }
    const std::optional<uint64_t> size = platform::FileSize(fd);
    if (!size || *size > maxBytes) {
        return std::nullopt;
    }
    std::string content(static_cast<size_t>(*size), '\0');
    size_t done = 0;
    while (done < content.size()) {
        const long n = platform::ReadSome(fd, content.data() + done, content.size() - done);
        if (n <= 0) {
            break; // the file shrank or failed: keep what was read
        }
        done += static_cast<size_t>(n);
    }
    content.resize(done);
    return content;
}

Writer::Writer(const std::string &localPath)
    : fd_(platform::OpenWriteTarget(localPath).Release()) {}

Writer::~Writer() {
    Close();
}

bool Writer::Write(std::string_view bytes) {
    if (fd_ < 0) {
        return false;
    }
    return platform::WriteAllTo(fd_, bytes);
}

bool Writer::Close() {
    if (fd_ < 0) {
        return true;
    }
    return platform::FileHandle(std::exchange(fd_, -1)).Close();
}

bool WriteAll(const std::string &localPath, std::string_view bytes) {
    Writer writer(localPath);
    if (!writer.IsOpen()) {
        return false;
    }
    const bool written = writer.Write(bytes);
    return writer.Close() && written;
}

void Remove(const std::string &localPath) {
    platform::RemoveFile(localPath);
}

} // namespace kestrun::imaging::files
